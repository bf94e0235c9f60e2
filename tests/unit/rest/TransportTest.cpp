// The HTTP transport on its own, against a scripted server.
#include <gtest/gtest.h>

#include "RestFixture.h"
#include "LogCapture.h"
#include "ScopedSettings.h"
#include "ScriptedServer.h"
#include "ZYSnapRESTAPI.h"
#include "ZYSnapRESTTexts.h"
#include "EvDebug.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(srv.start());
        logger = std::make_unique<EvDebug>(nullptr);
        configure();
    }
    void configure() {
        api.reset();
        api.setLogger(logger.get());
        api.setRelativeBasePath(ZY_KRVN_REST_API_BASE_EP);
        api.setContentType(ZY_KRVN_REST_HDR_CONTENT_TYPE);
        api.setProtocolType(ZY_KRVN_REST_CONNECTION_HTTP);
        api.setServer("127.0.0.1:" + std::to_string(srv.port()));
        api.setLogging(true);
    }
    bool connect(const std::string& body = "request={login}") {
        srv.reply(200, R"({"status":"ok"})");
        std::string response;
        return api.connect("", body, response);
    }

    QuietSettings settings;
    ScriptedServer srv;
    std::unique_ptr<EvDebug> logger;
    ZYSnapRESTAPI api;
};

TEST_F(TransportTest, UrlIsProtocolServerBasePathAndRelativePath) {
    ZYSnapRESTAPI other;
    other.setProtocolType("https");
    other.setServer("array.example:8443");
    other.setRelativeBasePath("rest");
    std::string url;
    EXPECT_TRUE(other.formURLPath("", url));
    EXPECT_EQ("https://array.example:8443/rest/", url);
    EXPECT_TRUE(other.formURLPath("x/y", url));
    EXPECT_EQ("https://array.example:8443/rest/x/y", url);
}

TEST_F(TransportTest, EachKindTravelsAsItsMethodWithTheAcceptAndFormHeaders) {
    ASSERT_TRUE(connect());
    using Call = bool (ZYSnapRESTAPI::*)(const std::string&, const std::string&, std::string&);
    const std::vector<std::pair<Call, std::string>> calls = {
        {&ZYSnapRESTAPI::get, "GET"},    {&ZYSnapRESTAPI::post, "POST"},  {&ZYSnapRESTAPI::put, "PUT"},
        {&ZYSnapRESTAPI::del, "DELETE"}, {&ZYSnapRESTAPI::patch, "PATCH"},
    };
    for (const auto& [call, method] : calls) {
        srv.clearRequests();
        srv.reply(200, R"({"a":1})");
        std::string response;
        EXPECT_TRUE((api.*call)("", "request={x:1}", response)) << method;
        ASSERT_EQ(1u, srv.requestCount()) << method;
        RecordedRequest seen = srv.lastRequest();
        EXPECT_EQ(method, seen.method);
        EXPECT_EQ("/rest/", seen.path);
        EXPECT_EQ("application/json", seen.header("Accept")) << method;
        EXPECT_EQ(R"({"a":1})", response);
    }
    // Every request travelled over the connection the login opened.
    EXPECT_EQ(1u, srv.connectionCount());
    std::string response;
    EXPECT_FALSE(api.sendReq(7, "", "request={x:1}", response));
}

TEST_F(TransportTest, RequestsBeforeConnectOrAfterResetFailAtTheGate) {
    LogCapture log;
    std::string response = "untouched";
    EXPECT_FALSE(api.post("", "request={x:1}", response));
    EXPECT_EQ("untouched", response);
    EXPECT_EQ(0u, srv.requestCount());
    EXPECT_TRUE(log.containsAt(-1, "KRVN  Error: Connect module has to be called before making any queries."));

    ASSERT_TRUE(connect());
    configure();   // reset() closes the gate again: a new login must follow
    EXPECT_FALSE(api.post("", "request={x:1}", response));
    EXPECT_EQ(1u, srv.requestCount());

    ASSERT_TRUE(connect());
    srv.reply(200, "{}");
    EXPECT_TRUE(api.disconnect("", "request={logout}", response));
    EXPECT_FALSE(api.post("", "request={x:1}", response));
    EXPECT_EQ(3u, srv.requestCount());
}

TEST_F(TransportTest, RejectedLoginGivesTheAuthenticationTextOnlyFor401) {
    srv.reply(401, R"({"message":"bad credentials"})");
    std::string response;
    EXPECT_FALSE(api.connect("", "request={login}", response));
    EXPECT_EQ("Authentication failed. Please check whether correct credentials are provided", response);

    configure();
    srv.reply(503, R"({"message":"busy"})");
    response.clear();
    EXPECT_FALSE(api.connect("", "request={login}", response));
    EXPECT_EQ(R"({"message":"busy"})", response);
    // A failed login leaves the gate closed.
    EXPECT_FALSE(api.post("", "request={x:1}", response));
    EXPECT_EQ(2u, srv.requestCount());
}

TEST_F(TransportTest, EmptyAnswerIsLoggedAndLeavesTheResponseAlone) {
    ASSERT_TRUE(connect());
    LogCapture log;
    srv.reply(200, "");
    std::string response = "previous";
    EXPECT_TRUE(api.post("", "request={x:1}", response));
    EXPECT_EQ("previous", response);
    EXPECT_TRUE(log.containsAt(-1, "KRVN  Empty response received for request. URL-[ http://127.0.0.1:"));
}

TEST_F(TransportTest, FormValueIsPercentEncodedSoReservedCharactersArriveIntact) {
    ASSERT_TRUE(connect());
    const std::string value = "{name:'a+b%20c&d=e f/~*'}";
    srv.reply(200, "{}");
    std::string response;
    ASSERT_TRUE(api.post("", "request=" + value, response));
    RecordedRequest seen = srv.lastRequest();
    EXPECT_TRUE(seen.hasRequestField);
    EXPECT_EQ(value, seen.request);
    EXPECT_EQ(std::string::npos, seen.body.find_first_of("+&' {}", std::string("request=").size())) << seen.body;
    EXPECT_EQ("application/x-www-form-urlencoded", seen.header("Content-Type"));
}

TEST_F(TransportTest, LogShowsRequestAndResponseMaskedAndUnencoded) {
    LogCapture log;
    ASSERT_TRUE(connect("request={params:{userName:'u', password:'pw+&1'}}"));
    srv.reply(200, R"({"result":{"sessionId":"sid-77","x":1},"tail":"password:zz"})");
    std::string response;
    ASSERT_TRUE(api.post("", "request={type:X, sessionId:'sid-77'}", response));
    for (const std::string& line : log.texts()) {
        EXPECT_EQ(std::string::npos, line.find("pw+&1")) << line;
        EXPECT_EQ(std::string::npos, line.find("sid-77")) << line;
        EXPECT_EQ(std::string::npos, line.find("%27")) << line;   // never the encoded form
    }
    EXPECT_TRUE(log.containsAt(-1, "Request-[ request={type:X, sessionId:********} ] : <<{\"result\":{\"sessionId\":********,"))
        << log.dump();
    EXPECT_TRUE(log.contains("password:*******}}"));

    // With response logging off, the answer is not written at all.
    log.clear();
    api.setLogging(false);
    srv.reply(200, R"({"k":"visible-only-when-logging"})");
    ASSERT_TRUE(api.post("", "request={x:1}", response));
    EXPECT_FALSE(log.contains("visible-only-when-logging"));
}

}  // namespace
