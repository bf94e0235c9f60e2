// Stored password decryption under the key file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>

#include "ScopedSettings.h"
#include "ZYPassword.h"

namespace {

using krvntest::ScopedSettings;

class PasswordTest : public ::testing::Test {
protected:
    PasswordTest() {
        char tmpl[] = "/tmp/krvn-key-XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0) close(fd);
        keyFile_ = tmpl;
        writeKey(std::string(32, '\x5c'));
        settings_.set("Platform", "keyFile", keyFile_);
    }
    ~PasswordTest() override { std::remove(keyFile_.c_str()); }

    void writeKey(const std::string& bytes) {
        std::ofstream out(keyFile_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static bool decrypt(const std::string& stored, std::string* clear, unsigned long size = 512) {
        std::vector<char> buffer(size + 1, '#');
        unsigned long length = size;
        bool ok = ZYPassword::decrypt(stored.c_str(), buffer.data(), &length);
        EXPECT_EQ(buffer[size], '#') << "wrote past the caller's buffer";
        if (ok) *clear = buffer.data();
        return ok;
    }

    ScopedSettings settings_;
    std::string keyFile_;
};

TEST_F(PasswordTest, EncryptedTextDecryptsToTheClearText) {
    const std::vector<std::string> clears{"s3cret", "pässwörd with blanks", std::string(300, 'p'), ""};
    for (const std::string& clear : clears) {
        std::string stored, error, back;
        ASSERT_TRUE(ZYPassword::encrypt(clear, &stored, &error)) << error;
        EXPECT_EQ(stored.rfind("ZYP1:", 0), 0u);
        EXPECT_EQ(stored.find(clear.empty() ? "\x01" : clear), std::string::npos);
        ASSERT_TRUE(decrypt(stored, &back)) << clear;
        EXPECT_EQ(back, clear);

        std::string again;
        ASSERT_TRUE(ZYPassword::encrypt(clear, &again, &error));
        EXPECT_NE(again, stored) << "every text has its own nonce";
    }
}

TEST_F(PasswordTest, AnythingButAnIntactTextUnderThisKeyIsRefused) {
    std::string stored, error, clear;
    ASSERT_TRUE(ZYPassword::encrypt("s3cret", &stored, &error)) << error;
    std::string flipped = stored;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    std::string otherKey;
    ASSERT_TRUE(ZYPassword::encryptWithKey("s3cret", std::string(32, 'k'), &otherKey));
    std::string unpadded = stored;
    while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();

    for (const std::string& bad : {flipped, otherKey, "ZYP2:" + stored.substr(5), stored.substr(5),
                                   stored.substr(0, stored.size() - 4), stored + "AAAA",
                                   std::string("ZYP1:"), std::string("ZYP1:!!!!"),
                                   std::string("plain password"), std::string()}) {
        EXPECT_FALSE(decrypt(bad, &clear)) << bad;
    }
    if (unpadded != stored) {
        EXPECT_FALSE(decrypt(unpadded, &clear));
    }
    EXPECT_FALSE(ZYPassword::decrypt(nullptr, &clear[0], nullptr));
}

TEST_F(PasswordTest, ClearTextMustFitTheCallersBufferWithItsTerminator) {
    std::string stored, error, clear;
    ASSERT_TRUE(ZYPassword::encrypt("abcdef", &stored, &error)) << error;
    EXPECT_FALSE(decrypt(stored, &clear, 6));
    ASSERT_TRUE(decrypt(stored, &clear, 7));
    EXPECT_EQ(clear, "abcdef");

    std::string withNul;
    ASSERT_TRUE(ZYPassword::encryptWithKey(std::string("ab\0cd", 5), std::string(32, '\x5c'), &withNul));
    EXPECT_FALSE(decrypt(withNul, &clear)) << "a clear text cut at a NUL is not the password";
}

TEST_F(PasswordTest, KeyFileMustHoldExactlyThirtyTwoBytes) {
    std::string stored, error, clear;
    ASSERT_TRUE(ZYPassword::encrypt("s3cret", &stored, &error)) << error;
    for (const std::string& key : {std::string(31, '\x5c'), std::string(33, '\x5c'), std::string()}) {
        writeKey(key);
        EXPECT_FALSE(decrypt(stored, &clear)) << key.size();
        std::string ignored;
        EXPECT_FALSE(ZYPassword::encrypt("x", &ignored, &error));
        EXPECT_NE(error.find(keyFile_), std::string::npos);
    }
    settings_.set("Platform", "keyFile", "/nonexistent/secret.key");
    EXPECT_FALSE(decrypt(stored, &clear));
}

}  // namespace
