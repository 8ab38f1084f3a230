// Every protocol with every obfuscation, against the test-double server:
// uploads and downloads cross a socket pair and are read back in random
// pieces, and a single changed byte in either direction must be caught.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <tuple>

#include "ciphers/crypto_env.h"
#include "ciphers/plugins/auth_data.h"
#include "tests/ciphers/ssr_client_pipe.h"
#include "tests/ciphers/ssr_server_double.h"

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

int64_t FixedClock() {
    return 0x5F5E1234;
}

std::string Filler(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

// A socket pair whose reads come back in random pieces.
class Wire {
public:
    explicit Wire(uint32_t seed) : rng_(seed) {
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) ADD_FAILURE() << "socketpair";
    }
    ~Wire() {
        close(fds_[0]);
        close(fds_[1]);
    }
    // Writes `bytes` at one end and reads them at the other in pieces of 1 to
    // `maxPiece` bytes; `whole` delivers them in one piece.
    template <class Sink>
    bool Carry(int from, const std::string& bytes, Sink sink, bool whole = false) {
        size_t sent = 0;
        size_t got = 0;
        std::string piece(bytes.size() + 1, '\0');
        while (got < bytes.size()) {
            if (sent < bytes.size()) {
                const ssize_t n = send(fds_[from], bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT);
                if (n > 0) sent += static_cast<size_t>(n);
            }
            size_t want = whole ? bytes.size() - got
                                : std::uniform_int_distribution<size_t>(1, maxPiece_)(rng_);
            want = std::min(want, bytes.size() - got);
            const ssize_t r = recv(fds_[1 - from], piece.data(), want, whole ? MSG_WAITALL : 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
            if (!sink(piece.substr(0, static_cast<size_t>(r)))) return false;
        }
        return true;
    }
    void SetMaxPiece(size_t n) { maxPiece_ = n; }

private:
    int fds_[2] = {-1, -1};
    std::mt19937 rng_;
    size_t maxPiece_ = 700;
};

enum Corrupt { kNone, kUpload, kDownload };

struct Session {
    ssrtest::ClientConfig client;
    ssrtest::ServerConfig server;
};

Session MakeSession(const std::string& protocol, const std::string& obfs, const std::string& method, bool withUser) {
    Session s;
    s.client.method = s.server.method = method;
    s.client.protocol = s.server.protocol = protocol;
    s.client.obfs = s.server.obfs = obfs;
    if (withUser) {
        s.client.protocolParam = "1024:correct horse";
        s.server.users = {{1024, "correct horse"}, {7, "other"}};
    }
    const bool chain = protocol.rfind("auth_chain", 0) == 0;
    const bool tls = obfs.rfind("tls1.2", 0) == 0;
    s.server.overhead = static_cast<uint16_t>((chain ? 4 : 0) + (tls ? 5 : 0));
    s.server.tcpMss = 1300;
    return s;
}

// Runs a whole exchange; returns "" when everything arrived intact, else what
// went wrong first.
std::string Exchange(const Session& s, uint32_t seed, Corrupt corrupt) {
    ScopedCipherClock clock(&FixedClock);
    CAuthData* shared = CAuthData::GetInstance();
    ssrtest::ServerConfig serverConfig = s.server;
    serverConfig.checkTime = true;
    serverConfig.time = static_cast<uint32_t>(FixedClock());
    serverConfig.checkIds = true;
    unsigned char clientId[4];
    shared->GetClientId(clientId);
    serverConfig.clientId.assign(reinterpret_cast<const char*>(clientId), 4);
    serverConfig.connectionId = shared->GetConnectionId() + 1;

    ssrtest::ClientPipe client(s.client);
    if (!client.Ready()) return "client not built";
    ssrtest::ServerDouble server(serverConfig);
    Wire wire(seed);
    const bool randomHead = s.client.obfs == "random_head";

    std::string clientGot;
    std::string sendBack;
    auto toServer = [&](const std::string& bytes) {
        return wire.Carry(0, bytes, [&](const std::string& piece) { return server.Receive(piece); });
    };
    auto toClient = [&](const std::string& bytes, bool whole) {
        return wire.Carry(
            1, bytes, [&](const std::string& piece) { return client.Download(piece, &clientGot, &sendBack); },
            whole);
    };
    // Until both sides are quiet: the server's answers, the client's send-backs.
    auto settle = [&](bool firstAnswer) -> std::string {
        for (int round = 0; round < 8; ++round) {
            const std::string answer = server.TakeOutput();
            if (!answer.empty() && !toClient(answer, firstAnswer && randomHead && round == 0))
                return "client failed on the download";
            std::string back = std::move(sendBack);
            sendBack.clear();
            if (!back.empty() && !toServer(back)) return "server: " + server.Error();
            if (answer.empty() && back.empty()) return "";
        }
        return "";
    };

    // An IPv4 address header and a request, in two uploads.
    const std::string header("\x01\x0a\x00\x00\x01\x01\xbb", 7);
    const std::string request = Filler(1500, seed);
    std::string uploaded = header + request;
    std::string bytes;
    if (!client.Upload(header + request.substr(0, 300), &bytes)) return "upload failed";
    if (!toServer(bytes)) return "server: " + server.Error();
    bytes.clear();
    if (!client.Upload(request.substr(300), &bytes)) return "upload failed";
    if (!toServer(bytes)) return "server: " + server.Error();
    if (std::string e = settle(true); !e.empty()) return e;
    if (server.Received() != uploaded) return "server got " + std::to_string(server.Received().size()) + " bytes";
    if (!server.ObfsReady()) return "obfuscation handshake not complete";

    // The reply, then a long upload and a long reply.
    const std::string reply = Filler(2000, seed + 1);
    server.Send(reply);
    if (std::string e = settle(false); !e.empty()) return e;
    if (clientGot != reply) return "client got " + std::to_string(clientGot.size()) + " bytes of the reply";

    const std::string more = Filler(20000, seed + 2);
    uploaded += more;
    bytes.clear();
    if (!client.Upload(more, &bytes)) return "upload failed";
    if (corrupt == kUpload) bytes[bytes.size() - 1 - seed % 64] ^= 0x10;
    if (!toServer(bytes)) return "server: " + server.Error();
    if (server.Received() != uploaded) return "server got a changed upload";

    const std::string longReply = Filler(30000, seed + 3);
    server.Send(longReply);
    std::string out = server.TakeOutput();
    if (corrupt == kDownload) out[out.size() - 1 - seed % 64] ^= 0x10;
    if (!toClient(out, false)) return "client failed on the download";
    if (clientGot != reply + longReply) return "client got a changed reply";
    return "";
}

using Pair = std::tuple<const char*, const char*, const char*, bool>;

class SsrRoundTrip : public ::testing::TestWithParam<Pair> {};

TEST_P(SsrRoundTrip, CarriesBothWaysAndCatchesAChangedByte) {
    const auto [protocol, obfs, method, withUser] = GetParam();
    const Session s = MakeSession(protocol, obfs, method, withUser);
    for (uint32_t seed = 1; seed <= 3; ++seed) EXPECT_EQ(Exchange(s, seed, kNone), "") << "seed " << seed;

    const bool authenticated = std::string(protocol) != "origin";
    const bool aead = std::string(method).find("poly1305") != std::string::npos;
    if (!authenticated && !aead) return;  // plain Shadowsocks over a stream cipher cannot notice
    for (uint32_t seed = 1; seed <= 2; ++seed) {
        EXPECT_NE(Exchange(s, seed, kUpload), "") << "changed upload byte went through, seed " << seed;
        EXPECT_NE(Exchange(s, seed, kDownload), "") << "changed download byte went through, seed " << seed;
    }
}

std::string PairName(const ::testing::TestParamInfo<Pair>& info) {
    std::string name = std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param) + "_" +
                       std::get<2>(info.param) + (std::get<3>(info.param) ? "_user" : "");
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    AllPairs, SsrRoundTrip,
    ::testing::Combine(::testing::Values("origin", "auth_sha1_v4", "auth_aes128_md5", "auth_aes128_sha1",
                                         "auth_chain_a", "auth_chain_b"),
                       ::testing::Values("plain", "http_simple", "http_post", "random_head", "tls1.2_ticket_auth",
                                         "tls1.2_ticket_fastauth"),
                       ::testing::Values("aes-256-cfb", "chacha20-ietf-poly1305"), ::testing::Bool()),
    PairName);

