#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string UrlDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                   isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> FormPairs(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t amp = text.find('&', pos);
        std::string item = text.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        if (!item.empty()) {
            size_t eq = item.find('=');
            pairs.emplace_back(UrlDecode(item.substr(0, eq)),
                               eq == std::string::npos ? std::string() : UrlDecode(item.substr(eq + 1)));
        }
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return pairs;
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// One accepted connection, plain or TLS, on a non-blocking socket; every wait
// also watches the server's stop pipe.
class Connection {
public:
    Connection(int fd, SSL_CTX* ctx, int stopFd) : fd_(fd), stopFd_(stopFd) {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        if (ctx) {
            ssl_ = SSL_new(ctx);
            SSL_set_fd(ssl_, fd_);
        }
    }
    ~Connection() {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        close(fd_);
    }

    bool Handshake() {
        if (!ssl_) return true;
        while (true) {
            int r = SSL_accept(ssl_);
            if (r == 1) return true;
            if (!WaitFor(SSL_get_error(ssl_, r))) return false;
        }
    }

    // Bytes read (> 0), 0 at the end of the stream, -1 on error or stop.
    long Read(char* buf, size_t n) {
        while (true) {
            if (ssl_) {
                int r = SSL_read(ssl_, buf, static_cast<int>(n));
                if (r > 0) return r;
                int err = SSL_get_error(ssl_, r);
                if (err == SSL_ERROR_ZERO_RETURN) return 0;
                if (err == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) return 0;  // closed without notify
                if (!WaitFor(err)) return -1;
            } else {
                ssize_t r = recv(fd_, buf, n, 0);
                if (r >= 0) return r;
                if (errno != EAGAIN && errno != EINTR) return -1;
                if (!Wait(POLLIN)) return -1;
            }
        }
    }

    bool Write(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            if (ssl_) {
                int r = SSL_write(ssl_, data.data() + done, static_cast<int>(data.size() - done));
                if (r > 0) {
                    done += static_cast<size_t>(r);
                } else if (!WaitFor(SSL_get_error(ssl_, r))) {
                    return false;
                }
            } else {
                ssize_t r = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
                if (r > 0) {
                    done += static_cast<size_t>(r);
                } else if (r < 0 && errno != EAGAIN && errno != EINTR) {
                    return false;
                } else if (!Wait(POLLOUT)) {
                    return false;
                }
            }
        }
        return true;
    }

    // Sleeps for `d`; false when the server stops meanwhile.
    bool Pause(std::chrono::milliseconds d) {
        pollfd p{stopFd_, POLLIN, 0};
        return poll(&p, 1, static_cast<int>(d.count())) == 0;
    }

    // Waits until the client closes or the server stops.
    void WaitForClose() {
        char c;
        while (true) {
            if (ssl_ && SSL_pending(ssl_) > 0) {
                if (Read(&c, 1) <= 0) return;
                continue;
            }
            if (!Wait(POLLIN)) return;
            ssize_t r = recv(fd_, &c, 1, MSG_PEEK);
            if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) return;
            if (r > 0 && Read(&c, 1) <= 0) return;  // discard whatever else arrives
        }
    }

private:
    bool WaitFor(int sslError) {
        if (sslError == SSL_ERROR_WANT_READ) return Wait(POLLIN);
        if (sslError == SSL_ERROR_WANT_WRITE) return Wait(POLLOUT);
        return false;
    }

    bool Wait(short events) {
        pollfd fds[2] = {{fd_, events, 0}, {stopFd_, POLLIN, 0}};
        while (poll(fds, 2, -1) < 0) {
            if (errno != EINTR) return false;
        }
        return !(fds[1].revents & POLLIN);
    }

    int fd_;
    int stopFd_;
    SSL* ssl_ = nullptr;
};

