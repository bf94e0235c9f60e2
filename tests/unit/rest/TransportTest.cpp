// The HTTP transport as the session configures it, against a scripted server.
#include "KrvnMasking.h"
#include "RestFixture.h"
#include "ZYSnapRESTAPI.h"

namespace {

using namespace krvntest;
using namespace ZYKorvanCommon;

TEST_F(RestTest, UrlIsProtocolServerPortBasePathAndRelativePath) {
    auto& configs = ctx().arrayDetails.arrayConfigs;
    configs.serverPort = 0;  // no port: the scheme's own
    configs.useHttps = true;
    ASSERT_EQ(0u, utils().rest_initializeClient());
    std::string url;
    EXPECT_TRUE(ctx().restClient->formURLPath("x/y", url));
    EXPECT_EQ("https://127.0.0.1/rest/x/y", url);
}

TEST_F(RestTest, EachKindTravelsAsItsMethodWithItsHeadersAndAnEncodedForm) {
    using Call = bool (ZYSnapRESTAPI::*)(const std::string&, const std::string&, std::string&);
    const std::vector<std::pair<Call, std::string>> calls = {
        {&ZYSnapRESTAPI::get, "GET"},    {&ZYSnapRESTAPI::post, "POST"},   {&ZYSnapRESTAPI::put, "PUT"},
        {&ZYSnapRESTAPI::del, "DELETE"}, {&ZYSnapRESTAPI::patch, "PATCH"},
    };
    const std::string value = "{name:'a+b%20c&d=e f/~*'}";
    for (const auto& [call, method] : calls) {
        srv.reply(200, R"({"a":1})");
        std::string response;
        EXPECT_TRUE((ctx().restClient->*call)("", "request=" + value, response)) << method;
        EXPECT_EQ(R"({"a":1})", response);
        RecordedRequest seen = srv.lastRequest();
        EXPECT_EQ(method, seen.method);
        EXPECT_EQ("/rest/", seen.path);
        EXPECT_EQ("application/json", seen.header("Accept")) << method;
        EXPECT_EQ("application/x-www-form-urlencoded", seen.header("Content-Type")) << method;
        // Nothing after "request=" travels raw. The scripted server reads no body on a GET.
        EXPECT_TRUE(method == "GET" || seen.request == value) << method << ": " << seen.request;
        EXPECT_EQ(std::string::npos, seen.body.find_first_of("+&' {}", 8)) << seen.body;
    }
    EXPECT_EQ(calls.size(), srv.requestCount());
    EXPECT_EQ(1u, srv.connectionCount());  // all over the connection the login opened
    std::string response;
    EXPECT_FALSE(ctx().restClient->sendReq(7, "", "request={x:1}", response));
}

TEST_F(RestTest, RequestsFailAtTheGateUntilALoginSucceeds) {
    LogCapture log;
    ZYSnapRESTAPI* client = ctx().restClient;
    std::string response = "untouched";
    ASSERT_EQ(0u, utils().rest_initializeClient());  // a reset closes the gate
    EXPECT_FALSE(client->post("", "request={x:1}", response));
    EXPECT_EQ("untouched", response);
    EXPECT_TRUE(log.containsAt(-1, "KRVN  Error: Connect module has to be called before making any queries."));

    srv.reply(401, R"({"message":"bad credentials"})");
    EXPECT_FALSE(client->connect("", "request={login}", response));
    EXPECT_EQ("Authentication failed. Please check whether correct credentials are provided", response);
    srv.reply(503, R"({"message":"busy"})");
    EXPECT_FALSE(client->connect("", "request={login}", response));
    EXPECT_EQ(R"({"message":"busy"})", response);
    EXPECT_FALSE(client->post("", "request={x:1}", response));
    EXPECT_EQ(2u, srv.requestCount());

    srv.reply(200, R"({"status":"ok"})");
    ASSERT_TRUE(client->connect("", "request={login}", response));
    srv.reply(200, "{}");
    EXPECT_TRUE(client->disconnect("", "request={logout}", response));
    EXPECT_FALSE(client->post("", "request={x:1}", response));
    EXPECT_EQ(4u, srv.requestCount());
}

TEST_F(RestTest, EmptyAnswerIsLoggedAndLeavesTheResponseAlone) {
    LogCapture log;
    srv.reply(200, "");
    std::string response = "previous";
    EXPECT_TRUE(ctx().restClient->post("", "request={x:1}", response));
    EXPECT_EQ("previous", response);
    EXPECT_TRUE(log.containsAt(-1, "KRVN  Empty response received for request. URL-[ http://127.0.0.1:"));
}

TEST_F(RestTest, LogShowsRequestAndResponseMaskedAndUnencoded) {
    LogCapture log;
    ctx().arrayDetails.userPswd = "pw+&1";
    srv.reply(200, loginAnswer("sid-77"));
    ASSERT_EQ(0u, utils().rest_connectToArray());
    srv.reply(200, R"({"result":{"sessionId":"sid-77","x":1}})");
    std::string response;
    ASSERT_TRUE(ctx().restClient->post("", "request={type:X, sessionId:'sid-77'}", response));
    // The room the JSON reader needs to read the answer where it lies.
    EXPECT_GE(response.capacity() - response.size(), ZYSnapRESTAPI::kAnswerSlack);
    for (const std::string& line : log.texts()) {
        EXPECT_EQ(std::string::npos, line.find("pw+&1")) << line;
        EXPECT_EQ(std::string::npos, line.find("sid-77")) << line;
        EXPECT_EQ(std::string::npos, line.find("%27")) << line;  // never the encoded form
    }
    EXPECT_TRUE(log.containsAt(-1,
                               "Request-[ request={type:X, sessionId:********} ] : <<{\"result\":{\"sessionId\":"
                               "********,"))
        << log.dump();
    EXPECT_TRUE(log.contains("password:*******, cluster:"));

    log.clear();
    ctx().restClient->setLogging(false);
    srv.reply(200, R"({"k":"visible-only-when-logging"})");
    ASSERT_TRUE(ctx().restClient->post("", "request={x:1}", response));
    EXPECT_FALSE(log.contains("visible-only-when-logging"));
}

TEST_F(RestTest, PastTheCallsLogBudgetOnlyFailedExchangesAreLoggedWhole) {
    LogCapture log;
    const std::string answer = "{\"rows\":\"" + std::string(60000, 'r') + "\",\"end\":\"tail-mark\"}";
    const std::string cutNote = "... [" + std::to_string(answer.size()) + " bytes]";
    const size_t requests = ZY_KRVN_LOG_CALL_BUDGET / answer.size() + 3;
    size_t whole = 0, cut = 0;
    for (size_t i = 0; i < requests; ++i) {
        srv.reply(200, answer);
        std::string response;
        ASSERT_TRUE(ctx().restClient->post("", "request={type:X, n:" + std::to_string(i) + "}", response));
        EXPECT_EQ(answer, response);  // the caller always gets the whole answer
        const std::vector<std::string> lines = log.texts();
        const std::string& line =
            lines.back().find("Response for URL") != std::string::npos ? lines.back() : lines[lines.size() - 2];
        ASSERT_NE(std::string::npos, line.find("n:" + std::to_string(i) + "}")) << i;
        if (line.find("tail-mark") != std::string::npos) {
            EXPECT_EQ(0u, cut) << "a whole answer after a cut one, at " << i;
            ++whole;
        } else {
            EXPECT_NE(std::string::npos, line.find(cutNote)) << i;
            EXPECT_LT(line.size(), ZY_KRVN_LOG_TEXT_LIMIT_PAST_BUDGET + 200) << i;
            ++cut;
        }
    }
    // Whole until the texts logged reach the budget, then heads only; the switch is said once.
    EXPECT_EQ(ZY_KRVN_LOG_CALL_BUDGET / answer.size() + 1, whole) << "answers logged whole";
    EXPECT_EQ(requests - whole, cut);
    EXPECT_EQ(1u, log.count("from here on each is logged cut at [256] bytes"));

    // A failed exchange is what support reads first: whole, however much the call has logged.
    srv.reply(500, answer);
    std::string response;
    EXPECT_FALSE(ctx().restClient->post("", "request={type:X, failed:1}", response));
    const std::string last = log.texts().back();
    EXPECT_NE(std::string::npos, last.find("failed:1}")) << last.substr(0, 200);
    EXPECT_NE(std::string::npos, last.find("tail-mark")) << "a failed exchange cut to its head";
}

}  // namespace
