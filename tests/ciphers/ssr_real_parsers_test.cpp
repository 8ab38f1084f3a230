// The look-alike obfuscations read by real parsers: Python's HTTP request
// parser takes our http_simple and http_post requests apart, and OpenSSL
// (through Python's ssl module on memory buffers, no socket) answers our
// ClientHello as a TLS server would.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ciphers/plugins/obfs_factory.h"
#include "ciphers/plugins/obfs_http.h"
#include "ciphers/plugins/obfs_tls12_ticket_auth.h"
#include "foundation/private_heap.h"
#include "tests/ciphers/ssr_client_pipe.h"
#include "tests/ciphers/test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_ca.h"

using ciphertest::Hex;
using ssrtest::EncodeOnce;

namespace {

const char kHttpParser[] = R"(
import io, sys, http.server, urllib.parse
data = open(sys.argv[1], 'rb').read()
h = http.server.BaseHTTPRequestHandler.__new__(http.server.BaseHTTPRequestHandler)
h.rfile = io.BytesIO(data)
h.wfile = io.BytesIO()
h.client_address = ('127.0.0.1', 0)
h.raw_requestline = h.rfile.readline(65537)
if not h.parse_request():
    print('unparsed')
    sys.exit(0)
print('method=' + h.command)
print('path=' + urllib.parse.unquote_to_bytes(h.path[1:]).hex())
print('host=' + h.headers['Host'])
print('agent=' + str(h.headers['User-Agent']))
print('type=' + str(h.headers['Content-Type']))
print('body=' + h.rfile.read().hex())
)";

const char kTlsServer[] = R"(
import ssl, sys
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(sys.argv[2], sys.argv[3])
incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
conn = ctx.wrap_bio(incoming, outgoing, server_side=True)
incoming.write(open(sys.argv[1], 'rb').read())
try:
    conn.do_handshake()
    print('result=done')
except ssl.SSLWantReadError:
    print('result=want-read')
except ssl.SSLError as e:
    print('result=error ' + str(e.reason))
answer = outgoing.read()
print('record=' + answer[:1].hex())
print('handshake=' + answer[5:6].hex())
)";

std::string RunCommand(const std::string& command) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return "";
    std::string text;
    char line[4096];
    while (fgets(line, sizeof(line), p)) text += line;
    pclose(p);
    return text;
}


SSRServerInfo Info(const std::string& host, uint16_t port, const std::string& param) {
    SSRServerInfo info;
    info.host = host;
    info.port = port;
    info.param = param;
    info.ivLength = 16;
    info.keyLength = 32;
    info.headLength = 40;
    return info;
}

}  // namespace

TEST(SsrRealParsers, HttpRequestsGiveBackThePathBytesAndTheBody) {
    testsupport::TempDir dir("cendrow-ssr-http");
    testsupport::WriteFile(dir / "parse.py", kHttpParser);
    std::string input;
    for (int i = 0; i < 256; ++i) input += static_cast<char>(i);  // every byte value, 56 of them in the path
    for (const char* name : {"http_simple", "http_post"}) {
        auto obfs = CreateObfs(name, "");
        obfs->SetServerInfo(Info("cdn.example.com", 8080, ""));
        testsupport::WriteFile(dir / "request", EncodeOnce(*obfs, input));
        const std::string text = RunCommand("python3 '" + (dir / "parse.py").string() + "' '" + (dir / "request").string() + "'");
        const bool post = std::string(name) == "http_post";
        EXPECT_NE(text.find(std::string("method=") + (post ? "POST" : "GET") + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find("path=" + Hex(input.substr(0, 56)) + "\n"), std::string::npos) << text;
        EXPECT_NE(text.find("host=cdn.example.com:8080\n"), std::string::npos) << text;
        EXPECT_NE(text.find("agent=Mozilla/"), std::string::npos) << text;
        EXPECT_NE(text.find(post ? "type=multipart/form-data; boundary=" : "type=None"), std::string::npos) << text;
        EXPECT_NE(text.find("body=" + Hex(input.substr(56)) + "\n"), std::string::npos) << text;
    }
}

TEST(SsrRealParsers, OpenSslAnswersTheClientHelloWithAServerHello) {
    testsupport::TempDir dir("cendrow-ssr-tls");
    testsupport::TestCertificateAuthority ca;
    const testsupport::IssuedCertificate cert = ca.Issue({"www.example.com"});
    testsupport::WriteFile(dir / "server.py", kTlsServer);
    testsupport::WriteFile(dir / "cert.pem", cert.certPem);
    testsupport::WriteFile(dir / "key.pem", cert.keyPem);
    for (const char* host : {"www.example.com", "10.0.0.1", "a-much-longer-host-name.subdomain.example.org"}) {
        auto obfs = CreateObfs("tls1.2_ticket_auth", "");
        obfs->SetServerInfo(Info(host, 443, ""));
        testsupport::WriteFile(dir / "hello", EncodeOnce(*obfs, "first data"));
        const std::string text = RunCommand("python3 '" + (dir / "server.py").string() + "' '" + (dir / "hello").string() +
                                     "' '" + (dir / "cert.pem").string() + "' '" + (dir / "key.pem").string() + "'");
        // The server parsed every extension and chose a cipher: it waits for
        // the client's next flight after sending ServerHello.
        EXPECT_NE(text.find("result=want-read\n"), std::string::npos) << host << "\n" << text;
        EXPECT_NE(text.find("record=16\nhandshake=02\n"), std::string::npos) << host << "\n" << text;
    }
}