// Reads one request; false at the end of the stream or on a malformed one.
bool ReadRequest(Connection& conn, std::string& buffer, HttpRequest& req) {
    size_t headEnd;
    char chunk[16384];
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > (1 << 20)) return false;
        long n = conn.Read(chunk, sizeof chunk);
        if (n <= 0) return false;
        buffer.append(chunk, static_cast<size_t>(n));
    }
    req.rawHead = buffer.substr(0, headEnd + 4);
    buffer.erase(0, headEnd + 4);

    size_t lineEnd = req.rawHead.find("\r\n");
    std::string requestLine = req.rawHead.substr(0, lineEnd);
    size_t sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) return false;
    req.method = requestLine.substr(0, sp1);
    req.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    req.version = requestLine.substr(sp2 + 1);
    size_t q = req.target.find('?');
    req.path = req.target.substr(0, q);
    req.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);

    size_t pos = lineEnd + 2;
    while (pos < headEnd) {
        size_t end = req.rawHead.find("\r\n", pos);
        std::string line = req.rawHead.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        req.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
    }

    auto fill = [&](size_t want) {
        while (buffer.size() < want) {
            long n = conn.Read(chunk, sizeof chunk);
            if (n <= 0) return false;
            buffer.append(chunk, static_cast<size_t>(n));
        }
        return true;
    };
    if (EqualsNoCase(req.Header("Transfer-Encoding"), "chunked")) {
        while (true) {
            size_t crlf;
            while ((crlf = buffer.find("\r\n")) == std::string::npos) {
                if (!fill(buffer.size() + 1)) return false;
            }
            size_t size = std::stoul(buffer.substr(0, crlf), nullptr, 16);
            buffer.erase(0, crlf + 2);
            if (!fill(size + 2)) return false;
            req.body.append(buffer, 0, size);
            buffer.erase(0, size + 2);
            if (size == 0) break;  // no trailers are sent by the clients under test
        }
    } else if (req.HasHeader("Content-Length")) {
        size_t length = std::stoul(req.Header("Content-Length"));
        if (!fill(length)) return false;
        req.body = buffer.substr(0, length);
        buffer.erase(0, length);
    }
    return true;
}

