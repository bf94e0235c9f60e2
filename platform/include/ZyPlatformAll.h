// Everything the plug-in uses of the platform.
#pragma once

#include "CWqError.h"
#include "CWqLibrary.h"
#include "CWqString.h"
#include "EvDebug.h"
#include "WqSleep.h"
#include "ZYLibCurl.h"
#include "ZYPassword.h"
#include "ZYPlatformInfo.h"
#include "ZyDeviceTree.h"
#include "ZyException.h"
