// Stored cluster passwords: "ZYP1:" + base64(nonce || secretbox ciphertext) under a 32-byte key.
#include "ZYPassword.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "PlatformSettings.h"
#include "ZYPlatformInfo.h"

namespace {

constexpr const char* kPrefix = "ZYP1:";
constexpr size_t kKeyBytes = crypto_secretbox_KEYBYTES;
static_assert(crypto_secretbox_KEYBYTES == 32, "the key file holds 32 bytes");
static_assert(crypto_secretbox_NONCEBYTES == 24, "the stored form carries a 24-byte nonce");

constexpr const char* kSodiumFailed = "libsodium cannot be initialised";
constexpr const char* kKeyUnreadable = "cannot read the key file";
constexpr const char* kKeyWrongSize = "the key file must hold exactly 32 bytes";
constexpr const char* kEncryptFailed = "cannot encrypt the password";

bool sodiumReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = sodium_init() >= 0; });
    return ready;
}

// Bytes that hold secrets are wiped before their memory is given back. One spare byte keeps
// data() valid for an empty clear text.
class SecretBytes {
public:
    SecretBytes() { resize(0); }
    ~SecretBytes() { wipe(); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    void wipe() { sodium_memzero(bytes_.data(), bytes_.size()); }
    void resize(size_t size) {
        if (!bytes_.empty()) wipe();
        bytes_.assign(size + 1, 0);
        size_ = size;
    }
    unsigned char* data() { return bytes_.data(); }
    const unsigned char* data() const { return bytes_.data(); }
    size_t size() const { return size_; }

private:
    std::vector<unsigned char> bytes_;
    size_t size_ = 0;
};

bool readKeyFile(SecretBytes& key, std::string* error) {
    std::string path = ZyPlatform::platformString(ZyPlatform::Setting::kKeyFile, ZyPlatform::Default::kKeyFile);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        if (error) *error = std::string(kKeyUnreadable) + " [" + path + "]";
        return false;
    }
    // One byte more than a key, so that a longer file is noticed.
    key.resize(kKeyBytes + 1);
    size_t got = std::fread(key.data(), 1, key.size(), file);
    std::fclose(file);
    if (got != kKeyBytes) {
        key.wipe();
        if (error) *error = std::string(kKeyWrongSize) + " [" + path + "]";
        return false;
    }
    return true;
}

// The clear bytes of a stored text, or false when it is not one made under this key.
bool openStored(const char* stored, const unsigned char* key, SecretBytes& clear) {
    if (!stored || !sodiumReady()) return false;
    size_t prefixLength = std::strlen(kPrefix);
    if (std::strncmp(stored, kPrefix, prefixLength) != 0) return false;
    const char* text = stored + prefixLength;
    size_t textLength = std::strlen(text);
    std::vector<unsigned char> raw(textLength / 4 * 3 + 3);
    size_t rawLength = 0;
    const char* end = nullptr;
    if (sodium_base642bin(raw.data(), raw.size(), text, textLength, nullptr, &rawLength, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text + textLength) {
        return false;
    }
    if (rawLength < crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES) return false;
    const unsigned char* nonce = raw.data();
    const unsigned char* cipher = raw.data() + crypto_secretbox_NONCEBYTES;
    size_t cipherLength = rawLength - crypto_secretbox_NONCEBYTES;
    clear.resize(cipherLength - crypto_secretbox_MACBYTES);
    if (crypto_secretbox_open_easy(clear.data(), cipher, cipherLength, nonce, key) != 0) {
        clear.wipe();
        return false;
    }
    return true;
}

bool sealClear(const std::string& clear, const unsigned char* key, std::string* stored) {
    if (!stored || !sodiumReady()) return false;
    std::vector<unsigned char> raw(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + clear.size());
    randombytes_buf(raw.data(), crypto_secretbox_NONCEBYTES);
    if (crypto_secretbox_easy(raw.data() + crypto_secretbox_NONCEBYTES,
                              reinterpret_cast<const unsigned char*>(clear.data()), clear.size(), raw.data(),
                              key) != 0) {
        return false;
    }
    std::vector<char> text(sodium_base64_ENCODED_LEN(raw.size(), sodium_base64_VARIANT_ORIGINAL));
    sodium_bin2base64(text.data(), text.size(), raw.data(), raw.size(), sodium_base64_VARIANT_ORIGINAL);
    *stored = std::string(kPrefix) + text.data();
    return true;
}

}  // namespace

bool ZYPassword::decrypt(const char* in, char* out, unsigned long* length) {
    if (!in || !out || !length || *length == 0) return false;
    SecretBytes key;
    if (!sodiumReady() || !readKeyFile(key, nullptr)) return false;
    SecretBytes clear;
    if (!openStored(in, key.data(), clear)) return false;
    // A clear text with a NUL inside would reach the caller cut short; one that does not fit
    // with its terminator would be cut as well. Both are refused rather than half-used.
    if (std::memchr(clear.data(), '\0', clear.size()) || clear.size() + 1 > *length) return false;
    std::memcpy(out, clear.data(), clear.size());
    out[clear.size()] = '\0';
    return true;
}

bool ZYPassword::encrypt(const std::string& clear, std::string* stored, std::string* error) {
    if (!sodiumReady()) {
        if (error) *error = kSodiumFailed;
        return false;
    }
    SecretBytes key;
    if (!readKeyFile(key, error)) return false;
    if (!sealClear(clear, key.data(), stored)) {
        if (error) *error = kEncryptFailed;
        return false;
    }
    return true;
}

bool ZYPassword::encryptWithKey(const std::string& clear, const std::string& key, std::string* stored) {
    if (key.size() != kKeyBytes) return false;
    return sealClear(clear, reinterpret_cast<const unsigned char*>(key.data()), stored);
}

bool ZYPassword::decryptWithKey(const std::string& stored, const std::string& key, std::string* clear) {
    if (key.size() != kKeyBytes || !clear || stored.find('\0') != std::string::npos) return false;
    SecretBytes opened;
    if (!openStored(stored.c_str(), reinterpret_cast<const unsigned char*>(key.data()), opened)) {
        return false;
    }
    clear->assign(reinterpret_cast<const char*>(opened.data()), opened.size());
    return true;
}
