// The plug-in's log levels, shared by every box from the transport up.
#pragma once

namespace ZYKorvanCommon {

enum KrvnLogLevel : int {
    ZY_KRVN_LOGLVL_ERROR = -1,
    ZY_KRVN_LOGLVL_DETAIL = 0,
    ZY_KRVN_LOGLVL_ENTRY = 1,
    ZY_KRVN_LOGLVL_SNAP_OP_START = 2,
    ZY_KRVN_LOGLVL_SNAP_OP_END = 3,
    ZY_KRVN_LOGLVL_ARRAY_DUMP = 5,
    ZY_KRVN_LOGLVL_HEX_DUMP = 7,
    ZY_KRVN_LOGLVL_HEX_ASCII_DUMP = 8,
};

}  // namespace ZYKorvanCommon
