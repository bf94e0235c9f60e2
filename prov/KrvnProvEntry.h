// The one sequence every provisioning entry point runs, and the status reporting around it.
//
// The exported functions are thin: each names its operation code and runs provEntry(). The
// sequence builds the context and the engine on its own stack, validates and reads the items,
// logs in, runs the engine step of the operation's table row, logs out, and on any failure
// marks every item not at the success status with the failure status and hands the final
// error text to the first item. Nothing thrown below it gets past it.
#pragma once

#include <map>

#include "ZYSOHost.h"

namespace ZYProvKorvan {

class KrvnProvUtils;

struct KrvnProvOperation {
    int opType;
    int (KrvnProvUtils::*step)();
    short successStatus;
    short failureStatus;
};

// The row of an operation code; null for a code with no engine step (resolve) or an unknown one.
const KrvnProvOperation* findProvOperation(int opType);

// 0 on success, 1 on failure, never throws.
int provEntry(int opType, ZYSO::LUNInfo** luns, short count, ZYSO::ZYOSUtil* osUtil);

// Items not at the success status get the failure status; nothing for a null array or a
// count below 1. With statusesSet (the last status this call wrote to each item), an item at
// the success status keeps it only when this call wrote it.
void setProvStatus(short successStatus, short failureStatus, ZYSO::LUNInfo** luns, short count,
                   const std::map<const ZYSO::LUNInfo*, short>* statusesSet = nullptr);

// Writes the interface version (all three or nothing) and logs it.
void provVersion(short* major, short* minor, short* revision);

}  // namespace ZYProvKorvan
