// Login, logout and the envelope check every cluster answer goes through.
#include <functional>

#include "RestFixture.h"
#include "TestCert.h"
#include "ZYSnapRESTAPI.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, LoginKeepsTheSessionIdAndLogsRolesInKeyOrderWithoutThePassword) {
    LogCapture log;
    srv.reply(200, R"({"status":"ok","type":"Login","requestId":"r","result":{"sessionId":"sid-1","userName":"admin",)"
                   R"("primaryTenant":"tp","roles":{"zeta":"r1","alpha":"r2","mid":5}}})");
    ASSERT_EQ(0u, utils().rest_connectToArray());
    EXPECT_EQ("sid-1", ctx().arrayDetails.sessionId);
    EXPECT_EQ("POST", srv.lastRequest().method);
    EXPECT_TRUE(log.containsAt(0,
                               "KRVN  The user-[admin] details : Roles - < Tenant #1-[alpha = r2], "
                               "Tenant #2-[mid = ], Tenant #3-[zeta = r1] >, Primary tenant - < tp >"))
        << log.dump();
    EXPECT_FALSE(log.contains("s3cret-pw"));
}

TEST_F(RestTest, FailedLoginsReportTheirCodeAndSentenceAndKeepNoSession) {
    const std::string connectFailed = "Connect to cluster-[clusterA] using control host-[127.0.0.1] failed.";
    const std::string noSession = "Invalid login response. The field-[sessionId] is either not present or empty.";
    const std::string page = "oops password:'pw' " + std::string(5000, 'z');
    auto login = [&] {
        ctx().arrayDetails.sessionId.clear();
        int rc = utils().rest_connectToArray();
        EXPECT_EQ("", ctx().arrayDetails.sessionId);
        return rc;
    };
    LogCapture log;
    expectAnswers({
        {login, R"({"message":"denied"})", 1, connectFailed, 401},
        {login, "", 1, connectFailed, 500},
        {login, "not json", 1, "Failed to parse the REST response-[not json]"},
        // A page that is no JSON reaches the host masked and cut, and names nothing else.
        {login, page, 1,
         "Failed to parse the REST response-[oops password:**** " + std::string(4096 - 19, 'z') + "...]"},
        {login, okAnswer("Login", R"({"userName":"admin"})"), 19, noSession},
        {login, okAnswer("Login", R"({"sessionId":12345})"), 19, noSession},
        {login, okAnswer("Login", R"(["sid"])"), 19, "Invalid Login response. Expecting field-[result]"},
        {login, errorAnswer("Login", "bad user"), 19, "The Login request has failed. REST Error-[bad user ]"},
    });
    EXPECT_FALSE(log.contains("s3cret-pw"));
}

// The same sentence for every failed login; the words that follow it say which failure it was.
TEST_F(RestTest, AFailedLoginSaysWhetherThePasswordThePortOrTheLineWasWrong) {
    const std::string sentence = "Connect to cluster-[clusterA] using control host-[127.0.0.1] failed.";
    const std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] { srv.reply(401, R"({"status":"error","message":"denied"})"); },
         "Authentication failed. Please check whether correct credentials are provided"},
        {[&] { srv.replyDrop(); }, "transfer closed"},
        {[&] { ctx().arrayDetails.arrayConfigs.serverPort = 1; }, "Failed to connect to 127.0.0.1 port 1"},
    };
    for (const auto& [arrange, why] : rows) {
        ctx().resetError();
        ctx().restErrors.str("");
        arrange();
        EXPECT_EQ(1, utils().rest_connectToArray());
        const std::string text = ctx().getFinalErrorStr();
        EXPECT_EQ(0u, text.find(sentence + "\nErrors returned by cluster-[" + why)) << text;
    }
}

