#pragma once
// A stand-in for the account web service, on the HTTPS test server: it
// answers POST /SSPANEL_API_MOD.php for the commands "login",
// "allproxylist", "getproduct" and "getclientinfo" the way the real service
// does, and checks every request on the way: the fields in their order, the
// access token "wokz", the percent-encoding of every value (only 0-9, A-Z and
// a-z stay as they are), the account, and that the later commands carry the
// token that "login" handed out. Whatever it finds wrong is answered with
// status 400 and kept in Problems().
//
// Tests replace the reply of one command, or of all, with handlers of their
// own to play a broken or hostile service. Every request stays recorded by
// the server (raw head, headers and body).

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/http_server.h"
#include "tests/support/test_ca.h"

namespace testsupport {

class AccountServiceStandIn {
public:
    static constexpr const char* kEndpoint = "/SSPANEL_API_MOD.php";

    // Serves HTTPS with `cert` (issued by the test's CA for 127.0.0.1).
    explicit AccountServiceStandIn(const IssuedCertificate& cert);

    // "https://127.0.0.1:PORT": the base URL the client is given.
    std::string BaseUrl() const;
    HttpTestServer& server() { return server_; }

    // The account the service knows and the token it hands out (at "login";
    // "getclientinfo" hands out the next number).
    void SetAccount(const std::string& email, const std::string& password);
    void SetToken(uint32_t token, bool asText);

    // A handler of the test's own for `command` ("*": every command); it
    // runs after the request was checked. An empty handler removes it.
    void Override(const std::string& command, HttpHandler handler);

    // What was wrong in the requests so far, one text per finding.
    std::vector<std::string> Problems() const;
    // The requests to the endpoint, in order, and their commands.
    std::vector<HttpRequest> Posts() const;
    std::vector<std::string> Commands() const;

    // The proxy list the service sends: two packages of three usable nodes
    // each, between nodes that a client must skip.
    static std::string ProxyListReply();
    // The products: one usable (Chinese option names, "domain" "443"), one
    // without an encryption method, one with "domain" 0.
    static std::string ProductReply();

    // The strict percent-encoding the client must use.
    static std::string Encode(const std::string& text);

    // Serves the client page ("/ad2.html") in one colour from edge to edge.
    void ServeOneColourPage(int r, int g, int b);

private:
    void Serve(const HttpRequest& req, HttpResponse& resp);
    bool Check(const HttpRequest& req, std::string& command, bool& accountOk);
    void Problem(const std::string& text);

    HttpTestServer server_;
    mutable std::mutex lock_;
    std::string email_ = "user+tag@example.com";
    std::string password_ = "p&ss+w rd=\xC3\xBC";
    uint32_t token_ = 4242;
    bool tokenAsText_ = false;
    std::map<std::string, HttpHandler> overrides_;
    std::vector<std::string> problems_;
};

// The config.ini lines ("[basic]" not included) of an account the login
// window remembers, stored as the program stores them, with or without the
// automatic login.
std::string RememberedLogin(const std::string& email, const std::string& password, bool autologin);

}  // namespace testsupport
