#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

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

TEST_F(ContextTest, LinesCarryTheHostsJobIdAndFailuresAppendSentencesLoggedAsTheStepSays) {
    EXPECT_EQ(ZY_KRVN_JOB_ID_UNSET, KrvnCommonCtx(nullptr).jobId);
    krvntest::FakeOSUtil host;
    host.jobId = 98765;
    KrvnCommonCtx ctx(&host);
    LogCapture log;
    ctx.restErrors << "cluster says no ";
    // One verb; each row a way of logging it.
    const std::vector<std::tuple<int, std::string, KrvnFailLog, int, std::string>> rows = {
        {2,
         "First [a].",
         {"KRVN  Snapshot operation failed - [%d:%s]"},
         -1,
         "KRVN  Snapshot operation failed - [2:First [a].]"},
        {3, " Second.", {"KRVN  Note-[%d:%s]", KrvnLogArgs::CodeText, 0}, 0, "KRVN  Note-[3:First [a]. Second.]"},
        {1,
         " Third.",
         {"KRVN  Failed-[%d:%s]. REST error-[%s]", KrvnLogArgs::CodeTextClusterErrors},
         -1,
         "KRVN  Failed-[1:First [a]. Second. Third.]. REST error-[cluster says no ]"},
        {19, " Fourth.", KrvnFailLog::about("clusterA", "KRVN  Cluster-[%s] failed. Error-[%d:%s]"), -1,
         "KRVN  Cluster-[clusterA] failed. Error-[19:First [a]. Second. Third. Fourth.]"},
        {19, " Fifth.", KrvnFailLog::about("clusterA", "bad", "KRVN  Cluster-[%s] Status-[%s] Error-[%d:%s]"), -1,
         "KRVN  Cluster-[clusterA] Status-[bad] Error-[19:First [a]. Second. Third. Fourth. Fifth.]"},
        {1, " Sixth.", {"KRVN  %s", KrvnLogArgs::Text}, -1, "KRVN  First [a]. Second. Third. Fourth. Fifth. Sixth."},
    };
    for (const auto& [code, sentence, how, level, line] : rows) {
        log.clear();
        EXPECT_EQ(code, ctx.fail(code, sentence, how)) << line;
        EXPECT_EQ(code, ctx.errorCode);
        ASSERT_EQ(1u, log.lines().size()) << line;
        EXPECT_EQ(98765, log.lines()[0].jobId);
        EXPECT_EQ(level, log.lines()[0].level) << line;
        EXPECT_EQ(line, log.lines()[0].text);
    }
    log.clear();
    EXPECT_EQ(4, ctx.fail(4, " Recorded only.", ZY_KRVN_NOT_LOGGED));
    EXPECT_EQ(21, ctx.recode(21));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ("First [a]. Second. Third. Fourth. Fifth. Sixth. Recorded only.", ctx.errorString());
}

TEST_F(ContextTest, KeptFailuresComeBackWholeAndAnErrorStateRestoresExactly) {
    KrvnCommonCtx ctx(nullptr);
    ctx.fail(19, "Item 1 refused.", ZY_KRVN_NOT_LOGGED);
    ctx.restErrors << "busy ";
    KrvnKeptFailures kept;
    kept.keep(ctx);
    ctx.tolerate();
    ctx.restErrors.str("gone ");  // a later tolerated answer's words
    ctx.fail(-1, "Item 3 refused.", ZY_KRVN_NOT_LOGGED);
    kept.keep(ctx);
    const KrvnErrorState before = ctx.errorState();
    kept.restore(ctx);
    EXPECT_EQ(2, kept.count());
    EXPECT_EQ(1, ctx.errorCode) << "a failure without a code of its own is still a failure";
    EXPECT_EQ("Item 1 refused.Item 3 refused.", ctx.errorString());
    EXPECT_EQ("gone ", ctx.restErrors.str());
    ctx.restoreErrorState(before);
    EXPECT_EQ(-1, ctx.errorCode);
    EXPECT_EQ("Item 3 refused.", ctx.errorString());
    ctx.errorText << " more";
    EXPECT_EQ("Item 3 refused. more", ctx.errorString()) << "appending goes on after the restored text";
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
    for (const char* response :
         {"", R"({"status":"error","message":42})", R"({"message":{"text":"nested"}})", R"({"message":null})",
          R"({"status":"error"})", R"(["message"])", R"( {"message":"unterminated)"}) {
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
        ctx.restRequest =
            "request={'type':'Login','params':{'userName':'admin','password':'s3cret-pw'},"
            "'sessionId':'sess-0123'}";
        ctx.restResponse = R"({"result":{"sessionId":"sess-0123","userName":"admin"}})";
        LogCapture log;
        ctx.logRESTDetails();
        ctx.printArrayDetails();
        EXPECT_TRUE(log.containsAt(ZY_KRVN_LOGLVL_ERROR, "KRVN  REST API-<<[]>> Request-<<[request={'type':'Login'"));
        EXPECT_EQ(level >= 5, log.containsAt(ZY_KRVN_LOGLVL_ARRAY_DUMP,
                                             "KRVN >>  Dump of ArrayDetails object: "
                                             "Array # [0] ArrayId [] "))
            << level;
        EXPECT_FALSE(log.contains("s3cret-pw") || log.contains("sess-0123")) << log.dump();
    }
}

}  // namespace
