#include "HostTexts.h"

#include <cstddef>

namespace KrvnHost {

namespace {

struct StatusName {
    int value;
    const char* name;
};

const StatusName kSnapStatusNames[] = {
    {kSnapNew, "new"},
    {kSnapPrepared, "prepared"},
    {kSnapPrepareFailed, "preparation failed"},
    {kSnapCreated, "snapshot created"},
    {kSnapCreateFailed, "creation failed"},
    {kSnapNotMapped, "not mapped"},
    {kSnapMapped, "mapped"},
    {kSnapUnmapped, "unmapped"},
    {kSnapUnmapFailed, "unmap failed"},
    {kSnapDeleted, "deleted"},
    {kSnapDeleteFailed, "deletion failed"},
    {kSnapReverted, "reverted"},
    {kSnapRevertFailed, "revert failed"},
    {kSnapGoneFromArray, "gone from the array"},
};

const StatusName kLunStatusNames[] = {
    {kLunNew, "new"},
    {kLunCreated, "created"},
    {kLunCreateFailed, "creation failed"},
    {kLunResized, "resized"},
    {kLunResizeFailed, "resize failed"},
    {kLunMapped, "mapped"},
    {kLunMapFailed, "map failed"},
    {kLunUnmapped, "unmapped"},
    {kLunUnmapFailed, "unmap failed"},
    {kLunDeleted, "deleted"},
    {kLunDeleteFailed, "deletion failed"},
};

template <std::size_t N>
const char* lookup(const StatusName (&table)[N], int status) {
    for (const auto& entry : table)
        if (entry.value == status) return entry.name;
    return "unknown";
}

}  // namespace

const char* snapStatusName(int status) { return lookup(kSnapStatusNames, status); }
const char* lunStatusName(int status) { return lookup(kLunStatusNames, status); }

}  // namespace KrvnHost
