#pragma once
// The server side of a ShadowsocksR connection, written from the wire
// layouts alone, for tests that have no ShadowsocksR server to talk to. It
// makes every check a server makes on the client's bytes and fails with a
// reason on the first one that does not hold, and it builds the server's
// stream: the obfuscation's answer (HTTP response head, random answer block,
// ServerHello with its HMACs) and protocol packets carrying data back.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ciphers/cryptor.h"

namespace ssrtest {

struct ServerConfig {
    std::string method = "aes-256-cfb";
    std::string password = "secret";
    std::string obfs = "plain";
    std::string protocol = "origin";
    // What the client was told to use as Host or server name (its server
    // host, or one of the obfuscation parameter's hosts).
    std::string host = "proxy.example.org";
    uint16_t port = 8388;
    // Users of the per-user protocols: id -> password.
    std::map<uint32_t, std::string> users;
    // Sent to auth_chain clients in the first packet.
    uint16_t tcpMss = 1452;
    // The overhead the auth_chain client must report (obfuscation + protocol).
    uint16_t overhead = 0;
    // When set, the client ids and connection ids seen must be these.
    bool checkIds = false;
    std::string clientId;
    uint32_t connectionId = 0;
    // When set, the time stamps seen must be this.
    bool checkTime = false;
    uint32_t time = 0;
};

class ObfsServer;
class ProtocolServer;

class ServerDouble {
public:
    explicit ServerDouble(ServerConfig config);
    ~ServerDouble();

    // Bytes from the client, in any pieces. False (with Error()) on the first
    // check that fails; everything that decodes is appended to Received().
    bool Receive(std::string_view wire);
    // Sends `plain` back through protocol, cipher and obfuscation.
    void Send(std::string_view plain);
    // What the server wants on the wire (answers and sent data), emptied.
    std::string TakeOutput();

    const std::string& Received() const { return received_; }
    const std::string& Error() const { return error_; }
    // Data bytes of every auth_chain packet decoded so far, the auth packet's first.
    std::vector<size_t> PacketSizes() const;
    // True once the obfuscation's handshake with the client is complete.
    bool ObfsReady() const;

    // One UDP datagram through the protocol's UDP form (no cipher).
    bool UdpReceive(const std::string& datagram, std::string* plain);
    std::string UdpSend(const std::string& plain);

private:
    bool Fail(const std::string& why);

    ServerConfig config_;
    std::unique_ptr<CCryptor> cryptor_;
    std::unique_ptr<ObfsServer> obfs_;
    std::unique_ptr<ProtocolServer> protocol_;
    std::string cipherBytes_;  // before the client's IV is complete
    bool haveIv_ = false;
    int ivLength_ = 0;
    std::string output_;
    std::string received_;
    std::string error_;
};

}  // namespace ssrtest
