// The Shadowsocks client's data path: 60,507-byte chunks sent through the
// pipeline (protocol, cryptor, obfuscation) onto a socket and received back
// through it, beside the cryptor alone doing the same over the same socket
// pair. With "origin" and "plain" the pipeline should cost next to nothing
// over the cryptor. The heavier ShadowsocksR pairs are measured sending only
// (their answers need a server's side), beside "origin"/"plain" sending.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ciphers/cryptor_factory.h"
#include "ciphers/plugins/auth_data.h"
#include "ciphers/plugins/obfs_factory.h"
#include "foundation/private_heap.h"
#include "nodes/node_info.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/ss_client.h"

namespace {

constexpr int kChunk = 60507;
const char* const kMethods[] = {"aes-256-gcm", "chacha20-ietf-poly1305", "aes-256-cfb"};
constexpr const char* kPassword = "bench p4ssw0rd";

struct Pairs {
    const char* protocol;
    const char* obfs;
};
const Pairs kPairs[] = {
    {"origin", "plain"},
    {"auth_aes128_sha1", "http_simple"},
    {"auth_chain_a", "tls1.2_ticket_auth"},
};

// A client whose remote socket is one the benchmark owns.
class BenchClient : public CSSRCLient {
public:
    BenchClient() : CSSRCLient(-1, nullptr, nullptr) {}
    ~BenchClient() override { remoteSocket_ = -1; }
    bool Adopt(CNodeInfo* node, int remote) {
        AttachNode(node);
        remoteSocket_ = remote;
        return BuildPipeline() == 1;
    }
};

struct SocketPair {
    int fd[2] = {-1, -1};
    SocketPair() {
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd);
        int size = 4 << 20;
        for (int s : fd) {
            setsockopt(s, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
    }
    ~SocketPair() {
        close(fd[0]);
        close(fd[1]);
    }
};

CNodeInfo* Node(const char* method, const char* protocol, const char* obfs) {
    static std::vector<std::unique_ptr<CNodeInfo>> nodes;  // outlive the clients
    auto node = std::make_unique<CNodeInfo>();
    node->type = NodeTypeSSR;
    node->host = "127.0.0.1";
    node->port = 8388;
    node->password = kPassword;
    node->method = method;
    node->protocol = protocol;
    node->obfs = obfs;
    nodes.push_back(std::move(node));
    return nodes.back().get();
}

void Prepare() {
    static bool done = (InitCipherLibrary(), CAuthData::GetInstance(), CreatePrivateHeap(), true);
    (void)done;
    SetRelayRunningFlag(true);
}

void SendAll(int s, const unsigned char* p, size_t n) {
    while (n > 0) {
        ssize_t m = send(s, p, n, MSG_NOSIGNAL);
        if (m <= 0) return;
        p += m;
        n -= static_cast<size_t>(m);
    }
}

void RecvExact(int s, std::string& into, size_t n) {
    into.resize(n);
    size_t got = 0;
    while (got < n) {
        ssize_t m = recv(s, into.data() + got, n - got, 0);
        if (m <= 0) return;
        got += static_cast<size_t>(m);
    }
}

void BM_CryptorAlone(benchmark::State& state) {
    Prepare();
    const char* method = kMethods[state.range(0)];
    auto sender = CreateCryptor(method, kPassword);
    auto receiver = CreateCryptor(method, kPassword);
    SocketPair pair;
    std::vector<unsigned char> chunk(kChunk, 0x5a);
    std::string wire;
    for (auto _ : state) {
        unsigned char* out = nullptr;
        size_t outLen = 0;
        sender->Encrypt(chunk.data(), chunk.size(), &out, &outLen, false);
        SendAll(pair.fd[0], out, outLen);
        PrivateHeapFree(out);
        RecvExact(pair.fd[1], wire, outLen);
        unsigned char* plain = nullptr;
        size_t plainLen = 0;
        bool more = false;
        receiver->Decrypt(reinterpret_cast<const unsigned char*>(wire.data()), wire.size(), &plain, &plainLen,
                          &more, false);
        benchmark::DoNotOptimize(plain);
        PrivateHeapFree(plain);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
    state.SetLabel(method);
}

void BM_PipelineOriginPlain(benchmark::State& state) {
    Prepare();
    const char* method = kMethods[state.range(0)];
    CNodeInfo* node = Node(method, "origin", "plain");
    SocketPair pair;
    BenchClient sender, receiver;
    if (!sender.Adopt(node, pair.fd[0]) || !receiver.Adopt(node, pair.fd[1])) {
        state.SkipWithError("no pipeline");
        return;
    }
    std::vector<unsigned char> chunk(kChunk, 0x5a);
    std::vector<unsigned char> buffer(CSSRCLient::kRelayBuffer);
    for (auto _ : state) {
        sender.SendVia(pair.fd[0], chunk.data(), kChunk, 5);
        int delivered = 0;
        while (delivered < kChunk) {
            int sendBack = 0, flag = 0;
            int n = receiver.RecvVia(pair.fd[1], buffer.data(), CSSRCLient::kRelayBuffer, 5, &sendBack, &flag);
            if (n < 0) {
                state.SkipWithError("receive failed");
                return;
            }
            delivered += n;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
    state.SetLabel(method);
}

void BM_PipelineSendOnly(benchmark::State& state) {
    Prepare();
    const char* method = kMethods[state.range(0)];
    const Pairs& pairs = kPairs[state.range(1)];
    if (!CreateObfs(pairs.protocol, "") || !CreateObfs(pairs.obfs, "")) {
        state.SkipWithError("plug-in not available");
        return;
    }
    CNodeInfo* node = Node(method, pairs.protocol, pairs.obfs);
    SocketPair pair;
    BenchClient sender;
    if (!sender.Adopt(node, pair.fd[0])) {
        state.SkipWithError("no pipeline");
        return;
    }
    std::vector<unsigned char> chunk(kChunk, 0x5a);
    std::vector<char> sink(1 << 20);
    for (auto _ : state) {
        int n = sender.SendVia(pair.fd[0], chunk.data(), kChunk, 5);
        if (n < 0) {
            state.SkipWithError("send failed");
            return;
        }
        // Drain what went out so the socket never fills.
        while (recv(pair.fd[1], sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
    state.SetLabel(std::string(method) + " " + pairs.protocol + "/" + pairs.obfs);
}

BENCHMARK(BM_CryptorAlone)->DenseRange(0, 2);
BENCHMARK(BM_PipelineOriginPlain)->DenseRange(0, 2);
BENCHMARK(BM_PipelineSendOnly)->ArgsProduct({{0, 1, 2}, {0, 1, 2}});

}  // namespace
