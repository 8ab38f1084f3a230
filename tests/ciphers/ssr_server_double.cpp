#include "tests/ciphers/ssr_server_double.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/aes.h>
#include <cryptopp/arc4.h>
#include <cryptopp/hmac.h>
#include <cryptopp/md5.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ciphers/cryptor_factory.h"
#include "ciphers/plugins/obfs.h"
#include "foundation/private_heap.h"

namespace ssrtest {
namespace {

using Bytes = std::string;

const unsigned char* U(const Bytes& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
uint32_t B(const Bytes& s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}
uint32_t Le16(const Bytes& s, size_t i) {
    return B(s, i) | (B(s, i + 1) << 8);
}
uint32_t Be16(const Bytes& s, size_t i) {
    return (B(s, i) << 8) | B(s, i + 1);
}
uint32_t Le32(const Bytes& s, size_t i) {
    return Le16(s, i) | (Le16(s, i + 2) << 16);
}
void PutLe16(Bytes& s, uint32_t v) {
    s += static_cast<char>(v & 255);
    s += static_cast<char>((v >> 8) & 255);
}
void PutBe16(Bytes& s, uint32_t v) {
    s += static_cast<char>((v >> 8) & 255);
    s += static_cast<char>(v & 255);
}
void PutLe32(Bytes& s, uint32_t v) {
    PutLe16(s, v & 0xFFFF);
    PutLe16(s, v >> 16);
}

Bytes Random(size_t n) {
    static CryptoPP::AutoSeededRandomPool pool;
    Bytes s(n, '\0');
    if (n) pool.GenerateBlock(reinterpret_cast<unsigned char*>(s.data()), n);
    return s;
}

template <class H>
Bytes Hmac(const Bytes& key, const Bytes& data) {
    CryptoPP::HMAC<H> mac(U(key), key.size());
    Bytes out(mac.DigestSize(), '\0');
    mac.CalculateDigest(reinterpret_cast<unsigned char*>(out.data()), U(data), data.size());
    return out;
}
Bytes HmacMd5(const Bytes& key, const Bytes& data) {
    return Hmac<CryptoPP::Weak::MD5>(key, data);
}
Bytes HmacSha1(const Bytes& key, const Bytes& data) {
    return Hmac<CryptoPP::SHA1>(key, data);
}
Bytes Md5(const Bytes& data) {
    Bytes out(16, '\0');
    CryptoPP::Weak::MD5().CalculateDigest(reinterpret_cast<unsigned char*>(out.data()), U(data), data.size());
    return out;
}
Bytes Sha1(const Bytes& data) {
    Bytes out(20, '\0');
    CryptoPP::SHA1().CalculateDigest(reinterpret_cast<unsigned char*>(out.data()), U(data), data.size());
    return out;
}
Bytes AesDecryptBlock(const Bytes& key16, const Bytes& block) {
    CryptoPP::AES::Decryption aes(U(key16), 16);
    Bytes out(16, '\0');
    aes.ProcessBlock(U(block), reinterpret_cast<unsigned char*>(out.data()));
    return out;
}
uint32_t Crc32(const Bytes& data) {
    return static_cast<uint32_t>(crc32(0, U(data), static_cast<uInt>(data.size())));
}
uint32_t Adler(const Bytes& data) {
    return static_cast<uint32_t>(adler32(1, U(data), static_cast<uInt>(data.size())));
}
Bytes Base64(const Bytes& data) {
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes out;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t v = B(data, i) << 16;
        if (i + 1 < data.size()) v |= B(data, i + 1) << 8;
        if (i + 2 < data.size()) v |= B(data, i + 2);
        out += a[(v >> 18) & 63];
        out += a[(v >> 12) & 63];
        out += i + 1 < data.size() ? a[(v >> 6) & 63] : '=';
        out += i + 2 < data.size() ? a[v & 63] : '=';
    }
    return out;
}
// The Shadowsocks key block of a password (EVP_BytesToKey with MD5).
Bytes KeyBlock(const Bytes& password) {
    const Bytes a = Md5(password);
    return a + Md5(a + password);
}

struct Rc4 {
    CryptoPP::Weak::ARC4::Encryption c;
    explicit Rc4(const Bytes& password) { c.SetKey(U(KeyBlock(password)), 16); }
    Bytes Run(const Bytes& in) {
        Bytes out(in.size(), '\0');
        if (!in.empty()) c.ProcessData(reinterpret_cast<unsigned char*>(out.data()), U(in), in.size());
        return out;
    }
};

struct Xs {
    uint64_t a = 0, b = 0;
    explicit Xs(const Bytes& sixteen) {
        for (int i = 7; i >= 0; --i) a = (a << 8) | B(sixteen, static_cast<size_t>(i));
        for (int i = 15; i >= 8; --i) b = (b << 8) | B(sixteen, static_cast<size_t>(i));
    }
    uint64_t Next() {
        uint64_t x = a;
        const uint64_t y = b;
        a = y;
        x ^= x << 23;
        b = x ^ y ^ (x >> 17) ^ (y >> 26);
        return b + y;
    }
};

}  // namespace

// ---------------------------------------------------------------- obfuscations

class ObfsServer {
public:
    virtual ~ObfsServer() = default;
    // Client bytes in; decoded bytes and any immediate answer out.
    virtual bool Feed(const Bytes& in, Bytes* payload, Bytes* answer, Bytes* error) = 0;
    virtual Bytes Encode(const Bytes& payload) { return payload; }
    virtual bool Ready() const { return true; }
};

namespace {

class PlainServer : public ObfsServer {
public:
    bool Feed(const Bytes& in, Bytes* payload, Bytes*, Bytes*) override {
        *payload += in;
        return true;
    }
};

class HttpServer : public ObfsServer {
public:
    HttpServer(const ServerConfig& c, bool post) : config_(c), post_(post) {}

