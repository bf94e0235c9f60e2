// ZYPassword: decryption of stored cluster passwords.
//
// Stored form: "ZYP1:" + base64 (standard, padded) of a 24-byte nonce followed by the
// libsodium crypto_secretbox_easy ciphertext, under the 32-byte key in [Platform] keyFile
// (default /etc/zykorvan/secret.key). Anything else fails.
#pragma once

#include <string>

class ZYPassword {
public:
    // out: caller's buffer of *length bytes. True on success, the clear text NUL-terminated.
    static bool decrypt(const char* in, char* out, unsigned long* length);
    // The stored form of a clear text under the configured key (korvan-host encrypt-password).
    static bool encrypt(const std::string& clear, std::string* stored, std::string* error);
    // Same with an explicit 32-byte key (tests, key generation).
    static bool encryptWithKey(const std::string& clear, const std::string& key, std::string* stored);
    static bool decryptWithKey(const std::string& stored, const std::string& key, std::string* clear);
};
