// korvan-host and korvan-sim as a user runs them: exit statuses, what goes to which stream.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "HostJob.h"
#include "SimHarness.h"

namespace {

struct Ran {
    int status = -1;
    std::string out, err;
};

// One shell command line, its standard error into a file beside the test's state.
Ran run(const std::string& dir, const std::string& command) {
    Ran r;
    const std::string errFile = dir + "/stderr.txt";
    FILE* pipe = ::popen((command + " 2>" + errFile).c_str(), "r");
    char buffer[4096];
    for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
    int raw = pipe ? ::pclose(pipe) : -1;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::stringstream err;
    err << std::ifstream(errFile).rdbuf();
    r.err = err.str();
    return r;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/krvn-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    // With a settings file that is not there.
    Ran host(const std::string& args) {
        return run(dir, "ZY_SETTINGS_FILE=" + dir + "/absent.ini " KRVN_BUILD_BIN_DIR "/korvan-host --state " + dir +
                            "/state.json " + args);
    }
    std::string dir;
};

TEST_F(CommandLine, JsonErrorsAreJsonOnStandardOutputWarningsGoToStandardErrorAndStatusReadsUnderTheLock) {
    // Refusals before and after the plug-in is loaded, and a state file that is not one.
    const struct {
        std::string args;
        int status;
        std::string error;
    } rows[] = {
        {"--json lun create d --size-gb 0", 2, "--size-gb 0 is not a size: give a whole number above 0"},
        {"--json lun resize 1 --size-bytes 99999999999999999999", 2, "--size-bytes 99999999999999999999 is too large"},
        {"--json forget 7", 1, "no snapshot item 7"},
        {"lun create --json", 2, "name is required"},
    };
    for (const auto& row : rows) {
        Ran r = host(row.args);
        EXPECT_EQ(r.status, row.status) << row.args;
        nlohmann::json answer = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_TRUE(answer.is_object()) << row.args << ": " << r.out << r.err;
        EXPECT_EQ(answer.value("error", "").rfind(row.error, 0), 0u) << row.args << ": " << answer.dump();
    }
    // A command that loads the plug-in says once that the settings file gives nothing.
    Ran warned = host("--json lun create d --size-gb 0");
    EXPECT_EQ(warned.err.find("korvan-host: warning: the settings file " + dir + "/absent.ini cannot be read"), 0u)
        << warned.err;

    KrvnHost::Plugin unloaded;
    KrvnHost::HostJob holder(KrvnHost::StateFile(dir + "/state.json"), unloaded);
    std::string error;
    ASSERT_TRUE(holder.begin(&error)) << error;
    holder.addSnapItem("/dev/sdb", 0, 1);
    ASSERT_TRUE(holder.save(&error)) << error;
    Ran status = host("--json status");
    EXPECT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(nlohmann::json::parse(status.out, nullptr, false)["snapItems"].size(), 1u) << status.out;
    Ran locked = host("--json forget 1");
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.out.find("another korvan-host is working on"), std::string::npos) << locked.out;

    std::ofstream(dir + "/broken.json") << "{";
    Ran broken =
        run(dir, std::string(KRVN_BUILD_BIN_DIR) + "/korvan-host --json --state " + dir + "/broken.json status");
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(nlohmann::json::parse(broken.out, nullptr, false).value("error", "").find("is corrupted"),
              std::string::npos)
        << broken.out;
}

TEST_F(CommandLine, KorvanSimHelpGoesToStandardOutputAndABusyPortIsAnError) {
    Ran help = run(dir, KRVN_BUILD_BIN_DIR "/korvan-sim --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: korvan-sim", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(run(dir, KRVN_BUILD_BIN_DIR "/korvan-sim --no-such-option").status, 2);

    krvntest::SimHarness sim(0);
    ASSERT_TRUE(sim.ok()) << sim.error();
    const std::string port = std::to_string(sim.port());
    Ran busy = run(dir, KRVN_BUILD_BIN_DIR "/korvan-sim --quiet --port " + port);
    EXPECT_EQ(busy.status, 2);
    EXPECT_EQ(busy.err, "korvan-sim: port " + port + " is in use\n");
    EXPECT_EQ(busy.out, "") << "no second server on the port";
}

}  // namespace
