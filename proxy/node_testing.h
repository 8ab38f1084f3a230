#pragma once
// Node tests: before the tunnel comes up, and in the node-test window, a
// node must show that it really relays. The TCP test fetches the first bytes
// of a web page through the node (any of four sites will do), the UDP test
// resolves a name through the node's UDP relay, and the latency is the
// connect time (Shadowsocks) or an ICMP echo of the server (HTTP and SOCKS).
// Every step reports a line through the log callback.

#include <netinet/in.h>

#include <string>

#include "proxy/s45_client.h"
#include "proxy/ss_client.h"
#include "proxy/test_stop.h"

// Receives every line of a test: user data, text, level (1 progress, 2 a
// passed step or result, 3 an error).
using TestLogCallback = void (*)(void* userData, const wchar_t* text, int level);

enum TestLogLevel {
    kTestLogInfo = 1,
    kTestLogPassed = 2,
    kTestLogError = 3,
};

// The four sites the TCP test fetches, in order (bare host names).
extern const char* const kTcpTestUrls[4];

class CTestingBase {
public:
    // `option` 0 writes the header lines first; a null callback logs nothing.
    CTestingBase(TestLogCallback callback, void* userData, int option);
    virtual ~CTestingBase();
    CTestingBase(const CTestingBase&) = delete;
    CTestingBase& operator=(const CTestingBase&) = delete;

    virtual bool RunTest(CNodeInfo*, int) { return true; }
    virtual bool TestTcp() { return true; }
    virtual bool TestUdp() { return true; }
    // The node's details, every secret one shown as "***".
    virtual void WriteHeader(CNodeInfo* node);

protected:
    // The translation of `message`, as one line.
    void Log(int level, const char* message);
    // The translation of `format`, filled in printf-style.
    void LogFormat(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A line taken as it is, untranslated.
    void LogRaw(int level, const std::string& text);
    // Logs `passed` (level 2) or `failed` (level 3) and returns `ok`.
    bool LogOutcome(bool ok, const char* passed, const char* failed);
    // Whether any of the test sites answers `testOneUrl`, tried in order
    // until one does or the test is stopped.
    template <class TestOne>
    static bool AnyTestUrlPasses(TestOne testOneUrl) {
        for (const char* url : kTcpTestUrls) {
            if (TestStopRequested()) return false;
            if (testOneUrl(url)) return true;
        }
        return false;
    }

    int option_;
    void* userData_;
    TestLogCallback callback_;
};

class CSSRClientTesting : public CSSRCLient, public CTestingBase {
public:
    CSSRClientTesting(TestLogCallback callback, void* userData, int option);
    ~CSSRClientTesting() override;

    // `udp` 1 runs the UDP test, 0 the TCP test; 1 passed. The result is
    // stored at the node.
    bool RunTest(CNodeInfo* node, int udp) override;
    bool TestTcp() override;
    bool TestUdp() override;
    bool TestUdpTransfer() override;
    bool TestTcpTransfer() override;
    // One try, at most 10 s; the connect time becomes the measured latency.
    int ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out) override;
    virtual bool TestOneUrl(const char* url);

    int GetConnectTime() const { return connectTimeMs_; }

private:
    int connectTimeMs_ = 0;
};

class CS45ClientTesting : public CS45CLient, public CTestingBase {
public:
    CS45ClientTesting(TestLogCallback callback, void* userData, int option);
    ~CS45ClientTesting() override;

    bool RunTest(CNodeInfo* node, int udp) override;
    bool TestTcp() override;
    bool TestUdp() override;
    // The public address behind a proxy program on this machine, from a
    // page that answers with it: 1 and the dotted text in *address; 0 for a
    // node elsewhere (without connecting), or any other answer.
    bool FetchExitAddress(CNodeInfo* node, const std::wstring& url, std::string* address) override;
    bool TestUdpTransfer() override;
    bool TestTcpTransfer() override;
    // One try, at most 5 s.
    int ConnectServer(bool udp, bool nonBlocking, sockaddr_in* out) override;
    virtual bool TestOneUrl(const char* url);

private:
    // The node's handshake for the destination set before.
    bool Handshake();
};
