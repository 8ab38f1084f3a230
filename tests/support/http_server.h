#pragma once
// A small HTTP/1.1 server (plain or TLS) on 127.0.0.1 for tests of web
// clients. Tests register handlers by method and path; every request is
// recorded whole (raw head, headers, body) before its handler runs, so tests
// can check exactly what a client sent. Responses can be made slow, silent,
// trickling, cut off, chunked or gzip-compressed.
//
// Each connection serves requests until the client closes it or a response
// asks for the close. Everything stops, and every thread is joined, when the
// server object goes away.

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string target;  // as sent: path and query
    std::string path;    // before '?'
    std::string query;   // after '?', without it
    std::string version;
    HeaderList headers;   // in order, names as sent
    std::string rawHead;  // request line and header lines as received
    std::string body;     // after Content-Length or chunked decoding
    bool tls = false;

    // The first header of that name (ASCII case ignored), or empty.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
    // The value of one cookie of the Cookie header, or empty.
    std::string Cookie(const std::string& name) const;
    // The decoded value of one field of an application/x-www-form-urlencoded
    // body (or query, with `fromQuery`), or empty.
    std::string FormField(const std::string& name, bool fromQuery = false) const;
    // The form fields' names in the order sent.
    std::vector<std::string> FormFieldNames(bool fromQuery = false) const;
};

struct HttpResponse {
    enum class Mode {
        kNormal,
        kSilent,        // read the request, then answer nothing until the client gives up
        kCloseAtOnce,   // close the connection without a reply
        kTrickle,       // send the head, then the body one byte every trickleInterval
        kCloseMidBody,  // send the head and half the body, then close
    };

    int status = 200;
    std::string reason;  // empty: the usual phrase for the status
    HeaderList headers;
    std::string body;
    Mode mode = Mode::kNormal;
    bool gzip = false;                   // compress the body, with Content-Encoding: gzip
    bool chunked = false;                // send the body chunked instead of with a Content-Length
    bool close = false;                  // close the connection after this response
    std::chrono::milliseconds delay{0};  // wait before answering
    std::chrono::milliseconds trickleInterval{1000};
    // The body is sent this many times over (a huge reply without holding it
    // in memory); with `chunked`, one chunk per copy. Not with gzip.
    size_t repeat = 1;

    void SetHeader(const std::string& name, const std::string& value);
    void Redirect(int code, const std::string& location);
};

using HttpHandler = std::function<void(const HttpRequest&, HttpResponse&)>;

class HttpTestServer {
public:
    // Plain HTTP.
    HttpTestServer();
    // HTTPS with this certificate and key (PEM).
    HttpTestServer(const std::string& certPem, const std::string& keyPem);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int port() const { return port_; }
    bool tls() const { return tls_; }
    // "http://127.0.0.1:PORT" + path, or https:// (host as given).
    std::string Url(const std::string& path = "/", const std::string& host = "127.0.0.1") const;

    // Serves `method` ("*" for any) on `path` (the part before '?'); a later
    // registration for the same pair replaces the earlier one. Unhandled
    // requests get 404. Handlers run on the connection's thread.
    void Handle(const std::string& method, const std::string& path, HttpHandler handler);

    // Every request received so far, in order of arrival.
    std::vector<HttpRequest> Requests() const;
    size_t RequestCount() const;
    // Connections accepted so far (also those whose TLS handshake failed).
    int ConnectionCount() const { return connections_.load(); }

private:
    void Start();
    void AcceptLoop();
    void Serve(int fd);

    int listenFd_ = -1;
    int stopFds_[2] = {-1, -1};
    int port_ = 0;
    bool tls_ = false;
    void* sslCtx_ = nullptr;  // SSL_CTX
    std::thread acceptor_;
    std::atomic<int> connections_{0};

    mutable std::mutex lock_;
    std::vector<std::thread> threads_;
    std::map<std::pair<std::string, std::string>, HttpHandler> handlers_;
    std::vector<HttpRequest> requests_;
};

// Gzip compression of a whole body.
std::string GzipForTest(const std::string& data);

}  // namespace testsupport
