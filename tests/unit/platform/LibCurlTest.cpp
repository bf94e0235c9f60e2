// The platform HTTP client against a local server, over HTTP and HTTPS.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "ScopedSettings.h"
#include "ScriptedServer.h"
#include "TestCert.h"
#include "ZYLibCurl.h"
#include "ZYPlatformInfo.h"
#include "ZyHttpCallTally.h"

namespace {

using krvntest::RecordedRequest;
using krvntest::ScriptedReply;
using krvntest::TestCert;

constexpr const char* kFormType = "Content-Type: application/x-www-form-urlencoded";

class HttpClientTest : public ::testing::Test {
protected:
    HttpClientTest() { EXPECT_TRUE(curl_.ZYLibCurlInit(kFormType, true, false, nullptr)); }
    std::string url() const {
        return (server_.https() ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(server_.port()) +
               "/rest/";
    }
    // As the transport sends: one Accept header per request.
    bool send(_http_req_type_ type, const std::string& body = "request=x", const std::string& to = "") {
        curl_.ZYLibCurlFreeHttpHeaderList();
        curl_.ZYLibCurlAppendHeader(ZY_HTTP_HDR_GENERIC, "Accept: application/json");
        const std::string target = to.empty() ? url() : to;
        return curl_.ZYLibCurlSendHttpReq(type, target.c_str(), body.empty() ? nullptr : body.data(), body.size(),
                                          false, nullptr);
    }
    std::string response() {
        size_t length = 0;
        const char* text = curl_.GetHttpResponse(length, false);
        if (!text) return "<none>";
        EXPECT_EQ(text[length], '\0');
        return std::string(text, length);
    }

    krvntest::ScopedSettings settings_;
    krvntest::ScriptedServer server_;
    ZYLibCurl curl_;
};

// Inside an entry call's settings scope the client keeps the handle's options between requests
// and sets only what a request changes: the verb and body of one must never reach the next.
// The CPU tally counts each request while it is on, and nothing while off.
TEST_F(HttpClientTest, MethodBodyAndHeadersReachTheServerOverOneConnection) {
    ASSERT_TRUE(server_.start());
    const std::pair<_http_req_type_, const char*> methods[] = {
        {ZY_HTTP_REQ_GET, "GET"},       {ZY_HTTP_REQ_POST, "POST"},   {ZY_HTTP_REQ_PUT, "PUT"},
        {ZY_HTTP_REQ_DELETE, "DELETE"}, {ZY_HTTP_REQ_PATCH, "PATCH"}, {ZY_HTTP_REQ_POST, "POST"},
        {ZY_HTTP_REQ_GET, "GET"}};
    const std::string bodies[] = {"",
                                  "request=%7B%22type%22%3A%22Login%22%7D",
                                  "request=put-body",
                                  "",
                                  "request=patch-body",
                                  std::string(70000, 'b'),  // past any 100-continue limit
                                  ""};
    for (bool inScope : {false, true}) {
        SCOPED_TRACE(inScope ? "in a settings scope" : "outside any scope");
        std::unique_ptr<ZYPlatformSettingsScope> scope;
        if (inScope) scope = std::make_unique<ZYPlatformSettingsScope>();
        server_.clearRequests();
        ZyPlatform::setHttpCallTally(inScope);
        const ZyPlatform::HttpCallTally before = ZyPlatform::httpCallTally();
        for (size_t i = 0; i < std::size(methods); ++i) {
            const std::string answer = std::string("answer to ") + methods[i].second;
            server_.reply(200, answer);
            ASSERT_TRUE(send(methods[i].first, bodies[i])) << curl_.GetLastError();
            EXPECT_EQ(curl_.GetHttpErrorCode(), 200);
            EXPECT_EQ(response(), answer);
            RecordedRequest seen = server_.lastRequest();
            EXPECT_EQ(seen.method, methods[i].second);
            EXPECT_EQ(seen.path, "/rest/");
            EXPECT_EQ(seen.body, bodies[i]) << i;
            EXPECT_EQ(seen.header("Accept"), "application/json") << i;
            if (!bodies[i].empty()) {
                EXPECT_EQ(seen.header("Content-Type"), "application/x-www-form-urlencoded") << i;
            }
        }
        EXPECT_EQ(server_.requests()[1].request, "{\"type\":\"Login\"}");
        ZyPlatform::setHttpCallTally(false);
        const ZyPlatform::HttpCallTally after = ZyPlatform::httpCallTally();
        EXPECT_EQ(after.calls - before.calls, inScope ? static_cast<long long>(std::size(methods)) : 0);
        EXPECT_EQ(after.cpuNs > before.cpuNs, inScope);
    }
    EXPECT_EQ(server_.connectionCount(), 1u);
}

TEST_F(HttpClientTest, ErrorStatusFailsWithTheBodyKeptAndTransportErrorsCarryCurlsText) {
    ASSERT_TRUE(server_.start());
    for (int status : {400, 404, 500}) {
        const std::string body = "{\"code\":" + std::to_string(status) + "}";
        server_.reply(status, body);
        EXPECT_FALSE(send(ZY_HTTP_REQ_POST)) << status;
        EXPECT_EQ(curl_.GetHttpErrorCode(), status);
        EXPECT_EQ(response(), body);
    }
    server_.reply(204, "");
    EXPECT_TRUE(send(ZY_HTTP_REQ_POST));
    EXPECT_EQ(response(), "<none>");

    // Without an answer, the reason stands where the answer would.
    server_.replyDrop();
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST));
    EXPECT_FALSE(curl_.GetLastError().empty());
    EXPECT_EQ(response(), curl_.GetLastError());
    const std::string closedPort = url();
    server_.stop();
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST, "request=x", closedPort));
    EXPECT_NE(curl_.GetLastError().find("onnect"), std::string::npos) << curl_.GetLastError();
    EXPECT_EQ(response(), curl_.GetLastError());

    ZYLibCurl uninitialised;
    EXPECT_FALSE(uninitialised.ZYLibCurlSendHttpReq(ZY_HTTP_REQ_GET, closedPort.c_str(), nullptr, 0, false, nullptr));
    EXPECT_FALSE(uninitialised.GetLastError().empty());
}

