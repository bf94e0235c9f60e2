#include <gtest/gtest.h>

#include <string>

#include "CommonTestLog.h"
#include "FakeSnapHost.h"
#include "KrvnCommonCtx.h"
#include "ScopedSettings.h"

using krvntest::CommonLogCapture;
using krvntest::ScopedSettings;
using namespace ZYKorvanCommon;

namespace {

const char* const kNotFoundText = "\"message\" tag not found in REST error response";

class ContextTest : public ::testing::Test {
protected:
    ContextTest() { settings.set("Platform", "logFile", "/dev/null"); }
    ScopedSettings settings;
};

TEST(SecretMasking, MasksEveryValueOfBothKeysToItsDelimiterOrTheEnd) {
    struct Row {
        const char* in;
        const char* out;
    };
    const Row rows[] = {
        {"{'sessionId':'abc','type':'x'}", "{'sessionId':*****,'type':'x'}"},
        {"{'sessionId':'abc'}", "{'sessionId':*****}"},
        {"a sessionId:'s1', b sessionId:'s22'}", "a sessionId:****, b sessionId:*****}"},
        {"{'password':'p1','x':{'password':'p2'}}", "{'password':****,'x':{'password':****}}"},
        {"request={'params':{'userName':'u','password':'pw'},'sessionId':'sid'}",
         // A "," after the closing brace wins over the brace, as in the cluster's bodies.
         "request={'params':{'userName':'u','password':*****,'sessionId':*****}"},
        {"\"password\":\"secret\"", "\"password\":********"},
        {"tail sessionId:abc", "tail sessionId:***"},
        {"password  abc}", "password  ***}"},
        {"{\"status\":\"ok\",\"message\":\"done\"}", "{\"status\":\"ok\",\"message\":\"done\"}"},
        {"", ""},
        {"ends with password", "ends with password"},
        {"ends with password:", "ends with password:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.in);
        std::string out = "old";
        maskSecrets(row.in, out);
        EXPECT_EQ(row.out, out);
        EXPECT_EQ(std::string(row.in).size(), out.size());
    }
}

TEST_F(ContextTest, ConstructionTakesTheJobIdFromTheHostWhenThereIsOne) {
    KrvnCommonCtx orphan(nullptr);
    EXPECT_EQ(ZY_KRVN_JOB_ID_UNSET, orphan.jobId);
    EXPECT_NE(nullptr, orphan.logger);
    EXPECT_EQ(nullptr, orphan.restClient);
    EXPECT_EQ(ZY_KRVN_ERR_NONE, orphan.errorCode);

    krvntest::FakeOSUtil host;
    host.jobId = 98765;
    KrvnCommonCtx ctx(&host);
    EXPECT_EQ(98765, ctx.jobId);
    CommonLogCapture log;
    ctx.log(ZY_KRVN_LOGLVL_DETAIL, "KRVN  line %d", 1);
    ASSERT_EQ(1u, log.lines().size());
    EXPECT_EQ(98765, log.lines()[0].jobId);
    EXPECT_EQ("KRVN  line 1", log.lines()[0].text);
}

TEST_F(ContextTest, FailuresAppendSentencesAndLogTheComposedTextAtTheirLevel) {
    KrvnCommonCtx ctx(nullptr);
    CommonLogCapture log;
    EXPECT_EQ(2, ctx.fail(2, "First [a].", "KRVN  Snapshot operation failed - [%d:%s]"));
    EXPECT_EQ(3, ctx.failAt(ZY_KRVN_LOGLVL_DETAIL, 3, " Second [b].", "KRVN  Note-[%d:%s]"));
    ctx.restErrors << "cluster says no ";
    EXPECT_EQ(1, ctx.failRest(1, " Third.", "KRVN  Cluster operation failed-[%d:%s]. REST error-[%s]"));
    EXPECT_EQ(1, ctx.errorCode);
    EXPECT_EQ("First [a]. Second [b]. Third.", ctx.errorString());
    EXPECT_TRUE(log.has(ZY_KRVN_LOGLVL_ERROR, "KRVN  Snapshot operation failed - [2:First [a].]"));
    EXPECT_TRUE(log.has(ZY_KRVN_LOGLVL_DETAIL, "KRVN  Note-[3:First [a]. Second [b].]"));
    EXPECT_TRUE(log.has(ZY_KRVN_LOGLVL_ERROR, "KRVN  Cluster operation failed-[1:First [a]. Second [b]. "
                                              "Third.]. REST error-[cluster says no ]"));
}

TEST_F(ContextTest, FinalErrorAddsClusterMessagesEachCallAndResetKeepsThem) {
    KrvnCommonCtx ctx(nullptr);
    ctx.fail(1, "Step failed.", "KRVN  %d:%s");
    EXPECT_EQ("Step failed.", ctx.getFinalErrorStr());
    EXPECT_EQ("Step failed.", ctx.getFinalErrorStr());

    ctx.restResponse = R"({"status":"error","message":"Vdisk v1 couldn't be found","result":null})";
    ctx.extractRESTErrorMsgs();
    EXPECT_EQ("Vdisk v1 couldn't be found ", ctx.restErrors.str());
    const std::string once = "Step failed.\nErrors returned by cluster-[Vdisk v1 couldn't be found ]";
    EXPECT_EQ(once, ctx.getFinalErrorStr());
    EXPECT_EQ(once + "\nErrors returned by cluster-[Vdisk v1 couldn't be found ]", ctx.getFinalErrorStr());

    ctx.resetError();
    EXPECT_EQ(ZY_KRVN_ERR_NONE, ctx.errorCode);
    EXPECT_EQ("", ctx.errorString());
    EXPECT_EQ("Vdisk v1 couldn't be found ", ctx.restErrors.str());
    ctx.fail(1, "Later.", "KRVN  %d:%s");
    EXPECT_EQ("Later.\nErrors returned by cluster-[Vdisk v1 couldn't be found ]", ctx.getFinalErrorStr());
}

TEST_F(ContextTest, ExtractionWithoutAStringMessageRecordsTheMissingTagAndLogsIt) {
    const char* responses[] = {
        "<html>502 Bad Gateway</html>",
        "",
        R"({"status":"error","message":42})",
        R"({"status":"error","message":{"text":"nested"}})",
        R"({"status":"error","message":null})",
        R"({"status":"error"})",
        R"(["message"])",
        R"({"message":"unterminated)",
    };
    for (const char* response : responses) {
        SCOPED_TRACE(response);
        KrvnCommonCtx ctx(nullptr);
        ctx.restErrors << "stale message ";
        ctx.restResponse = response;
        CommonLogCapture log;
        ctx.extractRESTErrorMsgs();
        EXPECT_EQ(kNotFoundText, ctx.restErrors.str());
        EXPECT_TRUE(log.has(ZY_KRVN_LOGLVL_ERROR, std::string("KRVN  Invalid REST error response. ") + kNotFoundText));
        EXPECT_EQ(ZY_KRVN_ERR_NONE, ctx.errorCode);
    }
}

TEST_F(ContextTest, LoggedRestDetailsAndArrayDumpsCarryNoSecret) {
    KrvnCommonCtx ctx(nullptr);
    ctx.arrayDetails.arrayId = "clusterA";
    ctx.arrayDetails.userPswd = "s3cret-pw";
    ctx.arrayDetails.sessionId = "sess-0123";
    ctx.restApi = "";
    ctx.restRequest = "request={'type':'Login','params':{'userName':'admin','password':'s3cret-pw'},"
                      "'sessionId':'sess-0123'}";
    ctx.restResponse = R"({"result":{"sessionId":"sess-0123","userName":"admin"}})";
    CommonLogCapture log;
    ctx.logRESTDetails();
    ctx.printArrayDetails();
    ASSERT_EQ(2u, log.lines().size());
    EXPECT_EQ(ZY_KRVN_LOGLVL_ERROR, log.lines()[0].level);
    EXPECT_EQ(0u, log.lines()[0].text.find("KRVN  REST API-<<[]>> Request-<<[request={'type':'Login'"));
    EXPECT_TRUE(log.has(ZY_KRVN_LOGLVL_ARRAY_DUMP, "KRVN >>  Dump of ArrayDetails object: Array # [0] ArrayId "
                                                   "[clusterA] SCSI ArrayId [] ControlHostName [] UserName[] "
                                                   "UserPswd [******] Session [******]"));
    EXPECT_FALSE(log.anyContains("s3cret-pw"));
    EXPECT_FALSE(log.anyContains("sess-0123"));
}

TEST_F(ContextTest, ArrayDetailsArePrintedOnlyFromDebugLevelFive) {
    for (int level : {4, 5}) {
        SCOPED_TRACE(level);
        settings.set("Platform", "debugLevel", std::to_string(level));
        KrvnCommonCtx ctx(nullptr);
        EXPECT_EQ(level, ctx.debugLevel());
        CommonLogCapture log;
        ctx.printArrayDetails();
        EXPECT_EQ(level >= 5 ? 1u : 0u, log.countAt(ZY_KRVN_LOGLVL_ARRAY_DUMP));
    }
}

}  // namespace
