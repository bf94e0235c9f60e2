#include <gtest/gtest.h>

#include <string>

#include "KrvnRecords.h"

using ZYKorvanCommon::KrvnArrayConfigs;
using ZYKorvanCommon::KrvnArrayDetails;

namespace {

TEST(ArrayRecords, DumpShowsTheFieldsAndHidesSecretsOnlyWhenSet) {
    KrvnArrayDetails d;
    std::string out = "previous text";
    d.dump(out);
    EXPECT_EQ(
        "Dump of ArrayDetails object: Array # [0] ArrayId [] SCSI ArrayId [] ControlHostName [] "
        "UserName[] UserPswd [] Session []",
        out);
    d.arrayNumber = -3;
    d.arrayId = "clusterA";
    d.scsiArrayId = "001A2B3C4D5E6F";
    d.controlHostName = "10.0.0.5";
    d.userName = "admin";
    d.userPswd = "s3cret-pw";
    d.dump(out);
    EXPECT_EQ(
        "Dump of ArrayDetails object: Array # [-3] ArrayId [clusterA] SCSI ArrayId [001A2B3C4D5E6F] "
        "ControlHostName [10.0.0.5] UserName[admin] UserPswd [******] Session []",
        out);
}

TEST(ArrayRecords, ConfigPrintStringJoinsProxiesAndEndsWithABlank) {
    KrvnArrayConfigs c;
    c.storageProxyList = {"a", "b"};
    EXPECT_EQ(
        "The array configurations - < Use HTTPS-[false] Server port-[8080] REST Logging-[1] "
        "Max retry count-[6] Sleep interval-[10] Storage proxy-[a, b] > ",
        c.getPrintString());
    c = KrvnArrayConfigs{0, 2, 30, 8443, true, {}};  // logging, retries, sleep, port, HTTPS, proxies
    EXPECT_EQ(
        "The array configurations - < Use HTTPS-[true] Server port-[8443] REST Logging-[0] "
        "Max retry count-[2] Sleep interval-[30] Storage proxy-[] > ",
        c.getPrintString());
}

TEST(ArrayRecords, ResetRestoresDefaultsButKeepsTheStorageProxy) {
    KrvnArrayDetails d;
    d.arrayNumber = 7;
    d.arrayId = d.scsiArrayId = d.controlHostName = d.userName = d.userPswd = d.sessionId = d.clusterUniqueId = "x";
    d.storageProxy = "proxy1";
    d.arrayConfigs.serverPort = 8443;
    d.arrayConfigs.storageProxyList = {"proxy1"};
    d.reset();
    KrvnArrayDetails fresh;
    fresh.storageProxy = "proxy1";
    std::string dumped, expected;
    d.dump(dumped);
    fresh.dump(expected);
    EXPECT_EQ(expected, dumped);
    EXPECT_EQ("proxy1", d.storageProxy);
    EXPECT_TRUE(d.clusterUniqueId.empty());
    EXPECT_EQ(KrvnArrayConfigs().getPrintString(), d.arrayConfigs.getPrintString());
}

}  // namespace
