#include "SimData.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "SimNotation.h"

namespace korvansim {

namespace {

constexpr char kDiskPrefix[] = "disk-";
constexpr char kSnapshotPrefix[] = "snap-";
constexpr char kSuffix[] = ".img";
constexpr char kTemporaryTemplate[] = "korvan-sim-data-XXXXXX";
constexpr size_t kCopyChunk = 1u << 20;

bool isImageFile(const std::string& name) {
    auto starts = [&](const char* p) { return name.rfind(p, 0) == 0; };
    size_t n = std::strlen(kSuffix);
    return (starts(kDiskPrefix) || starts(kSnapshotPrefix)) && name.size() > n &&
           name.compare(name.size() - n, n, kSuffix) == 0;
}

void removeImageFiles(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d))
        if (isImageFile(e->d_name)) ::unlink((dir + "/" + e->d_name).c_str());
    closedir(d);
}

// Copies [offset, offset + length) between the same offsets of two files.
bool copyRange(int from, int to, off_t offset, off_t length) {
    off_t in = offset, out = offset, end = offset + length;
    while (in < end) {
        ssize_t n = copy_file_range(from, &in, to, &out, static_cast<size_t>(end - in), 0);
        if (n > 0) continue;
        if (n == 0) return false;
        if (errno == EINTR) continue;
        break;  // not offered between these files: plain reads and writes below
    }
    std::vector<char> buffer(kCopyChunk);
    while (in < end) {
        ssize_t n = pread(from, buffer.data(), std::min<off_t>(end - in, kCopyChunk), in);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || pwrite(to, buffer.data(), static_cast<size_t>(n), in) != n) return false;
        in += n;
    }
    return true;
}

}  // namespace

Image::~Image() { ::close(fd_); }

bool Image::read(uint64_t offset, void* buffer, size_t length) const {
    if (offset > size_ || length > size_ - offset) return false;
    auto* at = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t n = pread(fd_, at, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n, offset += static_cast<uint64_t>(n), length -= static_cast<size_t>(n);
    }
    return true;
}

bool Image::write(uint64_t offset, const void* buffer, size_t length) {
    if (offset > size_ || length > size_ - offset) return false;
    const auto* at = static_cast<const char*>(buffer);
    while (length > 0) {
        ssize_t n = pwrite(fd_, at, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n, offset += static_cast<uint64_t>(n), length -= static_cast<size_t>(n);
    }
    return true;
}

bool DataStore::copyExtents(int from, int to, uint64_t size) {
    struct stat info;
    if (fstat(from, &info) != 0 || ftruncate(to, 0) != 0 || ftruncate(to, static_cast<off_t>(size)) != 0) return false;
    const off_t end = std::min<off_t>(info.st_size, static_cast<off_t>(size));
    for (off_t at = 0; at < end;) {
        off_t data = lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) break;  // only a hole is left
        if (data < 0) data = at;                // no extent map: copy the rest whole
        if (data >= end) break;
        off_t hole = lseek(from, data, SEEK_HOLE);
        hole = hole < 0 ? end : std::min(hole, end);
        if (!copyRange(from, to, data, hole - data)) return false;
        at = hole;
    }
    return true;
}

bool DataStore::open(const std::string& dir, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + kTemporaryTemplate;
        if (!mkdtemp(pattern.data())) {
            message = "cannot create a data folder [" + pattern + "]: " + std::strerror(errno);
            return false;
        }
        dir_ = pattern;
        temporary_ = true;
        return true;
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        message = "cannot create the data folder [" + dir + "]: " + std::strerror(errno);
        return false;
    }
    dir_ = dir;
    removeImageFiles(dir_);
    return true;
}

DataStore::~DataStore() {
    clear();
    if (temporary_) ::rmdir(dir_.c_str());
}

std::string DataStore::path(const char* prefix, const std::string& name) const {
    // "/" is encoded: every image stays in the folder.
    return dir_ + "/" + prefix + percentEncode(name) + kSuffix;
}

std::shared_ptr<Image> DataStore::create(const std::string& file, uint64_t size, const Image* copyOf,
                                         std::string& message) {
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool made = fd >= 0 && (copyOf ? copyExtents(copyOf->fd_, fd, size) : ftruncate(fd, static_cast<off_t>(size)) == 0);
    if (made) return std::make_shared<Image>(fd, size);
    if (message.empty()) message = "cannot make the image [" + file + "]: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    ::unlink(file.c_str());
    return nullptr;
}

void DataStore::drop(Images& images, Images::iterator it, const char* prefix) {
    ::unlink(path(prefix, it->first).c_str());
    images.erase(it);
}

