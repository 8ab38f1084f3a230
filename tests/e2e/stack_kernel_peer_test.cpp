// The user-space stack against the Linux kernel's own TCP: inside a namespace
// of its own, a TUN device's packets are pumped into and out of the stack by
// a loop of this test, and kernel sockets connect to addresses the stack owns.
#include <arpa/inet.h>
#include <cryptopp/sha.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/stack/init.h"
#include "engine/stack/ip4.h"
#include "engine/stack/netif.h"
#include "engine/stack/tcp.h"
#include "tests/support/net.h"
#include "tests/support/stack_netif.h"

namespace {

using testsupport::NetNamespace;

constexpr uint16_t kSinkPort = 5001;    // reads everything, hashes it, closes after the peer
constexpr uint16_t kSourcePort = 5002;  // sends 16 MiB, then closes
constexpr uint16_t kEchoPort = 5003;    // writes back what it reads
constexpr uint16_t kByePort = 5004;     // says "bye" and closes first
constexpr size_t kBulk = 16u << 20;

uint8_t Pattern(size_t i) {
    return uint8_t((i * 2654435761u) >> 13);
}

std::string Sha256(const uint8_t* data, size_t n) {
    CryptoPP::SHA256 sha;
    std::string d(CryptoPP::SHA256::DIGESTSIZE, '\0');
    sha.CalculateDigest(reinterpret_cast<CryptoPP::byte*>(d.data()), data, n);
    return d;
}

std::string PatternSha(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = Pattern(i);
    return Sha256(v.data(), n);
}

// One accepted connection on the stack side.
struct Conn {
    class StackPump* pump;
    tcp_pcb* pcb;
    uint16_t port;
    CryptoPP::SHA256 sha;
    size_t received = 0;
    size_t source_sent = 0;
    std::string echo_pending;
    bool peer_closed = false;
    bool closed = false;
};

// The stack on its own thread: TUN device in, TUN device out, 250 ms timer.
class StackPump {
public:
    explicit StackPump(const NetNamespace& ns) {
        NetNamespace::Scope scope(ns);
        fd_ = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        ifreq ifr{};
        ifr.ifr_flags = IFF_TUN | IFF_NO_PI;
        std::strncpy(ifr.ifr_name, "zstk0", IFNAMSIZ - 1);
        if (ioctl(fd_, TUNSETIFF, &ifr) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(mu_);
        while (!ready_) cv_.wait(lock);
    }

    ~StackPump() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) close(fd_);
    }

    bool ok() const { return fd_ >= 0; }

    // Sink results: one SHA-256 per connection that the peer finished.
    std::vector<std::pair<size_t, std::string>> SinkResults() {
        std::lock_guard<std::mutex> lock(mu_);
        return sink_results_;
    }
    int Errors() {
        std::lock_guard<std::mutex> lock(mu_);
        return errors_;
    }
    int Released() {
        std::lock_guard<std::mutex> lock(mu_);
        return released_;
    }

private:
    static err_t Output(netif* n, pbuf* p, const ip4_addr_t*) {
        auto* self = static_cast<StackPump*>(n->state);
        uint8_t buf[65536];
        uint16_t len = pbuf_copy_partial(p, buf, p->tot_len, 0);
        // The device takes one packet per write; a full queue drops it like a link would.
        (void)!write(self->fd_, buf, len);
        return ERR_OK;
    }

    static void Finish(Conn* c) {
        if (c->closed) return;
        c->closed = true;
        tcp_arg(c->pcb, nullptr);
        tcp_recv(c->pcb, nullptr);
        tcp_sent(c->pcb, nullptr);
        tcp_err(c->pcb, nullptr);
        if (tcp_close(c->pcb) != ERR_OK) tcp_abort(c->pcb);
        c->pump->Forget(c);
    }

    void Forget(Conn* c) {
        std::lock_guard<std::mutex> lock(mu_);
        ++released_;
        conns_.erase(c);
        delete c;
    }

    static void Pump(Conn* c) {
        if (c->port == kSourcePort) {
            uint8_t chunk[4096];
            while (c->source_sent < kBulk) {
                size_t n = std::min<size_t>({sizeof(chunk), tcp_sndbuf(c->pcb), kBulk - c->source_sent});
                if (n == 0) break;
                for (size_t i = 0; i < n; ++i) chunk[i] = Pattern(c->source_sent + i);
                if (tcp_write(c->pcb, chunk, uint16_t(n)) != ERR_OK) break;
                c->source_sent += n;
            }
            tcp_output(c->pcb);
            if (c->source_sent == kBulk) Finish(c);
        } else if (c->port == kEchoPort) {
            size_t done = 0;
            while (done < c->echo_pending.size()) {
                size_t n = std::min<size_t>({c->echo_pending.size() - done, tcp_sndbuf(c->pcb), 0xffff});
                if (n == 0 || tcp_write(c->pcb, c->echo_pending.data() + done, uint16_t(n)) != ERR_OK) break;
                tcp_recved(c->pcb, uint32_t(n));  // only what went back out is taken from the window
                done += n;
            }
            c->echo_pending.erase(0, done);
            tcp_output(c->pcb);
            if (c->peer_closed && c->echo_pending.empty()) Finish(c);
        }
    }

