#include <gtest/gtest.h>

#include <string>

#include "KrvnRecords.h"

using ZYKorvanCommon::KrvnArrayConfigs;
using ZYKorvanCommon::KrvnArrayDetails;

namespace {

KrvnArrayDetails filledDetails() {
    KrvnArrayDetails d;
    d.arrayNumber = 7;
    d.arrayId = "clusterA";
    d.scsiArrayId = "001A2B3C4D5E6F";
    d.controlHostName = "10.0.0.5";
    d.storageProxy = "proxy1";
    d.userName = "admin";
    d.userPswd = "s3cret-pw";
    d.sessionId = "sess-42";
    d.clusterUniqueId = "hash";
    d.arrayConfigs.useHttps = true;
    d.arrayConfigs.serverPort = 8443;
    d.arrayConfigs.storageProxyList = {"proxy1"};
    return d;
}

TEST(ArrayRecords, DumpShowsTheFieldsAndHidesSecretsOnlyWhenSet) {
    std::string out = "previous text";
    KrvnArrayDetails().dump(out);
    EXPECT_EQ("Dump of ArrayDetails object: Array # [0] ArrayId [] SCSI ArrayId [] ControlHostName [] "
              "UserName[] UserPswd [] Session []",
              out);

    KrvnArrayDetails d = filledDetails();
    d.dump(out);
    EXPECT_EQ("Dump of ArrayDetails object: Array # [7] ArrayId [clusterA] SCSI ArrayId [001A2B3C4D5E6F] "
              "ControlHostName [10.0.0.5] UserName[admin] UserPswd [******] Session [******]",
              out);
    EXPECT_EQ(std::string::npos, out.find(d.userPswd));
    EXPECT_EQ(std::string::npos, out.find(d.sessionId));

    d.sessionId.clear();
    d.arrayNumber = -3;
    d.dump(out);
    EXPECT_NE(std::string::npos, out.find("Array # [-3] "));
    EXPECT_NE(std::string::npos, out.find("UserPswd [******] Session []"));
}

TEST(ArrayRecords, ConfigPrintStringJoinsProxiesAndEndsWithABlank) {
    KrvnArrayConfigs c;
    c.storageProxyList = {"a", "b"};
    EXPECT_EQ("The array configurations - < Use HTTPS-[false] Server port-[8080] REST Logging-[1] "
              "Max retry count-[6] Sleep interval-[10] Storage proxy-[a, b] > ",
              c.getPrintString());

    c.storageProxyList.clear();
    c.useHttps = true;
    c.serverPort = 8443;
    c.restLogging = 0;
    c.maxRetryCount = 2;
    c.sleepInterval = 30;
    EXPECT_EQ("The array configurations - < Use HTTPS-[true] Server port-[8443] REST Logging-[0] "
              "Max retry count-[2] Sleep interval-[30] Storage proxy-[] > ",
              c.getPrintString());

    c.storageProxyList = {"only"};
    EXPECT_NE(std::string::npos, c.getPrintString().find("Storage proxy-[only] > "));
}

TEST(ArrayRecords, ResetRestoresDefaultsButKeepsTheStorageProxy) {
    KrvnArrayDetails d = filledDetails();
    KrvnArrayDetails copy = d;
    d.reset();
    EXPECT_EQ("proxy1", d.storageProxy);
    EXPECT_EQ(0, d.arrayNumber);
    for (const std::string* text : {&d.arrayId, &d.scsiArrayId, &d.controlHostName, &d.userName, &d.userPswd,
                                    &d.sessionId, &d.clusterUniqueId})
        EXPECT_TRUE(text->empty());
    EXPECT_EQ(KrvnArrayConfigs().getPrintString(), d.arrayConfigs.getPrintString());

    // The copy made before is independent and complete.
    EXPECT_EQ("s3cret-pw", copy.userPswd);
    EXPECT_EQ(8443, copy.arrayConfigs.serverPort);
    EXPECT_EQ(1u, copy.arrayConfigs.storageProxyList.size());
}

}  // namespace