    bool Feed(const Bytes& in, Bytes* payload, Bytes* answer, Bytes* error) override {
        if (done_) {
            *payload += in;
            return true;
        }
        buffer_ += in;
        const size_t end = buffer_.find("\r\n\r\n");
        if (end == Bytes::npos) {
            if (buffer_.size() > 65536) return Err(error, "no end of the request head");
            return true;
        }
        const Bytes head = buffer_.substr(0, end + 2);
        const Bytes method = post_ ? "POST /" : "GET /";
        if (head.compare(0, method.size(), method) != 0) return Err(error, "request line: " + head.substr(0, 20));
        const size_t lineEnd = head.find("\r\n");
        const size_t space = head.find(' ', method.size());
        if (space == Bytes::npos || space > lineEnd || head.substr(space, lineEnd - space) != " HTTP/1.1")
            return Err(error, "request line has no HTTP/1.1");
        const Bytes path = head.substr(method.size(), space - method.size());
        if (path.size() % 3) return Err(error, "path is not all percent-encoded");
        for (size_t i = 0; i < path.size(); i += 3) {
            const Bytes hex = path.substr(i + 1, 2);
            if (path[i] != '%' || hex.find_first_not_of("0123456789abcdef") != Bytes::npos)
                return Err(error, "path byte not %xx in lowercase");
            *payload += static_cast<char>(std::stoi(hex, nullptr, 16));
        }
        const Bytes hostField = config_.port == 80 ? config_.host : config_.host + ":" + std::to_string(config_.port);
        if (head.find("\r\nHost: " + hostField + "\r\n") == Bytes::npos) return Err(error, "Host is not " + hostField);
        if (head.find("\r\nUser-Agent: Mozilla/") == Bytes::npos) return Err(error, "no User-Agent");
        const size_t ct = head.find("\r\nContent-Type: multipart/form-data; boundary=");
        if (post_) {
            if (ct == Bytes::npos) return Err(error, "POST without its Content-Type");
            const Bytes boundary = head.substr(ct + 46, head.find("\r\n", ct + 2) - ct - 46);
            if (boundary.size() != 32 ||
                boundary.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") !=
                    Bytes::npos)
                return Err(error, "bad boundary " + boundary);
        } else if (ct != Bytes::npos) {
            return Err(error, "GET with a Content-Type");
        }
        if (head.substr(head.size() - 26) != "\r\nConnection: keep-alive\r\n") return Err(error, "last line");
        *payload += buffer_.substr(end + 4);
        buffer_.clear();
        done_ = true;
        *answer +=
            "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Encoding: gzip\r\n"
            "Content-Type: text/html\r\nServer: nginx\r\nVary: Accept-Encoding\r\n\r\n";
        return true;
    }
    bool Ready() const override { return done_; }

private:
    static bool Err(Bytes* error, const Bytes& why) {
        *error = "http: " + why;
        return false;
    }
    ServerConfig config_;
    bool post_;
    bool done_ = false;
    Bytes buffer_;
};

class RandomHeadServer : public ObfsServer {
public:
    bool Feed(const Bytes& in, Bytes* payload, Bytes* answer, Bytes* error) override {
        if (done_) {
            *payload += in;
            return true;
        }
        // The client sends its head alone and waits; the head checks itself.
        buffer_ += in;
        if (buffer_.size() >= 8 && Crc32(buffer_) == 0xFFFFFFFFu) {
            done_ = true;
            buffer_.clear();
            *answer += Random(40);
            return true;
        }
        if (buffer_.size() >= 103) {
            *error = "random_head: no self-checking head in the first 103 bytes";
            return false;
        }
        return true;
    }
    bool Ready() const override { return done_; }

private:
    bool done_ = false;
    Bytes buffer_;
};

class TlsServer : public ObfsServer {
public:
    TlsServer(const ServerConfig& c, Bytes key) : config_(c), key_(std::move(key)) {}

