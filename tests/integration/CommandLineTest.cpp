// korvan-host and korvan-sim as a user runs them: exit statuses, what goes to which stream.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "HostJob.h"
#include "SimHarness.h"
#include "TempDir.h"

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
    // With a settings file that is not there.
    Ran host(const std::string& args) {
        return run(dir, "ZY_SETTINGS_FILE=" + dir + "/absent.ini " KRVN_BUILD_BIN_DIR "/korvan-host --state " + dir +
                            "/state.json " + args);
    }
    krvntest::TempDir work;
    const std::string dir = work.path();
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

TEST_F(CommandLine, AMapWaitingForItsClonesShowsProgressOnStandardErrorAsPlainLines) {
    nlohmann::json seed = krvntest::SimHarness::defaultSeed(1);
    seed["cluster"]["unfreezeAfterReads"] = 3;  // the plug-in finds the clone frozen twice, 30 s apart
    krvntest::SimHarness sim(seed);
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::ofstream(dir + "/secret.key", std::ios::binary) << std::string(32, 'k');
    sim.settings().set("Platform", "keyFile", dir + "/secret.key");
    sim.settings().set("Platform", "logFile", dir + "/plugin.log");
    auto korvanHost = [&](const std::string& args) {
        return run(dir, KRVN_BUILD_BIN_DIR "/korvan-host --state " + dir + "/state.json " + args);
    };
    const std::string add = std::string("arrays add ") + sim.kClusterName + " --host 127.0.0.1 --port " +
                            std::to_string(sim.port()) + " --user " + sim.kUser + " --password " + sim.kPassword +
                            " --proxy " + sim.kProxy + " --serial 1A2B3C4D5E6F70";
    for (const std::string& args : {add, std::string("prepare /dev/sdb"), std::string("snap")})
        ASSERT_EQ(korvanHost(args).status, 0) << args;

    const std::regex plainLine("korvan-host: map [0-9]+:[0-9]{2} .*");
    auto lines = [&](const Ran& r) {
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.err.find_first_of("\r\033"), std::string::npos) << "no control codes: " << r.err;
        std::vector<std::string> all;
        std::istringstream in(r.err);
        for (std::string line; std::getline(in, line); all.push_back(line))
            EXPECT_TRUE(std::regex_match(line, plainLine)) << line;
        return all;
    };
    auto mentions = [](const std::vector<std::string>& all, const char* word) {
        return std::any_of(all.begin(), all.end(), [&](const std::string& l) { return l.find(word) != l.npos; });
    };
    std::vector<std::string> status = lines(korvanHost("map"));
    EXPECT_GE(status.size(), 2u) << "a line every ten seconds of the call";
    EXPECT_TRUE(mentions(status, "frozen")) << "the wait shows what it waits for";
    ASSERT_EQ(korvanHost("unmap").status, 0);
    std::vector<std::string> follow = lines(korvanHost("--follow map"));
    EXPECT_GT(follow.size(), 2 * status.size()) << "every line of the job";
    EXPECT_TRUE(mentions(follow, "Going to map")) << "the job log on the first item is among them";
    ASSERT_EQ(korvanHost("unmap").status, 0);
    Ran quiet = korvanHost("--quiet map");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

}  // namespace
