// The contents of the cluster's vDisks and snapshots: one sparse file per image in a data
// folder, sized as its disk.
//
// The model (Cluster) says which images exist; follow() makes the folder match it after every
// change: a new vDisk gets an empty image, a new snapshot a copy of its vDisk at that moment,
// a new clone a copy of its snapshot, a grown vDisk a longer file, a revert (a new revert
// count) its snapshot's contents, and images the model no longer has go. Copies take only the
// written extents (SEEK_DATA/SEEK_HOLE), so a large, mostly empty disk copies in a moment.
//
// Thread-safe. An Image is shared: a session's reads and writes run on it without the store's
// lock, and an image removed from the store stays usable (unlinked) until its last user lets go.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SimModel.h"

namespace korvansim {

class Image {
public:
    Image(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    uint64_t size() const { return size_; }
    // Whole transfers inside the image; false on an I/O error or a range past its end.
    bool read(uint64_t offset, void* buffer, size_t length) const;
    bool write(uint64_t offset, const void* buffer, size_t length);

private:
    friend class DataStore;
    int fd_;
    std::atomic<uint64_t> size_;
    uint64_t reverts_ = 0;  // the vDisk's revert count the contents follow
};

class DataStore {
public:
    // Images under `dir`, which is created when missing; an empty `dir` is a fresh temporary
    // folder, removed with the store. Image files already there are removed.
    bool open(const std::string& dir, std::string& message);
    ~DataStore();

    const std::string& dir() const { return dir_; }
    // Brings the images in line with the model (see the top of this file); false with the first
    // failure's reason when an image could not be made (that image is then missing).
    bool follow(const Cluster& cluster, std::string& message);
    // The same for the named vDisks only (the ones a request changed): their images and those
    // of their snapshots.
    bool followDisks(const Cluster& cluster, const std::vector<std::string>& names, std::string& message);
    // Every image goes (a new seed starts from empty contents).
    void clear();

    // The image of a vDisk, or null.
    std::shared_ptr<Image> disk(const std::string& vdisk) const;
    std::shared_ptr<Image> snapshot(const std::string& name) const;

    // A sparse copy of `from` into `to` (truncated first) with `to` ending at `size` bytes.
    static bool copyExtents(int from, int to, uint64_t size);

private:
    using Images = std::map<std::string, std::shared_ptr<Image>>;
    std::shared_ptr<Image> create(const std::string& file, uint64_t size, const Image* copyOf, std::string& message);
    void drop(Images& images, Images::iterator it, const char* prefix);
    void dropSnapshot(Images::iterator it);
    // One vDisk of the model: its image made, grown or reverted as the model says.
    void followDisk(const VDisk& d, std::string& message);
    // Images of the vDisk's snapshots that the model has and the folder lacks.
    void addSnapshots(const VDisk& d, std::string& message);
    std::string path(const char* prefix, const std::string& name) const;

    mutable std::mutex mutex_;
    std::string dir_;
    bool temporary_ = false;
    Images disks_;
    Images snapshots_;
    std::map<std::string, std::string> snapshotOwner_;          // snapshot image -> vDisk
    std::map<std::string, std::set<std::string>> snapshotsOf_;  // vDisk -> its snapshot images
};

}  // namespace korvansim