    bool Feed(const Bytes& in, Bytes* payload, Bytes* answer, Bytes* error) override {
        buffer_ += in;
        for (;;) {
            if (buffer_.size() < 5) return true;
            const size_t size = Be16(buffer_, 3);
            if (buffer_.size() < 5 + size) return true;
            const Bytes record = buffer_.substr(0, 5 + size);
            buffer_.erase(0, 5 + size);
            if (state_ == 0) {
                if (!Hello(record, answer, error)) return false;
                state_ = 1;
            } else if (state_ == 1) {
                if (record != Bytes("\x14\x03\x03\x00\x01\x01", 6)) return Err(error, "no ChangeCipherSpec");
                state_ = 2;
            } else if (state_ == 2) {
                if (record.size() != 37 || record.compare(0, 5, Bytes("\x16\x03\x03\x00\x20", 5)) != 0)
                    return Err(error, "no Finished record");
                const Bytes signedPart = Bytes("\x14\x03\x03\x00\x01\x01", 6) + record.substr(0, 27);
                if (Hmac10(signedPart) != record.substr(27)) return Err(error, "Finished HMAC");
                state_ = 3;
            } else {
                if (record.compare(0, 3, "\x17\x03\x03") != 0) return Err(error, "not an application record");
                *payload += record.substr(5);
            }
        }
    }

    Bytes Encode(const Bytes& payload) override {
        Bytes out;
        for (size_t at = 0; at < payload.size();) {
            const size_t n = std::min<size_t>(payload.size() - at, 1 + B(Random(2), 0) * 40);
            out += "\x17\x03\x03";
            PutBe16(out, static_cast<uint32_t>(n));
            out += payload.substr(at, n);
            at += n;
        }
        return out;
    }
    bool Ready() const override { return state_ == 3; }

private:
    static bool Err(Bytes* error, const Bytes& why) {
        *error = "tls: " + why;
        return false;
    }
    Bytes Hmac10(const Bytes& data) const { return HmacSha1(key_ + sessionId_, data).substr(0, 10); }

    bool Hello(const Bytes& r, Bytes* answer, Bytes* error) {
        if (r.compare(0, 3, "\x16\x03\x01") != 0) return Err(error, "record header");
        if (r.size() < 5 + 4 + 2 + 32 + 1 + 32 + 32 + 2) return Err(error, "ClientHello too short");
        if (B(r, 5) != 1 || B(r, 6) != 0 || Be16(r, 7) != r.size() - 9) return Err(error, "handshake header");
        if (r.compare(9, 2, "\x03\x03") != 0) return Err(error, "client version");
        if (B(r, 43) != 32) return Err(error, "session id length");
        sessionId_ = r.substr(44, 32);
        const Bytes random = r.substr(11, 32);
        if (Hmac10(random.substr(0, 22)) != random.substr(22)) return Err(error, "ClientHello random HMAC");
        if (config_.checkTime && Be16(random, 0) * 65536u + Be16(random, 2) != config_.time)
            return Err(error, "ClientHello time");
        static const unsigned char suites[32] = {0x00, 0x1c, 0xc0, 0x2b, 0xc0, 0x2f, 0xcc, 0xa9, 0xcc, 0xa8, 0xcc,
                                                 0x14, 0xcc, 0x13, 0xc0, 0x0a, 0xc0, 0x14, 0xc0, 0x09, 0xc0, 0x13,
                                                 0x00, 0x9c, 0x00, 0x35, 0x00, 0x2f, 0x00, 0x0a, 0x01, 0x00};
        if (r.compare(76, 32, Bytes(reinterpret_cast<const char*>(suites), 32)) != 0)
            return Err(error, "cipher suites");
        const size_t extLength = Be16(r, 108);
        if (110 + extLength != r.size()) return Err(error, "extensions length");
        // Walk the extensions; the server name must be what the client was told.
        Bytes serverName = "<none>";
        bool ticket = false;
        for (size_t at = 110; at < r.size();) {
            if (at + 4 > r.size()) return Err(error, "extension header");
            const uint32_t type = Be16(r, at);
            const size_t len = Be16(r, at + 2);
            if (at + 4 + len > r.size()) return Err(error, "extension runs past the end");
            const Bytes body = r.substr(at + 4, len);
            if (type == 0) {
                if (len < 5 || Be16(body, 0) != len - 2 || B(body, 2) != 0 || Be16(body, 3) != len - 5)
                    return Err(error, "server_name layout");
                serverName = body.substr(5);
            }
            if (type == 0x23) ticket = len >= 64 && len <= 259;
            at += 4 + len;
        }
        const bool endsInDigit = !config_.host.empty() && config_.host.back() >= '0' && config_.host.back() <= '9';
        if (serverName != (endsInDigit ? Bytes() : config_.host)) return Err(error, "server name " + serverName);
        if (!ticket) return Err(error, "no session ticket of 64 to 259 bytes");

        // ServerHello (random: 22 bytes and their HMAC), ChangeCipherSpec,
        // Finished whose last 10 bytes sign everything before.
        Bytes hello = "\x03\x03";
        Bytes serverRandom = Random(22);
        hello += serverRandom + Hmac10(serverRandom);
        hello += '\x20';
        hello += sessionId_;
        hello += Bytes("\xc0\x2f\x00\x00\x09\xff\x01\x00\x01\x00\x00\x17\x00\x00", 14);
        Bytes out = "\x16\x03\x03";
        PutBe16(out, static_cast<uint32_t>(hello.size() + 4));
        out += Bytes("\x02\x00", 2);
        PutBe16(out, static_cast<uint32_t>(hello.size()));
        out += hello;
        out += Bytes("\x14\x03\x03\x00\x01\x01\x16\x03\x03\x00\x20", 11);
        out += Random(22);
        out += Hmac10(out);
        *answer += out;
        return true;
    }

