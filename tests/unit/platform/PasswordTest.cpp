// Stored password decryption under the key file.
#include <gtest/gtest.h>

#include <fstream>

#include "ScopedSettings.h"
#include "ZYPassword.h"

namespace {

class PasswordTest : public ::testing::Test {
protected:
    PasswordTest() {
        writeKey(std::string(32, '\x5c'));
        settings_.set("Platform", "keyFile", keyFile_);
    }
    ~PasswordTest() override { std::remove(keyFile_.c_str()); }
    void writeKey(const std::string& bytes) { std::ofstream(keyFile_, std::ios::binary | std::ios::trunc) << bytes; }
    std::string encrypt(const std::string& clear) {
        std::string stored, error;
        EXPECT_TRUE(ZYPassword::encrypt(clear, &stored, &error)) << error;
        return stored;
    }
    // Decrypts into a buffer of `size` bytes guarded by one more.
    static bool decrypt(const std::string& stored, std::string* clear, unsigned long size = 512) {
        std::vector<char> buffer(size + 1, '#');
        unsigned long length = size;
        const bool ok = ZYPassword::decrypt(stored.c_str(), buffer.data(), &length);
        EXPECT_EQ(buffer[size], '#') << "wrote past the caller's buffer";
        if (ok) *clear = buffer.data();
        return ok;
    }

    krvntest::ScopedSettings settings_;
    const std::string keyFile_ = settings_.path() + ".key";
};

TEST_F(PasswordTest, EncryptedTextDecryptsToTheClearTextWithAFreshNonceIntoABufferItFits) {
    for (const std::string& clear :
         {std::string("s3cret"), std::string("pässwörd with blanks"), std::string(300, 'p'), std::string()}) {
        const std::string stored = encrypt(clear);
        EXPECT_EQ(stored.rfind("ZYP1:", 0), 0u);
        EXPECT_TRUE(clear.empty() || stored.find(clear) == std::string::npos);
        std::string back;
        ASSERT_TRUE(decrypt(stored, &back)) << clear;
        EXPECT_EQ(back, clear);
        EXPECT_NE(encrypt(clear), stored) << "every text has its own nonce";
    }
    // The clear text must fit the caller's buffer with its terminator.
    std::string clear;
    EXPECT_FALSE(decrypt(encrypt("abcdef"), &clear, 6));
    ASSERT_TRUE(decrypt(encrypt("abcdef"), &clear, 7));
    EXPECT_EQ(clear, "abcdef");
}

TEST_F(PasswordTest, AnythingButAnIntactTextUnderThisKeyIsRefused) {
    const std::string stored = encrypt("s3cret");
    std::string flipped = stored, otherKey, clear;
    flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
    ASSERT_TRUE(ZYPassword::encryptWithKey("s3cret", std::string(32, 'k'), &otherKey));
    std::string withNul;  // a clear text cut at a NUL is not the password
    ASSERT_TRUE(ZYPassword::encryptWithKey(std::string("ab\0cd", 5), std::string(32, '\x5c'), &withNul));
    for (const std::string& bad : {flipped, otherKey, withNul, "ZYP2:" + stored.substr(5), stored.substr(5),
                                   stored.substr(0, stored.size() - 4), stored + "AAAA", std::string("ZYP1:"),
                                   std::string("ZYP1:!!!!"), std::string("plain password"), std::string()}) {
        EXPECT_FALSE(decrypt(bad, &clear)) << bad;
    }
    EXPECT_FALSE(ZYPassword::decrypt(nullptr, &clear[0], nullptr));
}

TEST_F(PasswordTest, KeyFileMustHoldExactlyThirtyTwoBytes) {
    const std::string stored = encrypt("s3cret");
    std::string clear, ignored, error;
    for (size_t size : {31u, 33u, 0u}) {
        writeKey(std::string(size, '\x5c'));
        EXPECT_FALSE(decrypt(stored, &clear)) << size;
        EXPECT_FALSE(ZYPassword::encrypt("x", &ignored, &error));
        EXPECT_NE(error.find(keyFile_), std::string::npos);
    }
    settings_.set("Platform", "keyFile", "/nonexistent/secret.key");
    EXPECT_FALSE(decrypt(stored, &clear));
}

}  // namespace