TEST(SsrRoundTripUdp, DatagramsBothWaysThroughTheProtocols) {
    for (const char* protocol : {"auth_aes128_md5", "auth_aes128_sha1", "auth_chain_a", "auth_chain_b"}) {
        for (bool withUser : {false, true}) {
            const Session s = MakeSession(protocol, "plain", "aes-256-cfb", withUser);
            ssrtest::ClientPipe client(s.client);
            ssrtest::ServerDouble server(s.server);
            for (size_t size : {1u, 100u, 1400u}) {
                const std::string datagram = Filler(size, static_cast<uint32_t>(size));
                unsigned char* buf = ssrtest::ClientPipe::Copy(datagram);
                int out = 0;
                ASSERT_EQ(client.protocol->ClientUdpPreEncrypt(&buf, static_cast<int>(size), &out), 1);
                std::string sent(reinterpret_cast<const char*>(buf), static_cast<size_t>(out));
                PrivateHeapFree(buf);
                std::string got;
                EXPECT_TRUE(server.UdpReceive(sent, &got)) << protocol << ": " << server.Error();
                EXPECT_EQ(got, datagram) << protocol;

                const std::string back = server.UdpSend(datagram);
                buf = ssrtest::ClientPipe::Copy(back);
                ASSERT_EQ(client.protocol->ClientUdpPostDecrypt(&buf, static_cast<int>(back.size()), &out), 1)
                    << protocol;
                EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf), static_cast<size_t>(out)), datagram);
                PrivateHeapFree(buf);

                // auth_aes128 signs with 4 bytes, so every change fails; auth_chain
                // with one byte, so about one change in 256 passes unnoticed.
                int flips = 0;
                int caught = 0;
                for (size_t at = 0; at < back.size(); at += 7, ++flips) {
                    std::string changed = back;
                    changed[at] ^= 0x01;
                    buf = ssrtest::ClientPipe::Copy(changed);
                    caught += client.protocol->ClientUdpPostDecrypt(&buf, static_cast<int>(changed.size()), &out) == 0;
                    PrivateHeapFree(buf);
                }
                if (std::string(protocol).find("aes128") != std::string::npos)
                    EXPECT_EQ(caught, flips) << protocol;
                else
                    EXPECT_GE(caught, flips - 2 - flips / 50) << protocol;
            }
        }
    }
}

}  // namespace
