// Pieces the map and unmap steps share (KrvnMap.cpp, KrvnUnmap.cpp); not for other families.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KrvnCtx.h"

namespace ZYSnapKrvn {

// The context's map context, created on first use.
KrvnMapCtx* mapContextOf(KrvnCtx* ctx);

// True when `name` can be the object's clone: it contains mountCloneName (the clone name or
// its prefix) and, for a test mount, is exactly that name.
bool isCloneOf(KrvnSnapObject* obj, const std::string& name);

// Name lists per key (snapshots per vDisk, clones per snapshot), fetched from the cluster at
// most once per step. A failed fetch is not cached and leaves its error state in the context.
class KrvnNameListCache {
public:
    using Fetch = std::function<int(const std::string& key, std::vector<std::string>& names)>;
    // cachedText and fetchedText take (count, key).
    KrvnNameListCache(KrvnCtx* ctx, Fetch fetch, const char* cachedText, const char* fetchedText)
        : ctx_(ctx), fetch_(std::move(fetch)), cachedText_(cachedText), fetchedText_(fetchedText) {}

    // 0 with `names` pointing into the cache, or the code of the failed fetch.
    int lookup(const std::string& key, const std::vector<std::string>*& names);

private:
    KrvnCtx* ctx_;
    Fetch fetch_;
    const char* cachedText_;
    const char* fetchedText_;
    std::map<std::string, std::vector<std::string>> lists_;
};

}  // namespace ZYSnapKrvn
