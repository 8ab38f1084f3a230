#include "tests/support/e2e_transfer.h"

#include <arpa/inet.h>
#include <cryptopp/files.h>
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

namespace testsupport {

std::string HexSha256(const std::string& data) {
    std::string out;
    CryptoPP::SHA256 sha;
    CryptoPP::StringSource(
        data, true,
        new CryptoPP::HashFilter(sha, new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), false)));
    return out;
}

std::string HexSha256File(const std::string& path) {
    std::string out;
    CryptoPP::SHA256 sha;
    CryptoPP::FileSource(
        path.c_str(), true,
        new CryptoPP::HashFilter(sha, new CryptoPP::HexEncoder(new CryptoPP::StringSink(out), false)));
    return out;
}

std::string Blob(size_t size, uint64_t seed) {
    std::string s(size, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (size_t i = 0; i < size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&s[i], &x, std::min<size_t>(8, size - i));
    }
    return s;
}

void WriteBlobFile(const std::string& path, size_t size, uint64_t seed) {
    std::ofstream out(path, std::ios::binary);
    std::string chunk(1 << 20, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ULL + 1;
    for (size_t done = 0; done < size; done += chunk.size()) {
        for (size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(&chunk[i], &x, 8);
        }
        out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - done)));
    }
}

int CountOpenFds() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return -1;
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n - 1;  // the listing's own descriptor
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    auto until = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

sockaddr_in Endpoint(const char* ip, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &sa.sin_addr);
    return sa;
}

int ConnectIn(const NetNamespace& ns, const char* ip, int port, int local_port, int timeout_s) {
    NetNamespace::Scope scope(ns);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval tv{timeout_s, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (local_port != 0) {
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in local = Endpoint("0.0.0.0", local_port);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            int saved = errno;
            close(fd);
            errno = saved;
            return -1;
        }
    }
    sockaddr_in sa = Endpoint(ip, port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace testsupport
