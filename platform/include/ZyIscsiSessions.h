// The iSCSI sessions this process holds through libiscsi, and the block devices they show.
//
// The iSCSI module's "libiscsi" backend ([Platform] iscsiBackend=libiscsi) logs in and hands
// each session here; the device tree's "libiscsi" backend ([Platform] deviceBackend=libiscsi)
// and the block helpers below reach a device through its session. The module and the device
// tree are separate libraries in one process, so the table lives in libZyPlatform and lasts
// as long as the process: unlike kernel sessions, another process sees none of them.
//
// A session shows LUN 0 of its target as a kernel-style path ("/dev/sdb", "/dev/sdc", ...),
// never given twice in one process. Thread-safe: the table is locked and each session runs
// one command at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct iscsi_context;

namespace ZyIscsiSessions {

struct Session {
    std::string portal;   // as the caller named it ("sp1")
    std::string target;   // the target IQN
    std::string address;  // "ip:port" it was reached at
    std::string device;   // the path it shows as
    int lun = 0;
};

// The initiator name this host logs in with: [Platform] initiatorName, else
// "iqn.1994-05.com.redhat:" and the host name (what the simulator's default seed gives a host).
std::string initiatorName();

// Takes a logged-in libiscsi context (owned from here on) and returns the device path. When
// another thread's session to the target got in first, this one is logged out and the first
// one's device returned.
std::string add(const std::string& portal, const std::string& target, const std::string& address,
                iscsi_context* context, int lun);
// Logs the target's session out and forgets it; false when there is none.
bool logout(const std::string& target);
// The device of the target's session; empty when not logged in.
std::string deviceOf(const std::string& target);
// The session behind a device path; false when there is none.
bool find(const std::string& device, Session& out);
std::vector<Session> list();

// One data-in CDB through the device's session into `buffer` (zero-filled first): the bytes
// received, or -1 with `error` set.
int command(const std::string& device, const unsigned char* cdb, int cdbLength, unsigned char* buffer, int bufferLength,
            std::string& error);

// Block I/O for tests and demos that check a device's contents. The block size is the LUN's
// (READ CAPACITY 16); buffers hold count * blockSize bytes. False with `error` set on failure.
bool capacity(const std::string& device, uint64_t& blocks, uint32_t& blockSize, std::string& error);
bool readBlocks(const std::string& device, uint64_t lba, uint32_t count, void* buffer, std::string& error);
bool writeBlocks(const std::string& device, uint64_t lba, uint32_t count, const void* buffer, std::string& error);

}  // namespace ZyIscsiSessions