    ServerConfig config_;
    Bytes key_;
    Bytes sessionId_;
    Bytes buffer_;
    int state_ = 0;
};

}  // namespace

// ---------------------------------------------------------------- protocols

class ProtocolServer {
public:
    virtual ~ProtocolServer() = default;
    virtual void SetIv(const Bytes& iv) { iv_ = iv; }
    virtual bool Feed(const Bytes& in, Bytes* data, Bytes* error) {
        *data += in;
        (void)error;
        return true;
    }
    virtual Bytes Encode(const Bytes& data) { return data; }
    virtual bool UdpFeed(const Bytes& in, Bytes* data, Bytes*) {
        *data = in;
        return true;
    }
    virtual Bytes UdpEncode(const Bytes& data) { return data; }
    std::vector<size_t> sizes;

protected:
    Bytes iv_;
};

namespace {

bool CheckIds(const ServerConfig& c, const Bytes& clientId, uint32_t connectionId, uint32_t time, Bytes* error) {
    if (c.checkIds && (clientId != c.clientId || connectionId != c.connectionId)) {
        *error = "client or connection id";
        return false;
    }
    if (c.checkTime && time != c.time) {
        *error = "time stamp";
        return false;
    }
    return true;
}

class Sha1V4Server : public ProtocolServer {
public:
    Sha1V4Server(const ServerConfig& c, Bytes key) : config_(c), key_(std::move(key)) {}

    bool Feed(const Bytes& in, Bytes* data, Bytes* error) override {
        buffer_ += in;
        while (buffer_.size() >= 4) {
            if (!authDone_) {
                const size_t total = Be16(buffer_, 0);
                Bytes crcInput = buffer_.substr(0, 2) + "auth_sha1_v4" + key_;
                if (Crc32(crcInput) != Le32(buffer_, 2)) return Err(error, "auth packet CRC");
                if (total < 28 + 1 || total >= 8192) return Err(error, "auth packet length");
                if (buffer_.size() < total) return true;
                const size_t padding = B(buffer_, 6) < 255 ? B(buffer_, 6) : Be16(buffer_, 7);
                if (padding < 1 || 6 + padding + 12 + 10 > total) return Err(error, "auth padding");
                if (HmacSha1(iv_ + key_, buffer_.substr(0, total - 10)).substr(0, 10) !=
                    buffer_.substr(total - 10, 10))
                    return Err(error, "auth HMAC");
                const size_t at = 6 + padding;
                if (!CheckIds(config_, buffer_.substr(at + 4, 4), Le32(buffer_, at + 8), Le32(buffer_, at), error))
                    return false;
                *data += buffer_.substr(at + 12, total - 10 - at - 12);
                buffer_.erase(0, total);
                authDone_ = true;
                continue;
            }
            if ((Crc32(buffer_.substr(0, 2)) & 0xFFFF) != Le16(buffer_, 2)) return Err(error, "length CRC");
            const size_t total = Be16(buffer_, 0);
            if (total < 9 || total >= 8192) return Err(error, "packet length");
            if (buffer_.size() < total) return true;
            if (Adler(buffer_.substr(0, total - 4)) != Le32(buffer_, total - 4)) return Err(error, "Adler-32");
            const size_t padding = B(buffer_, 4) < 255 ? B(buffer_, 4) : Be16(buffer_, 5);
            if (padding < 1 || padding + 8 > total) return Err(error, "padding");
            *data += buffer_.substr(4 + padding, total - 8 - padding);
            buffer_.erase(0, total);
        }
        return true;
    }

