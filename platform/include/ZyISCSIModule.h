// The iSCSI module interface: libZyISCSI.so exports extern "C" GetInstance() returning a new
// object of this class, which the plug-in deletes. Backend by [Platform] iscsiBackend:
// "iscsiadm" (open-iscsi), "sim" (the cluster simulator at simulatorUrl) or "libiscsi" (the
// libiscsi initiator library, sessions in ZyIscsiSessions.h).
#pragma once

class ZyISCSIModule {
public:
    virtual int discoverPortal(const char* portal) = 0;
    virtual bool login(const char* portal, const char* targetIqn) = 0;
    virtual bool logout(const char* portal, const char* targetIqn) = 0;
    virtual bool getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) = 0;
    virtual void setJobId(long long* jobId) = 0;
    virtual ~ZyISCSIModule() {}  // after the five operations; the plug-in deletes it
};

extern "C" ZyISCSIModule* GetInstance();
typedef ZyISCSIModule* (*ZyISCSIGetInstanceFn)();
