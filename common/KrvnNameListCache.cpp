#include "KrvnNameListCache.h"

namespace ZYKorvanCommon {

int KrvnNameListCache::lookup(const std::string& key, const std::vector<std::string>*& names) {
    auto hit = lists_.find(key);
    if (hit != lists_.end()) {
        ctx_->log(ZY_KRVN_LOGLVL_DETAIL, texts_.cached, hit->second.size(), key.c_str());
        names = &hit->second;
        return 0;
    }
    if (texts_.fetching) ctx_->log(ZY_KRVN_LOGLVL_DETAIL, texts_.fetching, key.c_str());
    std::vector<std::string> fetched;
    const int rc = fetch_(key, fetched);
    if (rc != 0) return rc;
    ctx_->log(ZY_KRVN_LOGLVL_DETAIL, texts_.fetched, fetched.size(), key.c_str());
    names = &(lists_[key] = std::move(fetched));
    return 0;
}

}  // namespace ZYKorvanCommon