    Bytes Encode(const Bytes& data) override {
        Bytes out;
        for (size_t at = 0; at < data.size(); at += 1500) {
            const Bytes part = data.substr(at, 1500);
            const size_t padding = 1 + B(Random(1), 0) % 200;
            Bytes p;
            PutBe16(p, static_cast<uint32_t>(part.size() + padding + 8));
            PutLe16(p, Crc32(p) & 0xFFFF);
            Bytes pad(padding, '\0');
            if (padding < 255) {
                pad[0] = static_cast<char>(padding);
            } else {
                pad[0] = '\xff';
                pad[1] = static_cast<char>(padding >> 8);
                pad[2] = static_cast<char>(padding);
            }
            p += pad + part;
            PutLe32(p, Adler(p));
            out += p;
        }
        return out;
    }

private:
    static bool Err(Bytes* error, const Bytes& why) {
        *error = "auth_sha1_v4: " + why;
        return false;
    }
    ServerConfig config_;
    Bytes key_;
    Bytes buffer_;
    bool authDone_ = false;
};

class Aes128Server : public ProtocolServer {
public:
    Aes128Server(const ServerConfig& c, Bytes key) : config_(c), key_(std::move(key)) {
        sha1_ = c.protocol == "auth_aes128_sha1";
    }

    bool Feed(const Bytes& in, Bytes* data, Bytes* error) override {
        buffer_ += in;
        while (buffer_.size() >= 4) {
            if (!authDone_) {
                const Bytes ivKey = iv_ + key_;
                if (buffer_.size() < 7) return true;
                if (Mac(ivKey, buffer_.substr(0, 1)).substr(0, 6) != buffer_.substr(1, 6))
                    return Err(error, "first check");
                if (buffer_.size() < 31) return true;
                if (!FindUser(buffer_.substr(7, 4), error)) return false;
                if (Mac(ivKey, buffer_.substr(7, 20)).substr(0, 4) != buffer_.substr(27, 4))
                    return Err(error, "check of the encrypted block");
                const Bytes aesKey = Md5(Base64(userKey_) + config_.protocol);
                const Bytes block = AesDecryptBlock(aesKey, buffer_.substr(11, 16));
                const size_t total = Le16(block, 12);
                const size_t padding = Le16(block, 14);
                if (total < 35 + padding || total >= 8192) return Err(error, "lengths in the block");
                if (padding > 0x3FF) return Err(error, "padding out of range");
                if (!CheckIds(config_, block.substr(4, 4), Le32(block, 8), Le32(block, 0), error)) return false;
                if (buffer_.size() < total) return true;
                if (Mac(userKey_, buffer_.substr(0, total - 4)).substr(0, 4) != buffer_.substr(total - 4, 4))
                    return Err(error, "auth packet HMAC");
                *data += buffer_.substr(31 + padding, total - 35 - padding);
                buffer_.erase(0, total);
                authDone_ = true;
                continue;
            }
            Bytes key = userKey_;
            PutLe32(key, recvId_);
            if (Mac(key, buffer_.substr(0, 2)).substr(0, 2) != buffer_.substr(2, 2)) return Err(error, "length HMAC");
            const size_t total = Le16(buffer_, 0);
            if (total < 9 || total >= 8192) return Err(error, "packet length");
            if (buffer_.size() < total) return true;
            if (Mac(key, buffer_.substr(0, total - 4)).substr(0, 4) != buffer_.substr(total - 4, 4))
                return Err(error, "packet HMAC");
            const size_t padding = B(buffer_, 4) < 255 ? B(buffer_, 4) : Le16(buffer_, 5);
            if (padding < 1 || padding + 8 > total) return Err(error, "padding");
            *data += buffer_.substr(4 + padding, total - 8 - padding);
            buffer_.erase(0, total);
            ++recvId_;
        }
        return true;
    }