void DataStore::dropSnapshot(Images::iterator it) {
    auto owner = snapshotOwner_.find(it->first);
    if (owner != snapshotOwner_.end()) {
        auto of = snapshotsOf_.find(owner->second);
        if (of != snapshotsOf_.end() && of->second.erase(it->first) && of->second.empty()) snapshotsOf_.erase(of);
        snapshotOwner_.erase(owner);
    }
    drop(snapshots_, it, kSnapshotPrefix);
}

void DataStore::followDisk(const VDisk& d, std::string& message) {
    auto it = disks_.find(d.name);
    if (it == disks_.end()) {
        auto base = d.isClone ? snapshots_.find(d.cloneOf) : snapshots_.end();
        auto image = create(path(kDiskPrefix, d.name), d.sizeBytes,
                            base == snapshots_.end() ? nullptr : base->second.get(), message);
        if (!image) return;
        image->reverts_ = d.revertCount;
        disks_[d.name] = image;
        return;
    }
    Image& image = *it->second;
    if (image.size_ < d.sizeBytes) {
        if (ftruncate(image.fd_, static_cast<off_t>(d.sizeBytes)) == 0)
            image.size_ = d.sizeBytes;
        else if (message.empty())
            message = "cannot grow the image of [" + d.name + "]: " + std::strerror(errno);
    }
    if (image.reverts_ != d.revertCount) {
        image.reverts_ = d.revertCount;
        auto snap = snapshots_.find(d.revertedTo);
        if (snap != snapshots_.end() && !copyExtents(snap->second->fd_, image.fd_, image.size_) && message.empty())
            message = "cannot revert [" + d.name + "] to [" + d.revertedTo + "]: " + std::strerror(errno);
    }
}

void DataStore::addSnapshots(const VDisk& d, std::string& message) {
    auto source = disks_.find(d.name);
    if (source == disks_.end()) return;
    for (const Snapshot& s : d.snapshots) {
        if (snapshots_.count(s.name)) continue;
        auto image = create(path(kSnapshotPrefix, s.name), source->second->size(), source->second.get(), message);
        if (!image) continue;
        snapshots_[s.name] = image;
        snapshotOwner_[s.name] = d.name;
        snapshotsOf_[d.name].insert(s.name);
    }
}

bool DataStore::follow(const Cluster& cluster, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    message.clear();
    for (auto it = disks_.begin(); it != disks_.end();) {
        auto next = std::next(it);
        if (!cluster.find(it->first)) drop(disks_, it, kDiskPrefix);
        it = next;
    }
    for (auto it = snapshots_.begin(); it != snapshots_.end();) {
        auto next = std::next(it);
        if (!cluster.snapshotOwner(it->first)) dropSnapshot(it);
        it = next;
    }
    // Every vDisk first, then the snapshots: a clone is made from its snapshot's image as the
    // folder had it before this change.
    cluster.forEachDisk([&](const VDisk& d) { followDisk(d, message); });
    cluster.forEachDisk([&](const VDisk& d) { addSnapshots(d, message); });
    return message.empty();
}

bool DataStore::followDisks(const Cluster& cluster, const std::vector<std::string>& names, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    message.clear();
    for (const std::string& name : names) {
        const VDisk* d = cluster.find(name);
        auto own = snapshotsOf_.find(name);
        if (own != snapshotsOf_.end()) {
            // Copied: dropping a snapshot's image edits this set.
            for (const std::string& snap : std::set<std::string>(own->second)) {
                const VDisk* owner = cluster.snapshotOwner(snap);
                auto it = snapshots_.find(snap);
                if ((!owner || owner->name != name) && it != snapshots_.end()) dropSnapshot(it);
            }
        }
        if (!d) {
            auto it = disks_.find(name);
            if (it != disks_.end()) drop(disks_, it, kDiskPrefix);
            continue;
        }
        followDisk(*d, message);
        addSnapshots(*d, message);
    }
    return message.empty();
}

void DataStore::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    while (!disks_.empty()) drop(disks_, disks_.begin(), kDiskPrefix);
    while (!snapshots_.empty()) dropSnapshot(snapshots_.begin());
}

std::shared_ptr<Image> DataStore::disk(const std::string& vdisk) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = disks_.find(vdisk);
    return it == disks_.end() ? nullptr : it->second;
}

std::shared_ptr<Image> DataStore::snapshot(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = snapshots_.find(name);
    return it == snapshots_.end() ? nullptr : it->second;
}

}  // namespace korvansim
