// KrvnNameListCache: name lists per key (snapshots per vDisk, clones per snapshot) fetched from
// the cluster at most once per step, however many items of the step share the key.
//
// One per step, on the step's thread; the lists are the cluster's answers as of this step and
// are not updated when the step changes the cluster. A failed fetch is not kept and leaves
// its error state in the context.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KrvnCommonCtx.h"

namespace ZYKorvanCommon {

class KrvnNameListCache {
public:
    using Fetch = std::function<int(const std::string& key, std::vector<std::string>& names)>;
    // The log lines of a lookup: cachedText and fetchedText take (count, key); fetchingText,
    // when given, takes (key) and is logged before a fetch.
    struct Texts {
        const char* cached;
        const char* fetched;
        const char* fetching = nullptr;
    };
    KrvnNameListCache(KrvnCommonCtx* ctx, Fetch fetch, const Texts& texts)
        : ctx_(ctx), fetch_(std::move(fetch)), texts_(texts) {}

    // 0 with `names` pointing into the cache, or the code of the failed fetch.
    int lookup(const std::string& key, const std::vector<std::string>*& names);

private:
    KrvnCommonCtx* ctx_;
    Fetch fetch_;
    Texts texts_;
    std::map<std::string, std::vector<std::string>> lists_;
};

}  // namespace ZYKorvanCommon