    Bytes Encode(const Bytes& data) override {
        Bytes out;
        for (size_t at = 0; at < data.size(); at += 1800) {
            const Bytes part = data.substr(at, 1800);
            const size_t padding = 1 + Le16(Random(2), 0) % 300;
            Bytes key = userKey_;
            PutLe32(key, sendId_++);
            Bytes p;
            PutLe16(p, static_cast<uint32_t>(part.size() + padding + 8));
            p += Mac(key, p).substr(0, 2);
            Bytes pad = Random(padding);
            if (padding < 128) {
                pad[0] = static_cast<char>(padding);
            } else {
                pad[0] = '\xff';
                pad[1] = static_cast<char>(padding & 255);
                pad[2] = static_cast<char>(padding >> 8);
            }
            p += pad + part;
            p += Mac(key, p).substr(0, 4);
            out += p;
        }
        return out;
    }

    bool UdpFeed(const Bytes& in, Bytes* data, Bytes* error) override {
        if (in.size() < 8) return Err(error, "datagram too short");
        if (!FindUser(in.substr(in.size() - 8, 4), error)) return false;
        if (Mac(userKey_, in.substr(0, in.size() - 4)).substr(0, 4) != in.substr(in.size() - 4))
            return Err(error, "datagram HMAC");
        *data = in.substr(0, in.size() - 8);
        return true;
    }

    Bytes UdpEncode(const Bytes& data) override { return data + Mac(key_, data).substr(0, 4); }

private:
    bool Err(Bytes* error, const Bytes& why) const {
        *error = config_.protocol + ": " + why;
        return false;
    }
    Bytes Mac(const Bytes& key, const Bytes& data) const { return sha1_ ? HmacSha1(key, data) : HmacMd5(key, data); }
    bool FindUser(const Bytes& uid, Bytes* error) {
        const auto it = config_.users.find(Le32(uid, 0));
        if (it != config_.users.end())
            userKey_ = sha1_ ? Sha1(it->second) : Md5(it->second);
        else if (config_.users.empty())
            userKey_ = key_;
        else
            return Err(error, "unknown user " + std::to_string(Le32(uid, 0)));
        return true;
    }

    ServerConfig config_;
    Bytes key_;
    bool sha1_;
    Bytes buffer_;
    Bytes userKey_;
    bool authDone_ = false;
    uint32_t recvId_ = 1;
    uint32_t sendId_ = 1;
};

class ChainServer : public ProtocolServer {
public:
    ChainServer(const ServerConfig& c, Bytes key) : config_(c), key_(std::move(key)) {
        chainB_ = c.protocol == "auth_chain_b";
        Bytes seed = key_.substr(0, 16);
        seed.resize(16, '\0');
        Xs g(seed);
        auto build = [&g](std::vector<uint64_t>& list, uint32_t mask, uint32_t base) {
            const uint32_t count = (static_cast<uint32_t>(g.Next()) & mask) + base;
            for (uint32_t i = 0; i < count; ++i) list.push_back(g.Next() % 2340 % 2040 % 1440);
            std::sort(list.begin(), list.end());
        };
        build(list1_, 7, 4);
        build(list2_, 15, 8);
    }

    bool Feed(const Bytes& in, Bytes* data, Bytes* error) override {
        buffer_ += in;
        if (!authDone_) {
            if (buffer_.size() < 36) return true;
            lastClientHash_ = HmacMd5(iv_ + key_, buffer_.substr(0, 4));
            if (buffer_.substr(4, 8) != lastClientHash_.substr(0, 8)) return Err(error, "first check");
            Bytes uid;
            for (int i = 0; i < 4; ++i) uid += static_cast<char>(B(buffer_, 12 + i) ^ B(lastClientHash_, 8 + i));
            if (!FindUser(uid, error)) return false;
            lastServerHash_ = HmacMd5(userKey_, buffer_.substr(12, 20));
            if (buffer_.substr(32, 4) != lastServerHash_.substr(0, 4)) return Err(error, "check of the encrypted block");
            const Bytes block = AesDecryptBlock(Md5(Base64(userKey_) + config_.protocol), buffer_.substr(16, 16));
            if (!CheckIds(config_, block.substr(4, 4), Le32(block, 8), Le32(block, 0), error)) return false;
            if (Le16(block, 12) != config_.overhead) return Err(error, "overhead " + std::to_string(Le16(block, 12)));
            if (Le16(block, 14) != 0) return Err(error, "block tail");
            const Bytes rc4Password = Base64(userKey_) + Base64(lastClientHash_);
            decrypt_ = std::make_unique<Rc4>(rc4Password);
            encrypt_ = std::make_unique<Rc4>(rc4Password);
            buffer_.erase(0, 36);
            authDone_ = true;
        }
        while (buffer_.size() >= 4) {
            const size_t n = Le16(buffer_, 0) ^ Le16(lastClientHash_, 14);
            Bytes seedHash = lastClientHash_;
            Xs g = Load(seedHash, n);
            const size_t padding = Padding(n, g);
            if (n + padding >= 4096) return Err(error, "length");
            if (buffer_.size() < n + padding + 4) return true;
            Bytes key = userKey_;
            PutLe32(key, recvId_);
            const Bytes h = HmacMd5(key, buffer_.substr(0, n + padding + 2));
            if (h.substr(0, 2) != buffer_.substr(n + padding + 2, 2)) return Err(error, "packet HMAC");
            size_t at = 2;
            if (n > 0 && padding > 0) at += g.Next() % 8589934609ULL % padding;
            *data += decrypt_->Run(buffer_.substr(at, n));
            sizes.push_back(n);
            lastClientHash_ = h;
            ++recvId_;
            buffer_.erase(0, n + padding + 4);
        }
        return true;
    }

