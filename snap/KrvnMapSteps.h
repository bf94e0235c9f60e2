// Pieces the map and unmap steps share (KrvnMap.cpp, KrvnUnmap.cpp); not for other families.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KrvnCtx.h"
#include "KrvnNameListCache.h"

namespace ZYSnapKrvn {

// The context's map context, created on first use.
KrvnMapCtx* mapContextOf(KrvnCtx* ctx);

// True when `name` can be the object's clone: it contains mountCloneName (the clone name or
// its prefix) and, for a test mount, is exactly that name.
bool isCloneOf(KrvnSnapObject* obj, const std::string& name);

}  // namespace ZYSnapKrvn
