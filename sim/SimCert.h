// A self-signed certificate for korvan-sim's HTTPS service, made with the OpenSSL API.
//
// The certificate names 127.0.0.1 (IP) and localhost (DNS) as subjectAltName, so clients that
// trust it as their CA verify the loopback service without switching verification off.
#pragma once

#include <memory>
#include <string>

namespace httplib {
class SSLServer;
}

namespace korvansim {

struct TlsIdentity {
    std::string certPem;
    std::string keyPem;
};

// A fresh P-256 key and a certificate valid from an hour ago for 30 days.
bool generateSelfSigned(TlsIdentity& out, std::string& message);

// An HTTPS server that presents `identity`; null, with the reason in `message`, when its PEM
// texts do not read.
std::unique_ptr<httplib::SSLServer> makeHttpsServer(const TlsIdentity& identity, std::string& message);

}  // namespace korvansim
