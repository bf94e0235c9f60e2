#include "HostTexts.h"

#include <cstddef>

namespace KrvnHost {

namespace {

struct StatusName {
    int value;
    const char* name;
};

const StatusName kSnapStatusNames[] = {
    {0, "new"},
    {1, "prepared"},
    {2, "preparation failed"},
    {5, "snapshot created"},
    {6, "creation failed"},
    {11, "not mapped"},
    {12, "mapped"},
    {14, "unmapped"},
    {15, "unmap failed"},
    {20, "deleted"},
    {21, "deletion failed"},
    {22, "reverted"},
    {23, "revert failed"},
    {24, "gone from the array"},
};

const StatusName kLunStatusNames[] = {
    {-1, "new"},
    {0, "created"},
    {1, "creation failed"},
    {2, "resized"},
    {3, "resize failed"},
    {9, "mapped"},
    {11, "map failed"},
    {14, "unmapped"},
    {15, "unmap failed"},
    {20, "deleted"},
    {21, "deletion failed"},
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
