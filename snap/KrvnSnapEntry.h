// The one sequence every snapshot entry point runs, and the support check and version.
//
// The exported functions (interface/) are thin: each names its operation and calls
// snapEntry(). The sequence logs the start on the first item, builds the context and the
// engine on its own stack, initialises, runs the operation's engine steps, logs out and logs
// the success; or, on any failure, logs out if a session is open, marks the items that did
// not reach the success status as failed, hands the final error text to the first item and
// logs the failure. Nothing thrown below it gets past it.
#pragma once

#include "KrvnCtx.h"
#include "ZYSOHost.h"

namespace ZYSnapKrvn {

// 0 on success, 1 on failure, never throws. opType is one of prepare .. reconcile.
int snapEntry(KrvnSnapOpType opType, ZYSO::SnapInfo** items, int count, ZYSO::ZYOSUtil* osUtil);

// Unprepare and isMapped are not offered by this array: a line on the first item, result 1.
// A list the count says is empty has no first item to write to.
int snapUnsupported(ZYSO::SnapInfo** items, int count, const char* jobText);

// 0 when the device is a Korvan vDisk, else 1; never throws, never writes errBuf.
int snapIsSupported(const char* device, ZYSO::ZYOSUtil* osUtil, char* errBuf, int errBufSize);

// Writes the interface version (all three or nothing) and logs it.
void snapVersion(short* major, short* minor, short* revision);

}  // namespace ZYSnapKrvn
