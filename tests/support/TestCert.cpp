#include "TestCert.h"

#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace krvntest {

TestCert::TestCert() {
    char tmpl[] = "/tmp/krvn-cert-XXXXXX";
    if (!mkdtemp(tmpl)) {
        error_ = "cannot create a temporary folder";
        return;
    }
    dir_ = tmpl;
    certFile_ = dir_ + "/server.crt";
    keyFile_ = dir_ + "/server.key";
    otherCertFile_ = dir_ + "/other.crt";
    otherKeyFile_ = dir_ + "/other.key";
    if (makePair(certFile_, keyFile_)) makePair(otherCertFile_, otherKeyFile_);
}

TestCert::~TestCert() {
    for (const std::string* file : {&certFile_, &keyFile_, &otherCertFile_, &otherKeyFile_}) {
        if (!file->empty()) ::unlink(file->c_str());
    }
    if (!dir_.empty()) {
        ::unlink((dir_ + "/openssl.log").c_str());
        ::rmdir(dir_.c_str());
    }
}

const TestCert& TestCert::shared() {
    static TestCert cert;
    return cert;
}

bool TestCert::makePair(const std::string& cert, const std::string& key) {
    const std::string log = dir_ + "/openssl.log";
    // An EC key: generating it takes milliseconds where RSA takes a noticeable part of a second.
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
        " -days 7 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
        " -keyout '" +
        key + "' -out '" + cert + "' >'" + log + "' 2>&1";
    if (std::system(command.c_str()) == 0) return true;
    std::ifstream in(log);
    error_ = "openssl failed: " + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return false;
}

}  // namespace krvntest
