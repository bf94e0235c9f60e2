// The "libiscsi" iSCSI backend: discovery, login and logout with libiscsi, the initiator
// library, against real iSCSI portals (the simulator's among them). Logged-in sessions go to
// the platform's session table (ZyIscsiSessions.h), where the device tree finds them.
//
// A portal is a storage proxy's name, optionally with ":port". [Platform] iscsiPortals maps
// names to addresses ("sp1=127.0.0.1:3260,sp2=127.0.0.1:3261"), standing in for the name
// service a host would ask; a name not listed is used as given, with port 3260 by default.
#include <iscsi/iscsi.h>

#include <sstream>

#include "IscsiBackends.h"
#include "ZYPlatformInfo.h"
#include "ZyIscsiSessions.h"

namespace ZyIscsi {

namespace {

constexpr char kPortalsSetting[] = "iscsiPortals";
constexpr char kTimeoutSetting[] = "connectTimeoutSec";
constexpr long kDefaultTimeoutSec = 30;
constexpr char kDefaultPort[] = ":3260";
constexpr int kLun = 0;  // the Korvan targets show one LUN

struct Context {
    explicit Context(iscsi_context* c) : context(c) {}
    ~Context() {
        if (context) iscsi_destroy_context(context);
    }
    iscsi_context* release() {
        iscsi_context* c = context;
        context = nullptr;
        return c;
    }
    iscsi_context* context;
};

// A context for this host's initiator, with the settings every session shares.
iscsi_context* newContext(enum iscsi_session_type type) {
    iscsi_context* c = iscsi_create_context(ZyIscsiSessions::initiatorName().c_str());
    if (!c) return nullptr;
    iscsi_set_session_type(c, type);
    iscsi_set_header_digest(c, ISCSI_HEADER_DIGEST_NONE);
    iscsi_set_timeout(c, static_cast<int>(ZyPlatform::platformNumber(kTimeoutSetting, kDefaultTimeoutSec)));
    // A dropped session fails its commands, as a kernel device would, instead of logging in
    // again behind the caller's back.
    iscsi_set_noautoreconnect(c, 1);
    return c;
}

}  // namespace

std::string LibiscsiIscsi::address(const std::string& portal) {
    const std::string name = portal.substr(0, portal.find(':'));
    std::istringstream entries(ZyPlatform::platformString(kPortalsSetting, ""));
    for (std::string entry; std::getline(entries, entry, ',');) {
        const size_t eq = entry.find('=');
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t") + 1);
            return s;
        };
        if (eq != std::string::npos && trim(entry.substr(0, eq)) == name) return trim(entry.substr(eq + 1));
    }
    return portal.find(':') == std::string::npos ? portal + kDefaultPort : portal;
}

int LibiscsiIscsi::discoverPortal(const char* portal) {
    if (!portal) return -1;
    Context c(newContext(ISCSI_SESSION_DISCOVERY));
    if (!c.context || iscsi_connect_sync(c.context, address(portal).c_str()) != 0 || iscsi_login_sync(c.context) != 0)
        return -1;
    iscsi_discovery_address* found = iscsi_discovery_sync(c.context);
    const bool listed = found != nullptr;
    if (found) iscsi_free_discovery_data(c.context, found);
    iscsi_logout_sync(c.context);
    return listed ? 0 : -1;
}

bool LibiscsiIscsi::login(const char* portal, const char* targetIqn) {
    if (!portal || !targetIqn) return false;
    if (!ZyIscsiSessions::deviceOf(targetIqn).empty()) return true;  // logged in already
    Context c(newContext(ISCSI_SESSION_NORMAL));
    const std::string at = address(portal);
    if (!c.context || iscsi_set_targetname(c.context, targetIqn) != 0 ||
        iscsi_full_connect_sync(c.context, at.c_str(), kLun) != 0)
        return false;
    ZyIscsiSessions::add(portal, targetIqn, at, c.release(), kLun);
    return true;
}

bool LibiscsiIscsi::logout(const char* portal, const char* targetIqn) {
    return portal && targetIqn && ZyIscsiSessions::logout(targetIqn);
}

bool LibiscsiIscsi::getTargetDevice(const char* targetIqn, char* buffer, unsigned long long* length) {
    if (!targetIqn) return false;
    const std::string device = ZyIscsiSessions::deviceOf(targetIqn);
    // Not logged in: the query worked and the buffer stays empty.
    return device.empty() || giveDevice(device, buffer, length);
}

}  // namespace ZyIscsi