    Bytes Encode(const Bytes& data) override {
        Bytes plain = data;
        if (sendId_ == 1) {
            Bytes mss;
            PutLe16(mss, config_.tcpMss);
            plain = mss + plain;
        }
        Bytes out;
        for (size_t at = 0; at < plain.size(); at += 1400) {
            const Bytes part = plain.substr(at, 1400);
            Xs g = Load(lastServerHash_, part.size());
            const size_t padding = Padding(part.size(), g);
            Bytes p;
            PutLe16(p, static_cast<uint32_t>(part.size()) ^ Le16(lastServerHash_, 14));
            const Bytes random = Random(padding);
            const size_t pos = padding ? g.Next() % 8589934609ULL % padding : 0;
            p += random.substr(0, pos) + encrypt_->Run(part) + random.substr(pos);
            Bytes key = userKey_;
            PutLe32(key, sendId_++);
            lastServerHash_ = HmacMd5(key, p);
            p += lastServerHash_.substr(0, 2);
            out += p;
        }
        return out;
    }

    bool UdpFeed(const Bytes& in, Bytes* data, Bytes* error) override {
        if (in.size() < 9) return Err(error, "datagram too short");
        const size_t n = in.size();
        const Bytes m = HmacMd5(key_, in.substr(n - 8, 3));
        Bytes uid;
        for (int i = 0; i < 4; ++i) uid += static_cast<char>(B(in, n - 5 + i) ^ B(m, i));
        if (!FindUser(uid, error)) return false;
        if (HmacMd5(userKey_, in.substr(0, n - 1))[0] != in[n - 1]) return Err(error, "datagram check byte");
        Xs g(m);
        const size_t padding = g.Next() % 127;
        if (padding + 8 > n) return Err(error, "datagram padding");
        *data = Rc4(Base64(userKey_) + Base64(m)).Run(in.substr(0, n - 8 - padding));
        return true;
    }

    Bytes UdpEncode(const Bytes& data) override {
        const Bytes seven = Random(7);
        const Bytes m = HmacMd5(key_, seven);
        Xs g(m);
        const size_t padding = g.Next() % 127;
        Bytes out = Rc4(Base64(userKey_) + Base64(m)).Run(data) + Random(padding) + seven;
        out += HmacMd5(userKey_, out)[0];
        return out;
    }

private:
    bool Err(Bytes* error, const Bytes& why) const {
        *error = config_.protocol + ": " + why;
        return false;
    }
    bool FindUser(const Bytes& uid, Bytes* error) {
        const auto it = config_.users.find(Le32(uid, 0));
        if (it != config_.users.end())
            userKey_ = it->second;
        else if (config_.users.empty())
            userKey_ = key_;
        else
            return Err(error, "unknown user " + std::to_string(Le32(uid, 0)));
        return true;
    }
    static Xs Load(const Bytes& hash, size_t n) {
        Bytes seed = hash;
        seed[0] = static_cast<char>(n & 255);
        seed[1] = static_cast<char>((n >> 8) & 255);
        Xs g(seed);
        for (int i = 0; i < 4; ++i) g.Next();
        return g;
    }
    static size_t Generic(size_t n, uint64_t r) {
        return n > 1300 ? r % 31 : n > 900 ? r % 127 : n > 400 ? r % 521 : r % 1021;
    }
    size_t Padding(size_t n, Xs& g) const {
        if (!chainB_) return n > 1440 ? 0 : Generic(n, g.Next());
        if (n >= 1440) return 0;
        const size_t t = n + config_.overhead;
        const size_t p1 = static_cast<size_t>(std::lower_bound(list1_.begin(), list1_.end(), t) - list1_.begin());
        size_t f = g.Next() % list1_.size() + p1;
        if (f < list1_.size()) return list1_[f] - t;
        const size_t p2 = static_cast<size_t>(std::lower_bound(list2_.begin(), list2_.end(), t) - list2_.begin());
        f = g.Next() % list2_.size() + p2;
        if (f < list2_.size()) return list2_[f] - t;
        if (f < p2 + list2_.size() - 1) return 0;
        return Generic(n, g.Next());
    }