TEST_F(RestTest, EnvelopeIsCheckedStatusFirstThenTypeThenResultShape) {
    const std::string noResult = "Invalid X response. Expecting field-[result]";
    const std::string noMessage =
        "The X request has failed. REST Error-[\"message\" tag not found in REST error response]";
    // {answer, result check (0 none, 1 object, 2 array), code, sentence}
    const std::vector<std::tuple<std::string, int, unsigned int, std::string>> rows = {
        {R"({"status":"bad","type":"Other","message":"broken"})", 1, 19,
         "The X request has failed. REST Error-[broken ]"},
        {R"({"type":"X","result":{}})", 0, 19, noMessage},
        {R"({"status":"ok","type":"Other"})", 1, 19, "The REST reponse type received-[Other] - expecting type-[X]"},
        {R"({"status":"ok","type":"X","result":"text"})", 0, 0, ""},
        {R"({"status":"ok","type":"X"})", 1, 19, noResult},
        {R"({"status":"ok","type":"X","result":[]})", 1, 19, noResult},
        {R"({"status":"ok","type":"X","result":{}})", 2, 19, noResult},
        {R"({"status":"ok","type":"X","result":{}})", 1, 0, ""},
        {R"({"status":"ok","type":"X","result":[]})", 2, 0, ""},
        {R"({"status":"ok","type":"X","result":[]})", 7, 19, noResult},
    };
    for (const auto& [answer, check, code, text] : rows) {
        ctx().resetError();
        ctx().restResponse = answer;
        JsonDocument doc;
        ASSERT_TRUE(doc.parseObject(answer));
        EXPECT_EQ(code, utils().processCommonResp(doc.root(), "X", check)) << answer;
        EXPECT_EQ(text, errorText()) << answer;
        EXPECT_EQ(code == 0 ? -1 : 19, ctx().errorCode) << answer;
    }
}

TEST_F(RestTest, LogoutSendsTheSessionAndItsFailuresLeaveTheErrorStateAlone) {
    ctx().errorCode = 9;
    ctx().errorText << "earlier failure";
    LogCapture log;
    const std::string garbage = "garbage sessionId:'sess-0123456789' " + std::string(5000, 'g');
    for (const ScriptedReply& failure :
         {ScriptedReply{500, R"({"message":"x"})"}, ScriptedReply::dropped(), ScriptedReply{200, garbage},
          ScriptedReply{200, errorAnswer("Logout", "expired")}, ScriptedReply{200, okAnswer("Login")}}) {
        srv.reply(failure);
        EXPECT_EQ(1u, utils().rest_disconnectArray()) << failure.body;
        EXPECT_EQ(9, ctx().errorCode);
        EXPECT_EQ("earlier failure", errorText());
    }
    // An answer that is no JSON is logged like any other: masked and cut.
    const std::string masked = "garbage sessionId:" + std::string(17, '*') + " ";
    EXPECT_TRUE(log.containsAt(
        -1, "KRVN  Failed to parse REST response-[" + masked + std::string(4096 - masked.size(), 'g') + "...]"))
        << log.dump().substr(0, 2000);
    EXPECT_FALSE(log.contains("sess-0123456789"));
    srv.reply(200, okAnswer("Logout"));
    EXPECT_EQ(0u, utils().rest_disconnectArray());
    EXPECT_EQ("{type:Logout, category:UserManagement, sessionId:'sess-0123456789'}", srv.lastRequest().request);
    EXPECT_EQ(9, ctx().errorCode);
    EXPECT_EQ(kTestSessionId, ctx().arrayDetails.sessionId);
}

TEST_F(RestTest, LoginAndLogoutOverHttpsVerifyTheCertificate) {
    const TestCert& cert = TestCert::shared();
    ASSERT_TRUE(cert.ok()) << cert.error();
    ScriptedServer tls;
    ASSERT_TRUE(tls.startHttpsFiles(cert.certFile(), cert.keyFile()));
    settings.set("Platform", "caFile", cert.certFile());
    {
        KrvnTestSession s(tls);
        EXPECT_EQ(0u, s.loginResult) << s.ctx.errorString();
        tls.reply(200, okAnswer("Logout"));
        EXPECT_EQ(0u, s.utils.rest_disconnectArray());
        EXPECT_EQ(1u, tls.requestCount());
    }
    // A peer whose certificate the configured CA did not sign is refused before any request.
    settings.set("Platform", "caFile", cert.otherCertFile());
    tls.clearRequests();
    KrvnTestSession refused(tls);
    EXPECT_EQ(1u, refused.loginResult);
    EXPECT_EQ(0u, tls.requestCount());
}

}  // namespace