    static err_t OnRecv(void* arg, tcp_pcb* pcb, pbuf* p, err_t) {
        auto* c = static_cast<Conn*>(arg);
        if (p == nullptr) {
            c->peer_closed = true;
            if (c->port == kSinkPort) {
                std::string d(CryptoPP::SHA256::DIGESTSIZE, '\0');
                c->sha.Final(reinterpret_cast<CryptoPP::byte*>(d.data()));
                std::lock_guard<std::mutex> lock(c->pump->mu_);
                c->pump->sink_results_.push_back({c->received, d});
            }
            if (c->port != kEchoPort || c->echo_pending.empty()) {
                Finish(c);
            } else {
                Pump(c);
            }
            return ERR_OK;
        }
        uint16_t total = p->tot_len;
        for (pbuf* q = p; q != nullptr; q = q->next) {
            if (c->port == kSinkPort) {
                c->sha.Update(static_cast<const CryptoPP::byte*>(q->payload), q->len);
            } else if (c->port == kEchoPort) {
                c->echo_pending.append(static_cast<const char*>(q->payload), q->len);
            }
        }
        c->received += total;
        pbuf_free(p);
        if (c->port == kEchoPort) {
            Pump(c);
        } else {
            tcp_recved(pcb, total);
        }
        return ERR_OK;
    }

    static err_t OnSent(void* arg, tcp_pcb*, uint32_t) {
        Pump(static_cast<Conn*>(arg));
        return ERR_OK;
    }

    static void OnErr(void* arg, err_t) {
        auto* c = static_cast<Conn*>(arg);
        std::lock_guard<std::mutex> lock(c->pump->mu_);
        ++c->pump->errors_;
        c->pump->conns_.erase(c);
        delete c;
    }

    static err_t OnAccept(void* arg, tcp_pcb* pcb, err_t) {
        auto* self = static_cast<StackPump*>(arg);
        auto* c = new Conn{self, pcb, pcb->local_port, {}, 0, 0, {}, false, false};
        {
            std::lock_guard<std::mutex> lock(self->mu_);
            self->conns_.insert({c, true});
        }
        tcp_arg(pcb, c);
        tcp_recv(pcb, OnRecv);
        tcp_sent(pcb, OnSent);
        tcp_err(pcb, OnErr);
        if (c->port == kByePort) {
            tcp_write(pcb, "bye", 3);
            Finish(c);
        } else if (c->port == kSourcePort) {
            Pump(c);
        }
        return ERR_OK;
    }

    void Run() {
        stacktest::InterfaceUp(&nif_, this, Output);
        tcp_pcb_listen* listener = StackNetif_Listen(&nif_, 0, OnAccept, this);
        {
            std::lock_guard<std::mutex> lock(mu_);
            ready_ = true;
        }
        cv_.notify_all();

        auto next_tick = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        std::vector<uint8_t> buf(65536);
        while (!stop_) {
            auto now = std::chrono::steady_clock::now();
            if (now >= next_tick) {
                tcp_tmr();
                next_tick += std::chrono::milliseconds(250);
                continue;
            }
            int wait =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - now).count()) + 1;
            pollfd pfd{fd_, POLLIN, 0};
            if (poll(&pfd, 1, std::min(wait, 50)) <= 0) continue;
            for (int i = 0; i < 64; ++i) {
                ssize_t n = read(fd_, buf.data(), buf.size());
                if (n <= 0) break;
                pbuf* p = pbuf_alloc(PBUF_RAW, uint16_t(n), PBUF_POOL);
                if (p == nullptr) continue;
                pbuf_take(p, buf.data(), uint16_t(n));
                nif_.input(p, &nif_);
            }
        }
        tcp_close(listener);
        for (auto& [c, unused] : conns_) delete c;
        conns_.clear();
        lwip_deinit();
    }

    int fd_ = -1;
    netif nif_{};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::condition_variable cv_;
    bool ready_ = false;
    std::map<Conn*, bool> conns_;
    std::vector<std::pair<size_t, std::string>> sink_results_;
    int errors_ = 0;
    int released_ = 0;
};

