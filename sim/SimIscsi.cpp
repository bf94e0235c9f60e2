// The model behind korvan-sim's iSCSI target: a portal per storage proxy, a target per
// exposure, the access entry of that exposure checked at login, and LUN 0 of each target the
// vDisk's image with the simulator's own INQUIRY pages.
#include "IscsiServer.h"
#include "Simulator.h"

namespace korvansim {

namespace {

constexpr uint32_t kMinBlock = 512;
constexpr uint32_t kMaxBlock = 65536;

// A vDisk's image as LUN 0 of its target.
class DiskUnit : public iscsi::LogicalUnit {
public:
    DiskUnit(std::shared_ptr<Image> image, uint32_t blockSize, DeviceIdentity id, std::string clusterSerial)
        : image_(std::move(image)),
          blockSize_(blockSize),
          id_(std::move(id)),
          clusterSerial_(std::move(clusterSerial)) {}

    uint32_t blockSize() const override { return blockSize_; }
    uint64_t blocks() const override { return image_->size() / blockSize_; }
    bool read(uint64_t offset, void* buffer, size_t length) override { return image_->read(offset, buffer, length); }
    bool write(uint64_t offset, const void* buffer, size_t length) override {
        return image_->write(offset, buffer, length);
    }
    // The pages of buildInquiry, cut to the length they declare.
    std::string inquiry(bool evpd, uint8_t page) const override {
        std::string message;
        std::string bytes = buildInquiry(id_, clusterSerial_, evpd, page, message);
        if (bytes.empty()) return {};
        const size_t length = evpd ? 4 + (size_t{static_cast<uint8_t>(bytes[2])} << 8 | static_cast<uint8_t>(bytes[3]))
                                   : 5 + size_t{static_cast<uint8_t>(bytes[4])};
        bytes.resize(std::min(length, bytes.size()));
        return bytes;
    }

private:
    std::shared_ptr<Image> image_;
    uint32_t blockSize_;
    DeviceIdentity id_;
    std::string clusterSerial_;
};

// The logical block size of a vDisk's LUN: its blockSize when that is a power of two a block
// device can have, else 512.
uint32_t lunBlockSize(int32_t blockSize) {
    const auto b = static_cast<uint32_t>(blockSize);
    return blockSize >= static_cast<int32_t>(kMinBlock) && b <= kMaxBlock && (b & (b - 1)) == 0 ? b : kMinBlock;
}

const Exposure* exposureOf(const Cluster& cluster, const std::string& proxy, const std::string& target,
                           const VDisk** disk) {
    for (const VDisk* d : cluster.disks())
        for (const auto& e : d->exposures)
            if (e.proxy == proxy && e.targetIqn == target) {
                if (disk) *disk = d;
                return &e;
            }
    return nullptr;
}

}  // namespace

// Friend of Simulator: every question takes the Simulator's lock.
class IscsiDirectory : public iscsi::TargetDirectory {
public:
    explicit IscsiDirectory(Simulator& sim) : sim_(sim) {}

    std::vector<std::string> targets(const std::string& portal) override {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        sim_.counters_.san("iscsiDiscover");
        std::vector<std::string> out;
        for (const VDisk* d : sim_.cluster_.disks())
            for (const auto& e : d->exposures)
                if (e.proxy == portal) out.push_back(e.targetIqn);
        return out;
    }

    Admission admit(const std::string& portal, const std::string& initiator, const std::string& target) override {
        std::lock_guard<std::mutex> lock(sim_.mutex_);
        sim_.counters_.san("iscsiLogin");
        Admission a;
        const VDisk* disk = nullptr;
        const Exposure* e = exposureOf(sim_.cluster_, portal, target, &disk);
        if (!e) return a.status = iscsi::login::kNotFound, a;
        if (std::find(e->initiators.begin(), e->initiators.end(), initiator) == e->initiators.end())
            return a.status = iscsi::login::kAuthorizationFailure, a;
        std::shared_ptr<Image> image = sim_.data_ ? sim_.data_->disk(disk->name) : nullptr;
        if (!image) return a.status = iscsi::login::kTargetError, a;
        a.unit = std::make_shared<DiskUnit>(image, lunBlockSize(disk->blockSize),
                                            DeviceIdentity{disk->name, disk->serial}, sim_.cluster_.serial());
        return a;
    }

private:
    Simulator& sim_;
};

bool Simulator::serveIscsi(const std::string& host, int firstPort, std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    iscsiHost_ = host;
    iscsiFirstPort_ = firstPort;
    return followProxies(message);
}

bool Simulator::followProxies(std::string& message) {
    if (iscsiHost_.empty()) return true;
    if (!iscsi_) {
        directory_ = std::make_unique<IscsiDirectory>(*this);
        iscsi_ = std::make_unique<iscsi::Server>(*directory_);
    }
    const auto listening = iscsi_->portals();
    for (const auto& [portal, address] : listening)
        if (!cluster_.proxy(portal)) iscsi_->close(portal);
    bool ok = true;
    const auto& proxies = cluster_.proxies();
    for (size_t i = 0; i < proxies.size(); ++i) {
        if (listening.count(proxies[i].name)) continue;
        int port = iscsiFirstPort_ > 0                           ? iscsiFirstPort_ + static_cast<int>(i)
                   : iscsiFirstPort_ < 0 && proxies[i].portGiven ? proxies[i].port
                                                                 : 0;
        std::string why;
        if (iscsi_->listen(proxies[i].name, iscsiHost_, port, why) < 0 && ok) {
            ok = false;
            message = "storage proxy " + proxies[i].name + ": " + why;
        }
    }
    return ok;
}

std::map<std::string, std::string> Simulator::iscsiPortals() const {
    return iscsi_ ? iscsi_->portals() : std::map<std::string, std::string>{};
}

void Simulator::modelChanged(const std::vector<std::string>* touched) {
    std::string message;
    if (data_ && !(touched ? data_->followDisks(cluster_, *touched, message) : data_->follow(cluster_, message)))
        dataError_ = message;
    if (iscsi_)
        iscsi_->endSessions([this](const iscsi::Server::Session& s) {
            return !s.target.empty() && !exposureOf(cluster_, s.portal, s.target, nullptr);
        });
}

}  // namespace korvansim
