#include "tests/support/test_ca.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace testsupport {
namespace {

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) throw std::runtime_error("EC key generation failed");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) throw std::runtime_error("bad certificate extension " + value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* NewCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return cert;
}

std::string CertificatePem(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(n));
    BIO_free(bio);
    return pem;
}

std::string KeyPem(EVP_PKEY* key) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(n));
    BIO_free(bio);
    return pem;
}

bool IsAddress(const std::string& name) {
    unsigned char buf[16];
    return inet_pton(AF_INET, name.c_str(), buf) == 1 || inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

}  // namespace

TestCertificateAuthority::TestCertificateAuthority(const std::string& commonName) {
    EVP_PKEY* key = NewKey();
    X509* cert = NewCertificate(key, commonName, serial_++);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    AddExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert, cert, NID_subject_key_identifier, "hash");
    X509_sign(cert, key, EVP_sha256());
    key_ = key;
    cert_ = cert;
    certPem_ = CertificatePem(cert);
}

TestCertificateAuthority::~TestCertificateAuthority() {
    X509_free(static_cast<X509*>(cert_));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(key_));
}

void TestCertificateAuthority::WriteCertificate(const std::filesystem::path& file) const {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << certPem_;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

IssuedCertificate TestCertificateAuthority::Issue(const std::vector<std::string>& names) {
    if (names.empty()) throw std::invalid_argument("a certificate needs a name");
    auto* caCert = static_cast<X509*>(cert_);
    EVP_PKEY* key = NewKey();
    X509* cert = NewCertificate(key, names[0], serial_++);
    X509_set_issuer_name(cert, X509_get_subject_name(caCert));
    std::string san;
    for (const auto& name : names) {
        if (!san.empty()) san += ",";
        san += (IsAddress(name) ? "IP:" : "DNS:") + name;
    }
    AddExtension(cert, caCert, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert, caCert, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(cert, caCert, NID_ext_key_usage, "serverAuth");
    AddExtension(cert, caCert, NID_subject_alt_name, san);
    AddExtension(cert, caCert, NID_authority_key_identifier, "keyid:always");
    X509_sign(cert, static_cast<EVP_PKEY*>(key_), EVP_sha256());
    IssuedCertificate issued{CertificatePem(cert), KeyPem(key)};
    X509_free(cert);
    EVP_PKEY_free(key);
    return issued;
}

}  // namespace testsupport