std::string ResponseHead(const HttpResponse& resp, size_t bodyLength, bool close) {
    std::string head = "HTTP/1.1 " + std::to_string(resp.status) + " " +
                       (resp.reason.empty() ? ReasonPhrase(resp.status) : resp.reason) + "\r\n";
    for (const auto& [name, value] : resp.headers) head += name + ": " + value + "\r\n";
    if (resp.gzip) head += "Content-Encoding: gzip\r\n";
    if (resp.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
    if (close) head += "Connection: close\r\n";
    return head + "\r\n";
}

std::string Chunked(const std::string& body) {
    std::string out;
    const size_t piece = 65536;
    for (size_t i = 0; i < body.size(); i += piece) {
        size_t n = std::min(piece, body.size() - i);
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(body, i, n);
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

// Sends the response; false when the connection must end.
bool SendResponse(Connection& conn, const HttpResponse& resp, bool clientWantsClose) {
    if (resp.delay.count() > 0 && !conn.Pause(resp.delay)) return false;
    switch (resp.mode) {
        case HttpResponse::Mode::kSilent:
            conn.WaitForClose();
            return false;
        case HttpResponse::Mode::kCloseAtOnce:
            return false;
        default:
            break;
    }
    bool close = resp.close || clientWantsClose || resp.mode != HttpResponse::Mode::kNormal;
    std::string body = resp.gzip ? GzipForTest(resp.body) : resp.body;
    if (resp.repeat > 1 && resp.mode == HttpResponse::Mode::kNormal) {
        if (!conn.Write(ResponseHead(resp, body.size() * resp.repeat, close))) return false;
        std::string piece = body;
        if (resp.chunked) {
            char size[20];
            std::snprintf(size, sizeof size, "%zx\r\n", body.size());
            piece = size + body + "\r\n";
        }
        for (size_t i = 0; i < resp.repeat; ++i) {
            if (!conn.Write(piece)) return false;
        }
        return (!resp.chunked || conn.Write("0\r\n\r\n")) && !close;
    }
    std::string wire = resp.chunked ? Chunked(body) : body;
    if (!conn.Write(ResponseHead(resp, body.size(), close))) return false;
    if (resp.mode == HttpResponse::Mode::kTrickle) {
        for (char c : wire) {
            if (!conn.Write(std::string(1, c)) || !conn.Pause(resp.trickleInterval)) return false;
        }
        return false;
    }
    if (resp.mode == HttpResponse::Mode::kCloseMidBody) {
        conn.Write(wire.substr(0, wire.size() / 2));
        return false;
    }
    return conn.Write(wire) && !close;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (EqualsNoCase(n, name)) return v;
    }
    return {};
}

bool HttpRequest::HasHeader(const std::string& name) const {
    for (const auto& h : headers) {
        if (EqualsNoCase(h.first, name)) return true;
    }
    return false;
}

std::string HttpRequest::Cookie(const std::string& name) const {
    std::string cookies = Header("Cookie");
    size_t pos = 0;
    while (pos < cookies.size()) {
        size_t semi = cookies.find(';', pos);
        std::string item =
            Trim(cookies.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
        size_t eq = item.find('=');
        if (eq != std::string::npos && item.substr(0, eq) == name) return item.substr(eq + 1);
        if (semi == std::string::npos) break;
        pos = semi + 1;
    }
    return {};
}

std::string HttpRequest::FormField(const std::string& name, bool fromQuery) const {
    for (const auto& [n, v] : FormPairs(fromQuery ? query : body)) {
        if (n == name) return v;
    }
    return {};
}

std::vector<std::string> HttpRequest::FormFieldNames(bool fromQuery) const {
    std::vector<std::string> names;
    for (const auto& pair : FormPairs(fromQuery ? query : body)) names.push_back(pair.first);
    return names;
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
    for (auto& h : headers) {
        if (EqualsNoCase(h.first, name)) {
            h.second = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

void HttpResponse::Redirect(int code, const std::string& location) {
    status = code;
    SetHeader("Location", location);
}

HttpTestServer::HttpTestServer() {
    Start();
}

HttpTestServer::HttpTestServer(const std::string& certPem, const std::string& keyPem) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    BIO* certBio = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
    BIO* keyBio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
    BIO_free(keyBio);
    bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 && SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("bad test certificate or key");
    }
    sslCtx_ = ctx;
    tls_ = true;
    Start();
}

void HttpTestServer::Start() {
    if (pipe2(stopFds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        listen(listenFd_, 128) != 0 || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(sa.sin_port);
    acceptor_ = std::thread(&HttpTestServer::AcceptLoop, this);
}

HttpTestServer::~HttpTestServer() {
    char c = 1;
    (void)!write(stopFds_[1], &c, 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> g(lock_);
        threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
    if (listenFd_ >= 0) close(listenFd_);
    close(stopFds_[0]);
    close(stopFds_[1]);
    SSL_CTX_free(static_cast<SSL_CTX*>(sslCtx_));
}

std::string HttpTestServer::Url(const std::string& path, const std::string& host) const {
    return std::string(tls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
}

void HttpTestServer::Handle(const std::string& method, const std::string& path, HttpHandler handler) {
    std::lock_guard<std::mutex> g(lock_);
    handlers_[{method, path}] = std::move(handler);
}

std::vector<HttpRequest> HttpTestServer::Requests() const {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
}

size_t HttpTestServer::RequestCount() const {
    std::lock_guard<std::mutex> g(lock_);
    return requests_.size();
}

void HttpTestServer::AcceptLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopFds_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) return;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++connections_;
        std::lock_guard<std::mutex> g(lock_);
        threads_.emplace_back(&HttpTestServer::Serve, this, fd);
    }
}

void HttpTestServer::Serve(int fd) {
    // OpenSSL writes with write(): a client that already left must not end
    // the test with SIGPIPE. Blocked on this thread, the write fails instead.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    Connection conn(fd, static_cast<SSL_CTX*>(sslCtx_), stopFds_[0]);
    if (!conn.Handshake()) return;
    std::string buffer;
    while (true) {
        HttpRequest req;
        req.tls = tls_;
        if (!ReadRequest(conn, buffer, req)) return;
        HttpHandler handler;
        {
            std::lock_guard<std::mutex> g(lock_);
            requests_.push_back(req);
            auto it = handlers_.find({req.method, req.path});
            if (it == handlers_.end()) it = handlers_.find({"*", req.path});
            if (it != handlers_.end()) handler = it->second;
        }
        HttpResponse resp;
        if (handler) {
            handler(req, resp);
        } else {
            resp.status = 404;
            resp.body = "not found";
        }
        bool clientWantsClose = EqualsNoCase(req.Header("Connection"), "close") || req.version == "HTTP/1.0";
        if (!SendResponse(conn, resp, clientWantsClose)) return;
    }
}

std::string GzipForTest(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&z, data.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (r != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

}  // namespace testsupport
