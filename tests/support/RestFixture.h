// Shared fixture of the REST client tests: a scripted cluster, a logged-in context, and
// helpers that write the cluster's answers.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KrvnCommonCtx.h"
#include "KrvnCommonUtils.h"
#include "KrvnTestSession.h"
#include "LogCapture.h"
#include "ScopedSettings.h"
#include "ScriptedServer.h"

namespace krvntest {

// Test settings with virtual time whose log lines go nowhere but to a LogCapture.
struct QuietSettings : ScopedSettings {
    QuietSettings() { set("Platform", "logFile", "/dev/null"); }
};

class RestTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(srv.start());
        session = std::make_unique<KrvnTestSession>(srv);
        ASSERT_EQ(0u, session->loginResult);
    }

    ZYKorvanCommon::KrvnCommonUtils& utils() { return session->utils; }
    ZYKorvanCommon::KrvnCommonCtx& ctx() { return session->ctx; }
    std::string errorText() { return ctx().errorString(); }

    // One operation against one scripted answer: the code it returns and the sentence it leaves.
    struct AnswerCase {
        std::function<int()> operation;
        std::string answer;
        int code;
        std::string text;
        int status = 200;
    };
    void expectAnswers(const std::vector<AnswerCase>& cases) {
        for (const AnswerCase& c : cases) {
            ctx().resetError();
            srv.reply(c.status, c.answer);
            EXPECT_EQ(c.code, c.operation()) << c.answer;
            EXPECT_EQ(c.code ? c.code : -1, ctx().errorCode) << c.answer;
            EXPECT_EQ(c.text, errorText()) << c.answer;
        }
    }

    QuietSettings settings;
    ScriptedServer srv;
    std::unique_ptr<KrvnTestSession> session;
};

}  // namespace krvntest