int Dial(const char* ip, uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{20, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        close(s);
        return -1;
    }
    return s;
}

bool SendAll(int s, const uint8_t* d, size_t n) {
    while (n > 0) {
        ssize_t w = send(s, d, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        d += w;
        n -= size_t(w);
    }
    return true;
}

// Reads until the peer closes; false on error or time-out.
bool ReadToEnd(int s, std::vector<uint8_t>& out) {
    uint8_t buf[65536];
    for (;;) {
        ssize_t r = recv(s, buf, sizeof(buf), 0);
        if (r == 0) return true;
        if (r < 0) return false;
        out.insert(out.end(), buf, buf + r);
    }
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

class StackKernelPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
        ns_ = std::make_unique<NetNamespace>("czstk");
        ns_->MustExec({"ip", "tuntap", "add", "dev", "zstk0", "mode", "tun"});
        ns_->MustExec({"ip", "addr", "add", "10.198.75.60/24", "dev", "zstk0"});
        ns_->MustExec({"ip", "link", "set", "zstk0", "up"});
        ns_->MustExec({"ip", "route", "add", "198.51.100.0/24", "dev", "zstk0"});
        pump_ = std::make_unique<StackPump>(*ns_);
        ASSERT_TRUE(pump_->ok());
    }
    void TearDown() override {
        pump_.reset();
        ns_.reset();
    }
    std::unique_ptr<NetNamespace> ns_;
    std::unique_ptr<StackPump> pump_;
};

TEST_F(StackKernelPeer, SixteenMebibytesEachWayArriveIntact) {
    NetNamespace::Scope scope(*ns_);
    // Kernel to stack, to the stack's own address; the kernel closes first.
    std::vector<uint8_t> data(kBulk);
    for (size_t i = 0; i < kBulk; ++i) data[i] = Pattern(i);
    int s = Dial("10.198.75.61", kSinkPort);
    ASSERT_GE(s, 0);
    ASSERT_TRUE(SendAll(s, data.data(), data.size()));
    shutdown(s, SHUT_WR);
    std::vector<uint8_t> rest;
    EXPECT_TRUE(ReadToEnd(s, rest));  // the stack closes after the peer's FIN
    close(s);
    ASSERT_TRUE(WaitFor([&] { return !pump_->SinkResults().empty(); }, std::chrono::seconds(30)));
    auto results = pump_->SinkResults();
    EXPECT_EQ(results[0].first, kBulk);
    EXPECT_EQ(results[0].second, Sha256(data.data(), data.size()));

    // Stack to kernel, from an address the stack answers for; the stack closes.
    s = Dial("198.51.100.7", kSourcePort);
    ASSERT_GE(s, 0);
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadToEnd(s, got));
    close(s);
    EXPECT_EQ(got.size(), kBulk);
    EXPECT_EQ(Sha256(got.data(), got.size()), PatternSha(kBulk));
    EXPECT_EQ(pump_->Errors(), 0);
}

TEST_F(StackKernelPeer, FiftyConnectionsAtOnce) {
    NetNamespace::Scope scope(*ns_);
    constexpr int kConns = 50;
    constexpr size_t kEach = 64 * 1024;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kConns; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> data(kEach);
            for (size_t i = 0; i < kEach; ++i) data[i] = Pattern(i + size_t(t) * 7919);
            char ip[32];
            std::snprintf(ip, sizeof(ip), "198.51.100.%d", 10 + t);
            int s = Dial(ip, kEchoPort);
            if (s < 0) return;
            std::thread writer([&] {
                SendAll(s, data.data(), data.size());
                shutdown(s, SHUT_WR);
            });
            std::vector<uint8_t> back;
            bool ended = ReadToEnd(s, back);
            writer.join();
            close(s);
            if (ended && back == data) ++good;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), kConns);
    EXPECT_TRUE(WaitFor([&] { return pump_->Released() >= kConns; }, std::chrono::seconds(10)));
    EXPECT_EQ(pump_->Errors(), 0);
}

TEST_F(StackKernelPeer, StackClosesFirst) {
    NetNamespace::Scope scope(*ns_);
    int s = Dial("10.198.75.61", kByePort);
    ASSERT_GE(s, 0);
    std::vector<uint8_t> got;
    EXPECT_TRUE(ReadToEnd(s, got));
    EXPECT_EQ(std::string(got.begin(), got.end()), "bye");
    close(s);
    // Nothing the kernel does afterwards may reset the connection.
    EXPECT_EQ(pump_->Errors(), 0);
}

}  // namespace
