// Test helper: self-signed TLS material for servers on 127.0.0.1.
//
// Made with the openssl command line tool in a temporary folder that is removed with the
// object: a certificate and key for 127.0.0.1 (subjectAltName IP:127.0.0.1) that a client can
// trust as its CA file, and a second, unrelated pair for the same address that such a client
// must refuse.
#pragma once

#include <string>

namespace krvntest {

class TestCert {
public:
    TestCert();
    ~TestCert();
    TestCert(const TestCert&) = delete;
    TestCert& operator=(const TestCert&) = delete;

    // One set per process, made on first use (key generation is the slow part).
    static const TestCert& shared();

    bool ok() const { return error_.empty(); }
    // What went wrong when ok() is false (openssl's own output included).
    const std::string& error() const { return error_; }
    const std::string& dir() const { return dir_; }
    const std::string& certFile() const { return certFile_; }
    const std::string& keyFile() const { return keyFile_; }
    const std::string& otherCertFile() const { return otherCertFile_; }

private:
    bool makePair(const std::string& cert, const std::string& key);
    std::string dir_, certFile_, keyFile_, otherCertFile_, otherKeyFile_, error_;
};

}  // namespace krvntest
