// The host ABI: the objects the host snapshot framework hands to the plug-in.
//
// The host owns every object here; the plug-in reaches them only through these virtual calls,
// in this slot order, and never creates, copies or deletes one (hence the protected,
// non-virtual destructors). Keep the signatures exactly: korvan-host and any other host are
// built against this header.
#pragma once

#include <string>
#include <vector>

namespace ZYSO {
typedef int SnapStatus;  // values of the snapshot status table

class ArrayInfo {
public:
    virtual int getArrayNumber(int* number) = 0;
    virtual int getArrayName(std::string* name) = 0;
    virtual int getControlHost(std::string* host) = 0;
    virtual int getUserName(std::string* user) = 0;
    virtual int getEncryptedPassword(std::string* password) = 0;

protected:
    ~ArrayInfo() = default;
};

class SnapInfo {
public:
    virtual void setSnapName(const char* name) = 0;
    virtual int setArrayInfo(const char* details) = 0;
    virtual SnapStatus getStatus() = 0;
    virtual void setStatus(SnapStatus status) = 0;
    virtual void setMappedDevice(const char* device) = 0;
    virtual int setMetadata(int key, const char* value) = 0;
    virtual void setLastError(int code, const char* message) = 0;
    virtual void log(int level, const char* prefix, const char* format, ...) = 0;
    virtual int getCloneNumber() = 0;
    virtual int getConfigInt(const char* name, int* value) = 0;
    virtual int getArrayNumber() = 0;
    virtual int getConfigListSize(const char* name, int* count) = 0;
    virtual int getConfigListItem(const char* name, int index, char* buffer, int* length) = 0;
    virtual bool isFlagSet(int flag) = 0;
    virtual void decryptPassword(std::string stored, std::string* clear) = 0;
    virtual long long getSnapId() = 0;
    virtual bool getArrayInfo(ArrayInfo** info) = 0;  // false = success
    virtual void releaseArrayInfo(ArrayInfo** info) = 0;
    virtual bool getSourceDevice(std::string* device) = 0;  // true = success
    virtual void getMappedDevice(std::string* device) = 0;
    virtual bool getMetadata(int key, std::string* value) = 0;  // true = found
    virtual void generateSnapUUID(const char* separator, long long* n, std::string* uuid) = 0;

protected:
    ~SnapInfo() = default;
};

class LUNInfo {
public:
    virtual int getDiskName(char* buffer, unsigned short* length) = 0;
    virtual int getClusterName(char* buffer, unsigned short* length) = 0;
    virtual int getClusterControlHost(char* buffer, unsigned short* length) = 0;
    virtual int getClusterUserName(char* buffer, unsigned short* length) = 0;
    virtual int getClusterPassword(char* buffer, unsigned short* length) = 0;
    virtual int getSize(long* bytes) = 0;
    virtual int getBlockSize(long* bytes) = 0;
    virtual void getStatus(short* status) = 0;
    virtual void setStatus(short status) = 0;
    virtual void setLastError(int code, const char* message) = 0;
    virtual void setDeviceName(const std::string& name) = 0;
    virtual void setLunName(const std::string& name) = 0;
    virtual void getDeviceName(std::string* device) = 0;
    virtual int getInitiatorInfo(char* buffer, unsigned short* length) = 0;
    virtual long getLunId() = 0;
    virtual void getDescription(std::string* text) = 0;
    virtual int getConfigValue(const std::string& name, std::string* value) = 0;
    virtual int getSettingInt(const std::string& name, int* value) = 0;
    virtual int getSettingBool(const std::string& name, bool* value) = 0;

protected:
    ~LUNInfo() = default;
};

class ZYOSUtil {
public:
    virtual int refreshBus(const char* host, const char** initiators, const char** devices) = 0;
    virtual int getArrayListByVendor(const char* vendor, int separator, int size, char* buffer) = 0;
    virtual int getArrayDetailsByName(const char* name, char* buffer, unsigned short* size) = 0;
    virtual long long getJobId() = 0;
    virtual bool getHostSCSIInterfaces(const char* host, const char* array, std::vector<std::string>& wwpns,
                                       std::vector<std::string>& iqns) = 0;
    virtual bool getDeviceList(const char* host, const char* filter, std::vector<std::string>& devices) = 0;

protected:
    ~ZYOSUtil() = default;
};
}  // namespace ZYSO