    ServerConfig config_;
    Bytes key_;
    bool chainB_;
    std::vector<uint64_t> list1_, list2_;
    Bytes buffer_;
    Bytes userKey_;
    Bytes lastClientHash_, lastServerHash_;
    std::unique_ptr<Rc4> encrypt_, decrypt_;
    bool authDone_ = false;
    uint32_t recvId_ = 1;
    uint32_t sendId_ = 1;
};

}  // namespace

// ---------------------------------------------------------------- the server

ServerDouble::ServerDouble(ServerConfig config) : config_(std::move(config)) {
    cryptor_ = CreateCryptor(config_.method, config_.password);
    const unsigned char* iv = nullptr;
    GetCryptorSendIv(*cryptor_, &iv, &ivLength_);
    const Bytes key(reinterpret_cast<const char*>(cryptor_->GetKey()), static_cast<size_t>(cryptor_->GetKeyLength()));
    const Bytes& o = config_.obfs;
    if (o == "http_simple" || o == "http_post")
        obfs_ = std::make_unique<HttpServer>(config_, o == "http_post");
    else if (o == "random_head")
        obfs_ = std::make_unique<RandomHeadServer>();
    else if (o == "tls1.2_ticket_auth" || o == "tls1.2_ticket_fastauth")
        obfs_ = std::make_unique<TlsServer>(config_, key);
    else
        obfs_ = std::make_unique<PlainServer>();
    const Bytes& p = config_.protocol;
    if (p == "auth_sha1_v4")
        protocol_ = std::make_unique<Sha1V4Server>(config_, key);
    else if (p == "auth_aes128_md5" || p == "auth_aes128_sha1")
        protocol_ = std::make_unique<Aes128Server>(config_, key);
    else if (p == "auth_chain_a" || p == "auth_chain_b")
        protocol_ = std::make_unique<ChainServer>(config_, key);
    else
        protocol_ = std::make_unique<ProtocolServer>();
}

ServerDouble::~ServerDouble() = default;

bool ServerDouble::Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
}

bool ServerDouble::ObfsReady() const {
    return obfs_->Ready();
}

bool ServerDouble::Receive(std::string_view wire) {
    if (!error_.empty()) return false;
    Bytes payload, answer, error;
    if (!obfs_->Feed(Bytes(wire), &payload, &answer, &error)) return Fail(error);
    output_ += answer;
    if (!haveIv_) {
        cipherBytes_ += payload;
        if (cipherBytes_.size() < static_cast<size_t>(ivLength_)) return true;
        protocol_->SetIv(cipherBytes_.substr(0, static_cast<size_t>(ivLength_)));
        haveIv_ = true;
        payload = std::move(cipherBytes_);
        cipherBytes_.clear();
    }
    if (payload.empty()) return true;
    unsigned char* plain = nullptr;
    size_t plainLength = 0;
    bool needMore = false;
    if (!cryptor_->Decrypt(U(payload), payload.size(), &plain, &plainLength, &needMore, false))
        return Fail("cipher: decryption failed");
    const Bytes decrypted(reinterpret_cast<const char*>(plain), plainLength);
    PrivateHeapFree(plain);
    Bytes data;
    if (!protocol_->Feed(decrypted, &data, &error)) return Fail(error);
    received_ += data;
    return true;
}

void ServerDouble::Send(std::string_view plain) {
    const Bytes packed = protocol_->Encode(Bytes(plain));
    unsigned char* wire = nullptr;
    size_t wireLength = 0;
    if (!cryptor_->Encrypt(U(packed), packed.size(), &wire, &wireLength, false)) {
        Fail("cipher: encryption failed");
        return;
    }
    const Bytes encrypted(reinterpret_cast<const char*>(wire), wireLength);
    PrivateHeapFree(wire);
    output_ += obfs_->Encode(encrypted);
}

std::string ServerDouble::TakeOutput() {
    Bytes out = std::move(output_);
    output_.clear();
    return out;
}

std::vector<size_t> ServerDouble::PacketSizes() const {
    return protocol_->sizes;
}

bool ServerDouble::UdpReceive(const std::string& datagram, std::string* plain) {
    Bytes error;
    if (!protocol_->UdpFeed(datagram, plain, &error)) return Fail(error);
    return true;
}

std::string ServerDouble::UdpSend(const std::string& plain) {
    return protocol_->UdpEncode(plain);
}

}  // namespace ssrtest