TEST_F(HttpClientTest, AnAnswerPastTheSizeLimitIsNotReadAndTheSentenceNamesTheLimit) {
    ASSERT_TRUE(server_.start());
    settings_.set("Platform", "maxResponseMB", "1");
    server_.reply(200, std::string(3 << 20, 'a'));
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST));
    EXPECT_EQ("The answer is larger than the limit of 1 MB ([Platform] maxResponseMB); it was not read further",
              response());
    EXPECT_EQ(response(), curl_.GetLastError());
    server_.reply(200, std::string(1 << 20, 'b'));  // the limit itself is still read
    EXPECT_TRUE(send(ZY_HTTP_REQ_POST)) << curl_.GetLastError();
    EXPECT_EQ(size_t{1} << 20, response().size());
}

TEST_F(HttpClientTest, RequestTimeOutEndsASlowExchange) {
    ASSERT_TRUE(server_.start());
    settings_.set("Platform", "requestTimeoutSec", "1");
    std::atomic<bool> release{false};
    server_.reply([&release](const RecordedRequest&) {
        // Up to 3 s, but let go once the client has given up so the test ends quickly.
        for (int i = 0; i < 300 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return ScriptedReply{200, "late", "text/plain", false};
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    release = true;
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
    EXPECT_NE(curl_.GetLastError().find("imed out"), std::string::npos) << curl_.GetLastError();
}

TEST_F(HttpClientTest, UntrustedCertificateIsRefusedUnlessVerificationIsExplicitlyOff) {
    const TestCert& cert = TestCert::shared();
    ASSERT_TRUE(cert.ok()) << cert.error();
    ASSERT_TRUE(server_.startHttpsFiles(cert.certFile(), cert.keyFile()));
    server_.setDefault(200, "{\"status\":\"ok\"}");
    settings_.set("Platform", "caFile", cert.otherCertFile());
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST));
    EXPECT_FALSE(curl_.GetLastError().empty());
    settings_.erase("Platform", "caFile");  // the system store does not know it either
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST));
    settings_.set("Platform", "tlsVerify", "no");  // only an explicit 0 turns checks off
    EXPECT_FALSE(send(ZY_HTTP_REQ_POST));
    EXPECT_EQ(server_.requestCount(), 0u);

    settings_.set("Platform", "tlsVerify", "0");
    EXPECT_TRUE(send(ZY_HTTP_REQ_POST)) << curl_.GetLastError();
    settings_.erase("Platform", "tlsVerify");
    settings_.set("Platform", "caFile", cert.certFile());
    EXPECT_TRUE(send(ZY_HTTP_REQ_POST)) << curl_.GetLastError();
    EXPECT_EQ(response(), "{\"status\":\"ok\"}");
    EXPECT_EQ(server_.requestCount(), 2u);
}

}  // namespace
