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
    for (const char* response : {"", R"({"status":"error","message":42})", R"({"message":{"text":"nested"}})",
                                 R"({"message":null})", R"({"status":"error"})", R"(["message"])",
                                 R"( {"message":"unterminated)"}) {
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

TEST_F(ContextTest, AnAnswerThatIsNoJsonAtAllIsTheReasonTheHostGetsMaskedAndBounded) {
    // The transport's own sentences (a refused login, a refused connection, an answer over the
    // size limit) and a proxy's page arrive as plain text.
    const std::string page = "<html>502 Bad Gateway password:'pw'</html>" + std::string(5000, 'x');
    KrvnCommonCtx ctx(nullptr);
    ctx.restResponse = page;
    ctx.extractRESTErrorMsgs();
    const std::string kept = ctx.restErrors.str();
    EXPECT_EQ(0u, kept.find("<html>502 Bad Gateway password:****</html>xx")) << kept;
    EXPECT_EQ(4096u + 4u, kept.size()) << "4096 bytes, the cut mark and the blank";
    EXPECT_EQ("... ", kept.substr(4096));
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
