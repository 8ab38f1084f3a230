#pragma once
// The client side of one ShadowsocksR connection as the local proxy service
// drives it: protocol plug-in, cryptor and obfuscation plug-in in the fixed
// order, with the send-back upload the obfuscation may ask for.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "ciphers/cryptor_factory.h"
#include "ciphers/plugins/auth_data.h"
#include "ciphers/plugins/obfs_factory.h"
#include "foundation/private_heap.h"

namespace ssrtest {

struct ClientConfig {
    std::string method = "aes-256-cfb";
    std::string password = "secret";
    std::string protocol = "origin";
    std::string protocolParam;
    std::string obfs = "plain";
    std::string obfsParam;
    std::string host = "proxy.example.org";
    uint16_t port = 8388;
};

class ClientPipe {
public:
    explicit ClientPipe(const ClientConfig& c) {
        cryptor = CreateCryptor(c.method, c.password);
        protocol = CreateObfs(c.protocol, c.protocolParam);
        obfs = CreateObfs(c.obfs, c.obfsParam);
        if (!cryptor || !protocol || !obfs) {
            ADD_FAILURE() << "cannot build " << c.method << " " << c.protocol << " " << c.obfs;
            return;
        }
        SSRServerInfo info = MakeServerInfo(*cryptor, c.host, c.port, c.obfsParam, obfs->GetSharedData());
        obfs->SetServerInfo(info);
        info.overhead = static_cast<uint16_t>(obfs->GetOwnOverhead() + protocol->GetOwnOverhead());
        protocol->SetServerInfo(info);
    }

    bool Ready() const { return cryptor && protocol && obfs; }

    // One upload; returns what goes on the wire (possibly nothing), or false.
    bool Upload(const std::string& block, std::string* wire) {
        if (!headSet_ && !block.empty()) {
            const unsigned char type = static_cast<unsigned char>(block[0]);
            uint32_t head = 30;
            if (type == 1) head = 7;
            else if (type == 4) head = 19;
            else if ((type == 3 || type == 2) && block.size() > 1) head = 4 + static_cast<unsigned char>(block[1]);
            obfs->SetHeadLength(head);
            protocol->SetHeadLength(head);
            headSet_ = true;
        }
        unsigned char* buf = Copy(block);
        int length = static_cast<int>(block.size());
        int out = 0;
        protocol->ClientPreEncrypt(&buf, length, &out);
        length = out;
        const int plainLength = length;
        if (length > 0) {
            unsigned char* encrypted = nullptr;
            size_t encryptedLength = 0;
            if (!cryptor->Encrypt(buf, static_cast<size_t>(length), &encrypted, &encryptedLength, false)) {
                PrivateHeapFree(buf);
                return false;
            }
            PrivateHeapFree(buf);
            buf = encrypted;
            length = static_cast<int>(encryptedLength);
        }
        if (!obfs->ClientEncode(&buf, length, plainLength, &out)) {
            PrivateHeapFree(buf);
            return false;
        }
        if (out > 0) wire->append(reinterpret_cast<const char*>(buf), static_cast<size_t>(out));
        PrivateHeapFree(buf);
        return true;
    }

    // One received block; appends the plain data; `wire` gets what a
    // send-back upload produced.
    bool Download(const std::string& block, std::string* plain, std::string* wire) {
        const int capacity = static_cast<int>(block.size());
        unsigned char* buf = Copy(block);
        int out = 0;
        int sendBack = 0;
        if (!obfs->ClientDecode(&buf, static_cast<int>(block.size()), capacity, &out, &sendBack)) {
            PrivateHeapFree(buf);
            return false;
        }
        if (sendBack && !Upload("", wire)) {
            PrivateHeapFree(buf);
            return false;
        }
        if (out == 0) {
            PrivateHeapFree(buf);
            return true;
        }
        unsigned char* decrypted = nullptr;
        size_t decryptedLength = 0;
        bool needMore = false;
        const int ok = cryptor->Decrypt(buf, static_cast<size_t>(out), &decrypted, &decryptedLength, &needMore, false);
        PrivateHeapFree(buf);
        if (!ok) return false;
        if (decryptedLength == 0) {
            PrivateHeapFree(decrypted);
            return true;
        }
        buf = decrypted;
        if (!protocol->ClientPostDecrypt(&buf, static_cast<int>(decryptedLength), &out)) {
            PrivateHeapFree(buf);
            return false;
        }
        plain->append(reinterpret_cast<const char*>(buf), static_cast<size_t>(out));
        PrivateHeapFree(buf);
        return true;
    }

    static unsigned char* Copy(const std::string& s) {
        auto* p = static_cast<unsigned char*>(PrivateHeapAlloc(s.size() ? s.size() : 1));
        if (!s.empty()) std::memcpy(p, s.data(), s.size());
        return p;
    }

    std::unique_ptr<CCryptor> cryptor;
    std::unique_ptr<CObfs> protocol;
    std::unique_ptr<CObfs> obfs;

private:
    bool headSet_ = false;
};

// One ClientEncode on a copy of `in`: what it yields ("" for nothing).
inline std::string EncodeOnce(CObfs& obfs, const std::string& in, int* result = nullptr) {
    unsigned char* buf = ClientPipe::Copy(in);
    int out = -1;
    const int ok = obfs.ClientEncode(&buf, static_cast<int>(in.size()), static_cast<int>(in.size()), &out);
    if (result) *result = ok;
    std::string s(reinterpret_cast<const char*>(buf), ok && out > 0 ? static_cast<size_t>(out) : 0);
    PrivateHeapFree(buf);
    return s;
}

// One ClientDecode on a copy of `in`: its result; the bytes are appended to `got`.
inline int DecodeOnce(CObfs& obfs, const std::string& in, std::string* got, int* sendBack) {
    unsigned char* buf = ClientPipe::Copy(in);
    int out = -1;
    const int ok = obfs.ClientDecode(&buf, static_cast<int>(in.size()), static_cast<int>(in.size()), &out, sendBack);
    if (ok && out > 0) got->append(reinterpret_cast<const char*>(buf), static_cast<size_t>(out));
    PrivateHeapFree(buf);
    return ok;
}

}  // namespace ssrtest
