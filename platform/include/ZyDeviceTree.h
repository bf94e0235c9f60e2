// ZyDeviceTree: host block devices and their SCSI interface.
//
// Backends ([Platform] deviceBackend): "sg" sends the CDB with the Linux SG_IO ioctl on the
// opened path; "fixture" answers from page files under deviceFixtureDir; "sim" asks the
// cluster simulator at simulatorUrl; "libiscsi" sends it through the process's libiscsi
// session that shows the device (ZyIscsiSessions.h). Handles are reference counted (SP<ZyDevice>).
#pragma once

#include <memory>
#include <string>

#include "CWqError.h"

template <class T>
using SP = std::shared_ptr<T>;

// Runs one data-in CDB. Returns -1 on failure (the error says why), anything else on success.
class ZyDeviceScsiIface {
public:
    virtual ~ZyDeviceScsiIface() = default;
    virtual int SendCdb(const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
                        int timeoutSec, CWqError* error) = 0;
};

class ZyDevice {
public:
    virtual ~ZyDevice() = default;
    virtual std::string GetName() const = 0;
    // The interface of that name ("ZyDeviceScsiIface"), or null when the device has none.
    // The device keeps ownership.
    virtual void* GetInterface(const char* name) = 0;
};

class ZyDeviceTree {
public:
    // Empty when there is no such device; the error then says why.
    static SP<ZyDevice> getDevice(const char* path, CWqError* error);
};

#define ZY_DEVICE_SCSI_IFACE "ZyDeviceScsiIface"
