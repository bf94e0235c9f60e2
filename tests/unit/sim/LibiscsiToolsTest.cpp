// The independent check of korvan-sim's iSCSI target: libiscsi's own tools (Debian's
// libiscsi-bin) list it, read its INQUIRY pages and pass the chosen subset of libiscsi's
// compliance suite (the list and the reasons are in sim/README.md).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <regex>

#include "SimHarness.h"

using korvansim::Json;
using krvntest::SimHarness;

namespace {

constexpr char kLs[] = "iqn.2024-01.test:libiscsi-ls";
constexpr char kInq[] = "iqn.2024-01.test:libiscsi-inq";
constexpr char kSuite1[] = "iqn.2024-01.test:libiscsi-test";
constexpr char kSuite2[] = "iqn.2024-01.test:libiscsi-test-2";
constexpr int64_t kSerial = 4611686018427388000;

// The compliance subset: the tests of the commands the target answers (see sim/README.md).
constexpr const char* kComplianceSubset =
    "ALL.Inquiry.Standard,ALL.Inquiry.AllocLength,ALL.Inquiry.EVPD,ALL.Inquiry.MandatoryVPDSBC,"
    "ALL.Inquiry.SupportedVPD,ALL.Inquiry.VersionDescriptors,ALL.TestUnitReady,ALL.ReadCapacity10,"
    "ALL.ReadCapacity16,ALL.Read10,ALL.Read16,ALL.Write10,ALL.Write16,ALL.ModeSense6,ALL.Mandatory,"
    "ALL.iSCSIResiduals.Read10Invalid,ALL.iSCSIResiduals.Read10Residuals,ALL.iSCSIResiduals.Read16Residuals,"
    "ALL.iSCSIResiduals.Write10Residuals,ALL.iSCSIResiduals.Write16Residuals,ALL.iSCSITMF";
constexpr int kComplianceTests = 47;

struct Outcome {
    int status = -1;
    std::string output;
};

// Runs a shell command line (standard error joined to the output).
Outcome run(const std::string& command) {
    Outcome r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.output.append(buffer.data(), n);
    int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// vol1 and vol2 on sp1 (vol1 open to every tool, vol2 to iscsi-ls only), vol3 on sp2 only.
Json seed() {
    Json s = SimHarness::defaultSeed(0);
    s["proxies"] = {"sp1", "sp2"};
    s["vdisks"] = {{{"name", "vol1"},
                    {"serial", kSerial},
                    {"sizeGB", 1},
                    {"blockSize", 512},
                    {"exposures", {{{"proxy", "sp1"}, {"initiators", {kLs, kInq, kSuite1, kSuite2}}}}}},
                   {{"name", "vol2"}, {"sizeGB", 1}, {"exposures", {{{"proxy", "sp1"}, {"initiators", {kLs}}}}}},
                   {{"name", "vol3"}, {"sizeGB", 1}, {"exposures", {{{"proxy", "sp2"}}}}}};
    return s;
}

class LibiscsiTools : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.ok()) << sim.error();
        std::string message;
        ASSERT_TRUE(sim.sim().serveIscsi("127.0.0.1", 0, message)) << message;
        portal = sim.sim().iscsiPortals().at("sp1");
    }
    std::string lun(const std::string& vdisk) {
        return "iscsi://" + portal + "/" + korvansim::Cluster::targetIqnFor("sp1", vdisk) + "/0";
    }

    SimHarness sim{seed()};
    std::string portal;
};

TEST_F(LibiscsiTools, ListAndInquireThePortalsTargetsAndRefuseInitiatorsWithoutAccess) {
    Outcome ls = run(std::string("iscsi-ls -s -i ") + kLs + " iscsi://" + portal);
    EXPECT_NE(ls.output.find("Target:iqn.2020-01.com.korvan:sp1:vol1 Portal:" + portal + ",1"), std::string::npos)
        << ls.output;
    EXPECT_NE(ls.output.find("Target:iqn.2020-01.com.korvan:sp1:vol2"), std::string::npos);
    EXPECT_EQ(ls.output.find("vol3"), std::string::npos) << "another proxy's target";
    EXPECT_EQ(ls.status, 0) << ls.output;
    const std::regex lunLine(R"(Lun:0\s+Type:DIRECT_ACCESS)");
    EXPECT_EQ(std::distance(std::sregex_iterator(ls.output.begin(), ls.output.end(), lunLine), std::sregex_iterator()),
              2)
        << ls.output;

    Outcome standard = run(std::string("iscsi-inq -i ") + kInq + " " + lun("vol1"));
    EXPECT_EQ(standard.status, 0) << standard.output;
    for (const char* line : {"Vendor:_KORVAN_", "Product:VIRTUAL-DISK", "Revision:0110"})
        EXPECT_NE(standard.output.find(line), std::string::npos) << line << " in " << standard.output;
    Outcome serial = run(std::string("iscsi-inq -e 1 -c 128 -i ") + kInq + " " + lun("vol1"));
    EXPECT_NE(serial.output.find("Unit Serial Number:[" + std::to_string(kSerial) + "]"), std::string::npos)
        << serial.output;
    Outcome identity = run(std::string("iscsi-inq -e 1 -c 131 -i ") + kInq + " " + lun("vol1"));
    EXPECT_NE(identity.output.find("Designator:[_KORVAN_vol1 "), std::string::npos) << identity.output;

    for (const std::string& who : {std::string(kInq) + " " + lun("vol2"), "iqn.2024-01.test:stranger " + lun("vol1")}) {
        Outcome stranger = run("iscsi-inq -i " + who);
        EXPECT_NE(stranger.status, 0) << who;
        EXPECT_NE(stranger.output.find("Authorization failure"), std::string::npos) << stranger.output;
    }
    Outcome missing =
        run(std::string("iscsi-inq -i ") + kInq + " iscsi://" + portal + "/iqn.2020-01.com.korvan:sp1:vol3/0");
    EXPECT_NE(missing.output.find("Target not found"), std::string::npos)
        << "vol3 is not on this portal: " << missing.output;
    EXPECT_GE(sim.counters()["san"]["iscsiLogin"], 4);
}

TEST_F(LibiscsiTools, TheComplianceSubsetPasses) {
    Outcome suite = run(std::string("iscsi-test-cu -d -s -i ") + kSuite1 + " -I " + kSuite2 + " -t " +
                        kComplianceSubset + " " + lun("vol1"));
    std::smatch row;
    ASSERT_TRUE(std::regex_search(suite.output, row, std::regex(R"(tests +(\d+) +(\d+) +(\d+) +(\d+))")))
        << suite.output;
    EXPECT_EQ(std::stoi(row[2]), kComplianceTests) << "tests run";
    EXPECT_EQ(std::stoi(row[4]), 0) << "tests failed:\n" << suite.output;
}

}  // namespace
