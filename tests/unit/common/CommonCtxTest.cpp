#include <gtest/gtest.h>

#include <string>

#include "FakeSnapHost.h"
#include "KrvnCommonCtx.h"
#include "LogCapture.h"
#include "ScopedSettings.h"

using krvntest::LogCapture;
using namespace ZYKorvanCommon;

namespace {

const std::string kNotFoundText = "\"message\" tag not found in REST error response";

class ContextTest : public ::testing::Test {
protected:
    ContextTest() { settings.set("Platform", "logFile", "/dev/null"); }
    krvntest::ScopedSettings settings;
};

TEST(SecretMasking, MasksEveryValueOfBothKeysToItsDelimiterOrTheEnd) {
    const std::pair<const char*, const char*> rows[] = {
        {"{'sessionId':'abc','type':'x'}", "{'sessionId':*****,'type':'x'}"},
        {"a sessionId:'s1', b sessionId:'s22'}", "a sessionId:****, b sessionId:*****}"},
        {"{'password':'p1','x':{'password':'p2'}}", "{'password':****,'x':{'password':****}}"},
        {"request={'params':{'userName':'u','password':'pw'},'sessionId':'sid'}",
         // A "," after the closing brace wins over the brace, as in the cluster's bodies.
         "request={'params':{'userName':'u','password':*****,'sessionId':*****}"},
        {"tail sessionId:abc", "tail sessionId:***"},
        {"password  abc}", "password  ***}"},
        {"{\"status\":\"ok\",\"message\":\"done\"}", "{\"status\":\"ok\",\"message\":\"done\"}"},
        {"", ""},
        {"ends with password", "ends with password"},
        {"ends with password:", "ends with password:"},
    };
    for (const auto& [in, expected] : rows) {
        std::string out = "old";
        maskSecrets(in, out);
        EXPECT_EQ(expected, out) << in;
    }
}

TEST_F(ContextTest, LinesCarryTheHostsJobIdAndFailuresAppendSentencesLoggedAtTheirLevel) {
    EXPECT_EQ(ZY_KRVN_JOB_ID_UNSET, KrvnCommonCtx(nullptr).jobId);
    krvntest::FakeOSUtil host;
    host.jobId = 98765;
    KrvnCommonCtx ctx(&host);
    LogCapture log;
    EXPECT_EQ(2, ctx.fail(2, "First [a].", "KRVN  Snapshot operation failed - [%d:%s]"));
    EXPECT_EQ(3, ctx.failAt(ZY_KRVN_LOGLVL_DETAIL, 3, " Second [b].", "KRVN  Note-[%d:%s]"));
    ctx.restErrors << "cluster says no ";
    EXPECT_EQ(1, ctx.failRest(1, " Third.", "KRVN  Cluster operation failed-[%d:%s]. REST error-[%s]"));
    EXPECT_EQ(1, ctx.errorCode);
    EXPECT_EQ("First [a]. Second [b]. Third.", ctx.errorString());
    const std::vector<LogCapture::Line> lines = log.lines();
    ASSERT_EQ(3u, lines.size());
    const std::pair<int, std::string> expected[] = {
        {ZY_KRVN_LOGLVL_ERROR, "KRVN  Snapshot operation failed - [2:First [a].]"},
        {ZY_KRVN_LOGLVL_DETAIL, "KRVN  Note-[3:First [a]. Second [b].]"},
        {ZY_KRVN_LOGLVL_ERROR, "KRVN  Cluster operation failed-[1:First [a]. Second [b]. Third.]. "
                               "REST error-[cluster says no ]"}};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(98765, lines[i].jobId);
        EXPECT_EQ(expected[i].first, lines[i].level);
        EXPECT_EQ(expected[i].second, lines[i].text);
    }
}

TEST_F(ContextTest, FinalErrorAddsClusterMessagesEachCallAndResetKeepsThem) {
    KrvnCommonCtx ctx(nullptr);
    ctx.fail(1, "Step failed.", "KRVN  %d:%s");
    EXPECT_EQ("Step failed.", ctx.getFinalErrorStr());
    ctx.restResponse = R"({"status":"error","message":"Vdisk v1 couldn't be found","result":null})";
    ctx.extractRESTErrorMsgs();
    EXPECT_EQ("Vdisk v1 couldn't be found ", ctx.restErrors.str());
    const std::string cluster = "\nErrors returned by cluster-[Vdisk v1 couldn't be found ]";
    EXPECT_EQ("Step failed." + cluster, ctx.getFinalErrorStr());
    EXPECT_EQ("Step failed." + cluster + cluster, ctx.getFinalErrorStr());

    ctx.resetError();
    EXPECT_EQ(ZY_KRVN_ERR_NONE, ctx.errorCode);
    ctx.fail(1, "Later.", "KRVN  %d:%s");
    EXPECT_EQ("Later." + cluster, ctx.getFinalErrorStr());
}

TEST_F(ContextTest, ExtractionWithoutAStringMessageRecordsTheMissingTagAndLogsIt) {
    for (const char* response : {"<html>502 Bad Gateway</html>", "", R"({"status":"error","message":42})",
                                 R"({"message":{"text":"nested"}})", R"({"message":null})", R"({"status":"error"})",
                                 R"(["message"])", R"({"message":"unterminated)"}) {
        KrvnCommonCtx ctx(nullptr);
        ctx.restErrors << "stale message ";
        ctx.restResponse = response;
        LogCapture log;
        ctx.extractRESTErrorMsgs();
        EXPECT_EQ(kNotFoundText, ctx.restErrors.str()) << response;
        EXPECT_TRUE(log.containsAt(ZY_KRVN_LOGLVL_ERROR, "KRVN  Invalid REST error response. " + kNotFoundText));
        EXPECT_EQ(ZY_KRVN_ERR_NONE, ctx.errorCode);
    }
}

TEST_F(ContextTest, LoggedRestDetailsAndArrayDumpsCarryNoSecretAndDumpsNeedLevelFive) {
    for (int level : {4, 5}) {
        settings.set("Platform", "debugLevel", std::to_string(level));
        KrvnCommonCtx ctx(nullptr);
        ctx.arrayDetails.userPswd = "s3cret-pw";
        ctx.arrayDetails.sessionId = "sess-0123";
        ctx.restRequest = "request={'type':'Login','params':{'userName':'admin','password':'s3cret-pw'},"
                          "'sessionId':'sess-0123'}";
        ctx.restResponse = R"({"result":{"sessionId":"sess-0123","userName":"admin"}})";
        LogCapture log;
        ctx.logRESTDetails();
        ctx.printArrayDetails();
        EXPECT_TRUE(log.containsAt(ZY_KRVN_LOGLVL_ERROR, "KRVN  REST API-<<[]>> Request-<<[request={'type':'Login'"));
        EXPECT_EQ(level >= 5, log.containsAt(ZY_KRVN_LOGLVL_ARRAY_DUMP, "KRVN >>  Dump of ArrayDetails object: "
                                                                        "Array # [0] ArrayId [] ")) << level;
        EXPECT_FALSE(log.contains("s3cret-pw") || log.contains("sess-0123")) << log.dump();
    }
}

}  // namespace
