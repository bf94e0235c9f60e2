// Login, logout, transport configuration and the envelope check.
#include "RestFixture.h"
#include "TestCert.h"
#include "ZYSnapRESTAPI.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

const char* const kLoginBody =
    "request={type:Login, category:UserManagement, params:{userName:'admin', password:'s3cret-pw', cluster:'clusterA'}}";

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(srv.start()); }
    QuietSettings settings;
    ScriptedServer srv;
};

TEST_F(SessionTest, ClientIsConfiguredFromTheArrayDetails) {
    KrvnTestSession s(srv, false);
    std::string url;
    s.ctx.arrayDetails.arrayConfigs.serverPort = 0;
    s.ctx.arrayDetails.arrayConfigs.useHttps = true;
    ASSERT_EQ(0u, s.utils.rest_initializeClient());
    ZYSnapRESTAPI* first = s.ctx.restClient;
    ASSERT_NE(nullptr, first);
    first->formURLPath("", url);
    EXPECT_EQ("https://127.0.0.1/rest/", url);

    s.ctx.arrayDetails.arrayConfigs.serverPort = 8080;
    s.ctx.arrayDetails.arrayConfigs.useHttps = false;
    ASSERT_EQ(0u, s.utils.rest_initializeClient());
    EXPECT_EQ(first, s.ctx.restClient);   // configured afresh, not replaced
    s.ctx.restClient->formURLPath("", url);
    EXPECT_EQ("http://127.0.0.1:8080/rest/", url);
}

TEST_F(SessionTest, LoginSendsCredentialsKeepsSessionIdAndLogsRolesInKeyOrder) {
    KrvnTestSession s(srv, false);
    LogCapture log;
    srv.reply(200, R"({"status":"ok","type":"Login","requestId":"r","result":{"sessionId":"sid-1","userName":"admin",)"
                   R"("primaryTenant":"tp","roles":{"zeta":"r1","alpha":"r2","mid":5}}})");
    ASSERT_EQ(0u, s.utils.rest_connectToArray());
    EXPECT_EQ("sid-1", s.ctx.arrayDetails.sessionId);
    EXPECT_EQ(kLoginBody, "request=" + srv.lastRequest().request);
    EXPECT_EQ("POST", srv.lastRequest().method);
    EXPECT_TRUE(log.containsAt(0, "KRVN  The user-[admin] details : Roles - < Tenant #1-[alpha = r2], "
                                  "Tenant #2-[mid = ], Tenant #3-[zeta = r1] >, Primary tenant - < tp >"))
        << log.dump();
    EXPECT_TRUE(log.containsAt(0, "KRVN >>  Successfully connected to cluster-[clusterA] as [admin] user."));
    EXPECT_TRUE(log.containsAt(2, "KRVN  Connecting to cluster-[clusterA]..."));
    EXPECT_TRUE(log.containsAt(3, "KRVN  Connecting to cluster-[clusterA]... - done"));
    EXPECT_FALSE(log.contains("s3cret-pw"));
    EXPECT_EQ(-1, s.ctx.errorCode);
}

TEST_F(SessionTest, FailedLoginsReportTheirCodeAndSentenceAndKeepNoSession) {
    struct Row {
        int status;
        std::string answer;
        unsigned int code;
        std::string text;
    };
    const std::string connectFailed = "Connect to cluster-[clusterA] using control host-[127.0.0.1] failed.";
    const std::string noSession = "Invalid login response. The field-[sessionId] is either not present or empty.";
    const std::vector<Row> rows = {
        {401, R"({"message":"denied"})", 1, connectFailed},
        {500, "", 1, connectFailed},
        {200, "not json", 1, "Failed to parse the REST response-[not json]"},
        {200, okAnswer("Login", R"({"userName":"admin"})"), 19, noSession},
        {200, okAnswer("Login", R"({"sessionId":""})"), 19, noSession},
        {200, okAnswer("Login", R"({"sessionId":12345})"), 19, noSession},
        {200, okAnswer("Login", R"(["sid"])"), 19, "Invalid Login response. Expecting field-[result]"},
        {200, errorAnswer("Login", "bad user"), 19, "The Login request has failed. REST Error-[bad user ]"},
    };
    for (const Row& row : rows) {
        KrvnTestSession s(srv, false);
        LogCapture log;
        srv.reply(row.status, row.answer);
        EXPECT_EQ(row.code, s.utils.rest_connectToArray()) << row.answer;
        EXPECT_EQ(static_cast<int>(row.code), s.ctx.errorCode) << row.answer;
        EXPECT_EQ(row.text, s.ctx.errorString()) << row.answer;
        EXPECT_TRUE(s.ctx.arrayDetails.sessionId.empty());
        if (row.status == 401) {
            EXPECT_TRUE(log.contains("Authentication failed. Please check whether correct credentials are provided"));
        }
        EXPECT_FALSE(log.contains("s3cret-pw"));
        if (row.status != 200) {
            // Nothing can be sent on a transport whose login was refused.
            size_t before = srv.requestCount();
            std::string response;
            EXPECT_FALSE(s.ctx.restClient->post("", "request={x:1}", response));
            EXPECT_EQ(before, srv.requestCount());
        }
    }
}

