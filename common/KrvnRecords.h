// Plain value records shared by the snapshot and provisioning engines.
//
// No record holds a pointer or a resource: each copies member-wise and reset() restores the
// constructor's defaults. Only dump()/getPrintString() are part of the log format, and they
// never print a password or a session id in clear.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZYKorvanCommon {

// Settings of the array, read from the host's snapshot configuration.
struct KrvnArrayConfigs {
    int32_t restLogging = 1;     // REST diagnostic logging, handed to the transport
    int32_t maxRetryCount = 6;   // retries of snapshot and iSCSI operations
    int32_t sleepInterval = 10;  // seconds between retries
    int32_t serverPort = 8080;   // REST port
    bool useHttps = false;
    std::vector<std::string> storageProxyList;  // the first entry is the one used

    void reset() { *this = KrvnArrayConfigs(); }
    std::string getPrintString() const;
};

// Connection details of the array (cluster) being worked on.
struct KrvnArrayDetails {
    int32_t arrayNumber = 0;      // the host's number of the array; 0 = unset
    std::string arrayId;          // name in the host's Array Management (the cluster name)
    std::string scsiArrayId;      // cluster serial from VPD page 0x83
    std::string controlHostName;  // host of the REST service
    std::string storageProxy;     // storage proxy used for map operations
    std::string userName;
    std::string userPswd;   // clear text, in memory only
    std::string sessionId;  // from the login
    std::string clusterUniqueId;
    KrvnArrayConfigs arrayConfigs;

    // Keeps storageProxy: it comes from the configuration, not from the array entry.
    void reset();
    void dump(std::string& out) const;
};

// A vDisk as the cluster reports it.
struct KrvnDisk {
    int16_t replicationFactor = 0;
    int32_t blockSize = 0;
    int64_t scsiSerialNumber = 0;
    double size = 0;  // provisioning only, in sizeUnit
    bool clusteredFileSystem = false;
    bool deduplication = false;
    bool scsi3pr = false;
    bool encryption = false;
    bool compressed = false;
    bool isClone = false;
    bool frozen = false;
    std::string replicationPolicy;
    std::string vDiskName;
    std::string createdBy;
    std::string diskType;
    std::string tenant;
    std::string status;
    std::string freezeReason;
    std::string sizeUnit;
    std::string description;
    std::vector<std::string> targetLocations;

    void reset() { *this = KrvnDisk(); }
};

// One LUN row of a storage proxy's target table.
struct KrvnSCSITarget {
    std::string lunId;
    std::string targetIqn;
    int64_t scsiSerialNumber = 0;
    bool online = false;

    void reset() { *this = KrvnSCSITarget(); }
};

struct KrvnInitiatorInfo {
    std::string ip;
    std::string name;

    void reset() { *this = KrvnInitiatorInfo(); }
};

// One entry of a vDisk's access list: the storage proxy ("host") and the initiators it serves.
struct KrvnAccessInfo {
    std::string host;
    std::vector<KrvnInitiatorInfo> initiators;

    void reset() { *this = KrvnAccessInfo(); }
};

}  // namespace ZYKorvanCommon
