// The masking rule every logged request and answer and every cluster text in a final error
// text goes through.
#include <gtest/gtest.h>

#include <string>

#include "KrvnMasking.h"

using namespace ZYKorvanCommon;

namespace {

TEST(SecretMasking, AQuotedValueIsMaskedWholeAndAnUnquotedOneToItsDelimiterOrTheEnd) {
    const std::pair<const char*, const char*> rows[] = {
        {"{'sessionId':'abc','type':'x'}", "{'sessionId':*****,'type':'x'}"},
        {"a sessionId:'s1', b sessionId:'s22'}", "a sessionId:****, b sessionId:*****}"},
        {"{'password':'p1','x':{'password':'p2'}}", "{'password':****,'x':{'password':****}}"},
        {"request={'params':{'userName':'u','password':'pw'},'sessionId':'sid'}",
         "request={'params':{'userName':'u','password':****},'sessionId':*****}"},
        // Whatever the quotes hold: commas, braces, the other quote, blanks.
        {"{type:'Login',params:{userName:'admin',password:'Pa,ss}w{o:r=d%+&$ \"1',cluster:'c'}}",
         "{type:'Login',params:{userName:'admin',password:**********************,cluster:'c'}}"},
        {R"({"sessionId":"a\"b,c}","x":1})", R"({"sessionId":*********,"x":1})"},
        {"password: 'a,b',x", "password:******,x"},
        {"password:'never closed, at all", "password:*********************"},
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

TEST(SecretMasking, CutTextsKeepTheirMaskAndSayWhatWasCut) {
    const std::string body = "password:'secret-value',rest";
    // A cut inside the quoted value leaves a quote that never closes: masked to the end.
    EXPECT_EQ("password:******... [28 bytes]", maskedForLog(body, 15));
    EXPECT_EQ("password:******...", maskedForError(body, 15));
    EXPECT_EQ("password:**************,rest", maskedForLog(body, 64));
    EXPECT_EQ("password:**************,rest", maskedForError(body, 28));

    const std::string big(ZY_KRVN_LOG_TEXT_LIMIT + 10, 'x');
    EXPECT_EQ(std::string(ZY_KRVN_LOG_TEXT_LIMIT, 'x') + "... [65546 bytes]", maskedForLog(big));
    EXPECT_EQ(std::string(ZY_KRVN_ERROR_TEXT_LIMIT, 'x') + "...", maskedForError(big));
}

}  // namespace
