// Our cryptors against Debian's ss-server: for every method it knows, a
// 100 KB TCP echo and a UDP echo through the server, the replies decrypted
// in random pieces that split the IV or salt. A wrong password gets nothing
// back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <random>

#include "ciphers/aead_cryptors.h"
#include "ciphers/cryptor_factory.h"
#include "tests/support/cipher_streams.h"
#include "tests/support/echo_servers.h"
#include "tests/support/net.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::RandomText;

namespace {

const bool kLibraryReady = (InitCipherLibrary(), true);

struct Method {
    const char* name;
    bool udp;  // whether ss-server relays UDP for it
};

std::ostream& operator<<(std::ostream& os, const Method& m) {
    return os << m.name;
}

// Every method that ss-server accepts ("none" and "rc4-md5-6" it refuses).
const Method kMethods[] = {
    {"aes-128-cfb", true},
    {"aes-192-cfb", true},
    {"aes-256-cfb", true},
    {"aes-128-ctr", true},
    {"aes-192-ctr", true},
    {"aes-256-ctr", true},
    {"camellia-128-cfb", true},
    {"camellia-192-cfb", true},
    {"camellia-256-cfb", true},
    {"salsa20", true},
    {"chacha20", true},
    {"chacha20-ietf", true},
    {"rc4-md5", true},
    // Its replay filter takes the empty IV of every "rc4" datagram for a repeat.
    {"rc4", false},
    {"aes-128-gcm", true},
    {"aes-192-gcm", true},
    {"aes-256-gcm", true},
    {"chacha20-ietf-poly1305", true},
    {"xchacha20-ietf-poly1305", true},
};

const char kPassword[] = "interop p4ssw0rd";

std::string AddressHeader(int port) {
    return std::string("\x01\x7f\x00\x00\x01", 5) + static_cast<char>(port >> 8) +
           static_cast<char>(port & 0xFF);
}

int ConnectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

class SsServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::HaveProgram("ss-server")) GTEST_SKIP() << "ss-server is not installed";
        port_ = testsupport::FreeLoopbackPort();
    }

    // Starts ss-server with the method and waits until it accepts connections.
    void StartServer(const std::string& method) {
        log_ = (dir_ / "ss-server.log").string();
        server_ = testsupport::ChildProcess({"ss-server", "-s", "127.0.0.1", "-p", std::to_string(port_),
                                             "-k", kPassword, "-m", method, "-u", "-t", "30", "-v"},
                                            log_);
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline) {
            int fd = ConnectLoopback(port_);
            if (fd >= 0) {
                close(fd);
                return;
            }
            ASSERT_TRUE(server_.running()) << testsupport::ReadFile(log_);
            std::this_thread::sleep_for(20ms);
        }
        FAIL() << "ss-server did not start\n" << testsupport::ReadFile(log_);
    }

    // Sends `request` through the server in randomly sized encrypted pieces
    // and decrypts the reply stream in random pieces until `expected` bytes of
    // plaintext came back, the server closed, or the time is up.
    std::string TcpExchange(CCryptor& sender, CCryptor& receiver, const std::string& request, size_t expected,
                            std::chrono::milliseconds limit) {
        std::string wire = testsupport::EncryptInPieces(sender, request, 17, 20000);
        const int fd = ConnectLoopback(port_);
        EXPECT_GE(fd, 0);
        if (fd < 0) return "";
        // The first piece ends inside the server's IV or salt.
        const auto* aead = dynamic_cast<const AEADCryptor*>(&receiver);
        const size_t header = static_cast<size_t>(aead ? aead->GetSaltLength() : receiver.GetIvLength());
        testsupport::SplitFeeder feeder(receiver, 23, std::max<size_t>(1, header / 2), 9000);
        size_t sent = 0;
        const auto deadline = Clock::now() + limit;
        bool open = true;
        while (open && feeder.plain().size() < expected && Clock::now() < deadline) {
            pollfd p{fd, static_cast<short>(POLLIN | (sent < wire.size() ? POLLOUT : 0)), 0};
            if (poll(&p, 1, 50) <= 0) {
                if (!feeder.Flush()) open = false;
                continue;
            }
            if ((p.revents & POLLOUT) && sent < wire.size()) {
                const ssize_t n =
                    send(fd, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) sent += static_cast<size_t>(n);
            }
            if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) {
                    if (!feeder.Feed(std::string(buf, static_cast<size_t>(n)))) open = false;
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    open = false;
                }
            }
        }
        close(fd);
        EXPECT_TRUE(feeder.Finish()) << "the reply did not decrypt";
        return feeder.plain();
    }

    // One datagram through the server's UDP relay; retried, since UDP may drop.
    std::string UdpExchange(CCryptor& c, const std::string& datagram) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port_));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string plain;
        for (int attempt = 0; attempt < 3 && plain.empty(); ++attempt) {
            c.Reset();
            const std::string wire = testsupport::MustEncrypt(c, datagram, true);
            sendto(fd, wire.data(), wire.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) continue;
            char buf[65536];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) continue;
            c.Reset();
            EXPECT_TRUE(testsupport::DecryptPiece(c, std::string(buf, static_cast<size_t>(n)), &plain,
                                                  nullptr, true));
        }
        close(fd);
        return plain;
    }

    int port_ = 0;
    testsupport::TempDir dir_{"cendrow-ss-interop"};
    std::string log_;
    testsupport::ChildProcess server_;
    testsupport::TcpEchoServer tcpEcho_;
    testsupport::UdpEchoServer udpEcho_;
};

class SsServerInterop : public SsServer, public ::testing::WithParamInterface<Method> {};

TEST_P(SsServerInterop, EchoesThroughTheServer) {
    const Method& m = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartServer(m.name));

    const std::string payload = RandomText(100 * 1000, 29);
    auto sender = CreateCryptor(m.name, kPassword);
    auto receiver = CreateCryptor(m.name, kPassword);
    ASSERT_TRUE(sender && receiver);
    const std::string reply =
        TcpExchange(*sender, *receiver, AddressHeader(tcpEcho_.port()) + payload, payload.size(), 15s);
    EXPECT_EQ(reply.size(), payload.size());
    EXPECT_TRUE(reply == payload) << "TCP reply differs\n" << testsupport::ReadFile(log_);

    if (m.udp) {
        auto udp = CreateCryptor(m.name, kPassword);
        const std::string datagram = RandomText(1200, 31);
        const std::string header = AddressHeader(udpEcho_.port());
        const std::string back = UdpExchange(*udp, header + datagram);
        EXPECT_TRUE(back == header + datagram) << "UDP reply of " << back.size() << " bytes\n"
                                               << testsupport::ReadFile(log_);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, SsServerInterop, ::testing::ValuesIn(kMethods), [](const auto& info) {
    std::string n = info.param.name;
    for (auto& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

// An AEAD server rejects a stream under the wrong key before it connects
// anywhere; nothing comes back.
TEST_F(SsServer, WrongPasswordGetsNoReply) {
    ASSERT_NO_FATAL_FAILURE(StartServer("aes-256-gcm"));
    auto sender = CreateCryptor("aes-256-gcm", "not the password");
    auto receiver = CreateCryptor("aes-256-gcm", "not the password");
    const std::string reply =
        TcpExchange(*sender, *receiver, AddressHeader(tcpEcho_.port()) + "hello", 5, 2s);
    EXPECT_TRUE(reply.empty());
}

}  // namespace
