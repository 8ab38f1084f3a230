// The client with ShadowsocksR plug-ins against the server double of the
// plug-in tests, which plays the node and echoes what it decodes: both
// directions in random pieces, the send-back of the TLS look-alike
// handshake, and the answer after the local client's FIN.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <thread>

#include "ciphers/plugins/auth_data.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/ss_client.h"
#include "tests/ciphers/ssr_server_double.h"
#include "tests/proxy/proxy_test_util.h"
#include "tests/proxy/scripted_node.h"
#include "tests/support/cipher_streams.h"

namespace {

using proxytest::Bytes;
using proxytest::ScriptedNode;

const bool kLibraryReady = (InitCipherLibrary(), CAuthData::GetInstance(), true);

// Sends `bytes` in random pieces.
bool SendInPieces(int fd, const std::string& bytes, std::mt19937& rng) {
    for (size_t at = 0; at < bytes.size();) {
        size_t n = std::min<size_t>(std::uniform_int_distribution<size_t>(1, 3000)(rng), bytes.size() - at);
        if (!proxytest::SendText(fd, bytes.substr(at, n))) return false;
        at += n;
    }
    return true;
}

TEST(SsrClient, PairsEchoThroughTheServerDouble) {
    struct Case {
        const char* protocol;
        const char* obfs;
        int overhead;
        int answerDelayMs;  // before the node's first answer
    } cases[] = {
        {"origin", "plain", 0, 0},
        {"auth_aes128_sha1", "http_simple", 0, 0},
        {"auth_chain_a", "tls1.2_ticket_auth", 9, 0},
        // One stage that changes the bytes beside one that passes them through.
        {"origin", "http_simple", 0, 0},
        {"auth_aes128_md5", "plain", 0, 0},
        // The local client's end comes before the node's handshake answer,
        // while the obfuscation still holds the upload.
        {"auth_chain_a", "tls1.2_ticket_auth", 9, 300},
    };
    SetRelayRunningFlag(true);
    const std::string header = Bytes({1, 10, 0, 0, 7, 0x1f, 0x90});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.protocol) + "/" + c.obfs + " answer after " + std::to_string(c.answerDelayMs) + " ms");
        const std::string up = testsupport::RandomText(200000, 21);
        std::string error, seen;
        int port = 0;
        ScriptedNode node([&](int fd, ScriptedNode&) {
            ssrtest::ServerConfig config;
            config.method = "aes-256-cfb";
            config.password = "ssr p4ss";
            config.protocol = c.protocol;
            config.obfs = c.obfs;
            config.host = "127.0.0.1";
            config.port = static_cast<uint16_t>(port);
            config.overhead = static_cast<uint16_t>(c.overhead);
            ssrtest::ServerDouble server(config);
            std::mt19937 rng(5);
            bool answered = false;
            // Everything until the client's FIN, in random reads; the
            // double's own answers (handshakes) go back at once.
            for (;;) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 10000) != 1) break;
                char buf[4096];
                ssize_t n = recv(fd, buf, std::uniform_int_distribution<size_t>(1, sizeof buf)(rng), 0);
                if (n <= 0) break;
                if (!server.Receive(std::string(buf, static_cast<size_t>(n)))) {
                    error = server.Error();
                    return;
                }
                std::string answer = server.TakeOutput();
                if (!answer.empty() && c.answerDelayMs > 0 && !answered) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(c.answerDelayMs));
                }
                answered = answered || !answer.empty();
                if (!answer.empty() && !SendInPieces(fd, answer, rng)) return;
            }
            seen = server.Received();
            // The echo, after the FIN.
            if (seen.size() > header.size()) server.Send(seen.substr(header.size()));
            SendInPieces(fd, server.TakeOutput(), rng);
        });
        port = node.port();
        CNodeInfo info;
        info.type = NodeTypeSSR;
        info.host = "127.0.0.1";
        info.port = static_cast<uint16_t>(port);
        info.password = "ssr p4ss";
        info.method = "aes-256-cfb";
        info.protocol = c.protocol;
        info.obfs = c.obfs;

        proxytest::TcpPair pair = proxytest::MakeTcpPair();
        auto client = std::make_unique<CSSRCLient>(pair.server, "", "");
        client->AttachNode(&info);
        int result = -1;
        std::thread serve([&] { result = client->Run(); });
        ASSERT_TRUE(proxytest::SendText(pair.client, Bytes({5, 1, 0, 5, 1, 0, 1, 10, 0, 0, 7, 0x1f, 0x90})));
        ASSERT_EQ(proxytest::ReadBytes(pair.client, 12).substr(0, 4), Bytes({5, 0, 5, 0}));
        ASSERT_TRUE(proxytest::SendText(pair.client, up));
        shutdown(pair.client, SHUT_WR);
        bool closed = false;
        std::string back = proxytest::ReadToEnd(pair.client, &closed, 30000);
        serve.join();
        EXPECT_EQ(error, "");
        EXPECT_TRUE(seen == header + up) << seen.size();
        EXPECT_TRUE(back == up) << back.size();
        EXPECT_TRUE(closed);
        EXPECT_EQ(result, 1);
        close(pair.client);
    }
}

}  // namespace
