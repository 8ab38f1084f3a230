#pragma once
// A certificate authority made by the test: its own key and self-signed
// certificate, and server certificates it issues for the names a test asks
// for. Everything is PEM text; nothing touches the machine's trust store.

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct IssuedCertificate {
    std::string certPem;
    std::string keyPem;
};

class TestCertificateAuthority {
public:
    explicit TestCertificateAuthority(const std::string& commonName = "Cendrow Test CA");
    ~TestCertificateAuthority();
    TestCertificateAuthority(const TestCertificateAuthority&) = delete;
    TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

    const std::string& certPem() const { return certPem_; }
    // Writes the CA certificate, as a CA bundle file holds it.
    void WriteCertificate(const std::filesystem::path& file) const;

    // A server certificate for `names`: host names and IPv4/IPv6 address
    // texts, all in its subject alternative names (the first is also its
    // common name).
    IssuedCertificate Issue(const std::vector<std::string>& names);

private:
    void* key_ = nullptr;   // EVP_PKEY
    void* cert_ = nullptr;  // X509
    std::string certPem_;
    long serial_ = 1;
};

}  // namespace testsupport