TEST_F(SessionTest, EnvelopeIsCheckedStatusFirstThenTypeThenResultShape) {
    struct Row {
        std::string answer;
        int check;
        unsigned int code;
        std::string text;
    };
    const std::string noResult = "Invalid X response. Expecting field-[result]";
    const std::vector<Row> rows = {
        {R"({"status":"bad","type":"Other","message":"broken"})", 1, 19, "The X request has failed. REST Error-[broken ]"},
        {R"({"status":5,"type":"X","result":{}})", 0, 19,
         "The X request has failed. REST Error-[\"message\" tag not found in REST error response]"},
        {R"({"type":"X","result":{}})", 0, 19,
         "The X request has failed. REST Error-[\"message\" tag not found in REST error response]"},
        {R"({"status":"ok","type":"Other","result":[]})", 2, 19,
         "The REST reponse type received-[Other] - expecting type-[X]"},
        {R"({"status":"ok","type":["X"]})", 0, 19, "The REST reponse type received-[] - expecting type-[X]"},
        {R"({"status":"ok","type":"X"})", 0, 0, ""},
        {R"({"status":"ok","type":"X","result":"text"})", 0, 0, ""},
        {R"({"status":"ok","type":"X"})", 1, 19, noResult},
        {R"({"status":"ok","type":"X","result":[]})", 1, 19, noResult},
        {R"({"status":"ok","type":"X","result":{}})", 2, 19, noResult},
        {R"({"status":"ok","type":"X","result":null})", 2, 19, noResult},
        {R"({"status":"ok","type":"X","result":{}})", 1, 0, ""},
        {R"({"status":"ok","type":"X","result":[]})", 2, 0, ""},
        {R"({"status":"ok","type":"X","result":[]})", 7, 19, noResult},
    };
    KrvnTestSession s(srv, false);
    for (const Row& row : rows) {
        s.ctx.resetError();
        s.ctx.restResponse = row.answer;
        JsonDocument doc;
        ASSERT_TRUE(doc.parseObject(row.answer));
        EXPECT_EQ(row.code, s.utils.processCommonResp(doc.root(), "X", row.check)) << row.answer;
        EXPECT_EQ(row.text, s.ctx.errorString()) << row.answer;
        EXPECT_EQ(row.code == 0 ? -1 : 19, s.ctx.errorCode) << row.answer;
    }
}

TEST_F(SessionTest, LogoutSendsTheSessionAndItsFailuresLeaveTheErrorStateAlone) {
    KrvnTestSession s(srv);
    ASSERT_EQ(0u, s.loginResult);
    const std::vector<ScriptedReply> failures = {
        ScriptedReply{500, R"({"message":"x"})"},
        ScriptedReply::dropped(),
        ScriptedReply{200, "garbage"},
        ScriptedReply{200, errorAnswer("Logout", "expired")},
        ScriptedReply{200, okAnswer("Login")},
        ScriptedReply{200, R"({"status":"ok"})"},
    };
    s.ctx.errorCode = 9;
    s.ctx.errorText << "earlier failure";
    for (const ScriptedReply& failure : failures) {
        srv.reply(failure);
        EXPECT_EQ(1u, s.utils.rest_disconnectArray()) << failure.body;
        EXPECT_EQ(9, s.ctx.errorCode);
        EXPECT_EQ("earlier failure", s.ctx.errorString());
        EXPECT_EQ(kTestSessionId, s.ctx.arrayDetails.sessionId);
    }
    srv.clearRequests();
    srv.reply(200, okAnswer("Logout"));
    EXPECT_EQ(0u, s.utils.rest_disconnectArray());
    EXPECT_EQ("{type:Logout, category:UserManagement, sessionId:'sess-0123456789'}", srv.lastRequest().request);
    EXPECT_EQ(9, s.ctx.errorCode);
    EXPECT_EQ(kTestSessionId, s.ctx.arrayDetails.sessionId);
}

TEST_F(SessionTest, LoginAndLogoutOverHttpsVerifyTheCertificate) {
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
    EXPECT_EQ("Connect to cluster-[clusterA] using control host-[127.0.0.1] failed.", refused.ctx.errorString());
}

}  // namespace
