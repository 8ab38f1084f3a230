#pragma once
// One accepted local connection, served as a SOCKS 4, 4a or 5 server; the
// base of every upstream client (and of the node tests). This class reads
// the local client's greeting, credentials and request and replies where the
// protocol demands it; the subclass connects through its node, relays, and
// handles UDP.
//
// Replies: SOCKS 5 is 05 REP 00 01 ADDR(4) PORT(2); SOCKS 4 is 00 CD PORT(2)
// ADDR(4). A request with version 4 inside a SOCKS 5 greeting switches the
// replies to the SOCKS 4 form.

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ciphers/cryptor.h"
#include "nodes/node_info.h"
#include "proxy/socket_base.h"

class CSocksClient : public CSocketBase {
public:
    // Takes over `localSocket` (closed by the destructor). The credentials,
    // at most 255 bytes each, are what local SOCKS 5 clients must give; both
    // empty (or null) means no authentication.
    CSocksClient(int localSocket, const char* user, const char* password);
    ~CSocksClient() override;

    // The node this connection relays through. Its texts are copied here once,
    // under the node list's lock; the record itself only takes the counters.
    void AttachNode(CNodeInfo* node);
    CNodeInfo* GetNode() const { return node_; }
    const NodeFields& GetNodeFields() const { return nodeFields_; }
    void SetLocalSocksPort(uint16_t port) { localSocksPort_ = port; }
    // Why the last upstream step failed (translated text), empty when none did.
    const std::string& GetUpstreamText() const { return upstreamText_; }
    const std::string& GetDestinationHost() const { return destHost_; }
    uint16_t GetDestinationPort() const { return destPort_; }
    int GetCommand() const { return command_; }
    int GetAddressType() const { return addressType_; }
    int GetSocksVersion() const { return socksVersion_; }
    // The accepted connection (for the engine's UDP stream, the udpgw stream).
    int GetLocalSocket() const { return localSocket_; }
    // The node's server endpoint as the client resolved it for this
    // connection (family 0 until then).
    const sockaddr_in& GetNodeServerAddress() const { return nodeServerAddr_; }

    // Node tests (the upstream clients answer 1).
    virtual bool RunTest(CNodeInfo*, int) { return true; }
    virtual bool TestTcp() { return true; }
    virtual bool TestUdp() { return true; }
    virtual bool FetchExitAddress(CNodeInfo*, const std::wstring&, std::string*) { return true; }
    virtual void SetTestTargets(const std::wstring& testHost, const std::wstring& testDnsServer);
    virtual bool TestUdpTransfer() { return true; }
    virtual bool TestTcpTransfer() { return true; }

    // Serves the whole connection: greeting, request, reply, relay. 0 when
    // it ended before the relay.
    virtual int Run();

    // Towards the node through the client's pipeline: the bytes written, -1
    // on an error or when not all of them could be sent within the time-out.
    virtual int SendVia(int s, const void* data, int len, int timeout) = 0;
    // A datagram: to the local client's UDP address when `s` is the UDP
    // socket, to the node's server when it is the remote socket or
    // `towardsNode` is set.
    virtual int SendToVia(int s, const void* data, int len, int unused, bool towardsNode) = 0;
    // Bytes received (through the pipeline on the node's side), 0 when
    // nothing could be delivered yet, -1 when the socket closed or failed.
    virtual int RecvVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag) = 0;
    // A datagram; one on the UDP socket from the local client's host makes
    // its sender the client's UDP address, one from anywhere else is dropped (0).
    virtual int RecvFromVia(int s, void* buf, int len, int timeout, int* sendBack, int* cryptorFlag,
                            int udpgw) = 0;

    virtual bool Socks5Methods();
    virtual int Socks4Request();
    virtual bool Socks5UserPass();
    virtual int Socks5Request();
    virtual int OnConnect();
    // The base answers with a UDP socket of this machine and relays nothing;
    // the upstream clients associate through their node.
    virtual bool OnUdpAssociate();
    virtual bool Socks5Bind();
    virtual bool Socks4Bind();
    virtual bool CheckCredentials(const std::string& user, const std::string& password);
    virtual bool ConnectUpstreamAndReply() = 0;
    virtual bool ReplyLocalBound() = 0;
    virtual int OnUdpAssociated() { return 1; }
    // A first byte that is neither 4 nor 5 (0 when none came): 0 ends the
    // connection, 1 ends it as served, anything else goes on to the relay.
    virtual int OnOtherProtocol(int firstByte);
    // UDP ASSOCIATE relays datagrams, the engine's UDP stream runs the
    // udpgw loop, everything else is a TCP relay.
    virtual int Relay();
    virtual int RelayUdpAssociate() = 0;
    virtual int RelayTcp() = 0;
    virtual int RunUdpGwLoop() = 0;
    // Whether the pipeline may still hold upload bytes back until the node
    // answers (an obfuscation handshake): the relay then passes the local
    // client's end on only after those bytes went out.
    virtual bool UploadHeldBack() const { return false; }

    // Field reads and writes of the handshakes: bytes from the local client
    // within 5 s, from the node within 10 s (one byte) or 5 s (a field read
    // whole); writes within 5 s.
    virtual bool ReadLocalByte(int* value);
    virtual bool ReadRemoteByte(int* value);
    virtual int ReadLocal(void* buf, int len);
    virtual int ReadRemote(void* buf, int len);
    virtual int WriteLocal(const void* data, int len);
    virtual int WriteRemote(const void* data, int len);

    // One SOCKS 4 reply; true when all 8 bytes went out. Address in network
    // order, port in host order.
    bool SendSocks4Reply(int code, uint32_t address, uint16_t port);
    bool SendSocks5Reply(int rep, uint32_t address, uint16_t port);

protected:
    // Success (REP 0 / CD 90) or failure (REP 1 / CD 92) in the form of the request.
    bool ReplyResult(bool success, uint32_t address, uint16_t port);
    // The local socket's own address and port (network order, host order).
    void LocalSocketName(uint32_t* address, uint16_t* port) const;
    // Stores the translated text of an English message as the upstream text.
    void SetUpstreamText(const char* message);
    // Counts relayed bytes at the node (totals and speed).
    void CountReceived(int bytes);
    void CountSent(int bytes);

    // The TCP relay between the local and the remote socket, shared by the
    // upstream clients: both directions until the relay-running flag drops,
    // both sides have closed, or something fails. A side that closes its
    // sending half has the other side's sending half shut down and the other
    // direction goes on. A failure (an error, a send that timed out) resets
    // both connections, so that neither peer takes a cut stream for a whole one.
    int RelayTcpStreams(int bufferSize, int readMax, int sendTimeout);
    // Resets the connection on close instead of ending it in order.
    static void AbortOnClose(int s);
    // Where a relay step failed, for the log line; the first mark wins
    // (a pipeline stage marks before the relay sees its -1).
    void NoteFailure(const char* stage, int error = 0);
    void ClearFailure() { failStage_ = nullptr; failError_ = 0; }
    // One rate-limited log line: the connection ended early at the stage
    // marked (else `stage`), with the node and this connection's byte counts.
    void LogEarlyEnd(const char* stage, int error);

    CNodeInfo* node_ = nullptr;
    NodeFields nodeFields_;
    std::unique_ptr<CCryptor> cryptor_;
    int localSocket_ = -1;
    int remoteSocket_ = -1;
    int udpSocket_ = -1;
    sockaddr_in udpPeerAddr_{};
    int socksVersion_ = 5;
    int command_ = 0;
    int addressType_ = 0;
    std::string destHost_;  // dotted address or name, at most 255 bytes
    uint16_t destPort_ = 0;
    sockaddr_in nodeServerAddr_{};
    uint16_t localSocksPort_ = 0;
    std::string user_;
    std::string password_;
    int udpgwFlag_ = 0;
    std::wstring testHost_ = L"www.google.com";
    std::wstring testDnsServer_ = L"8.8.8.8";
    std::string upstreamText_;
    const char* failStage_ = nullptr;
    int failError_ = 0;
    uint64_t bytesUp_ = 0;    // on the wire towards the node
    uint64_t bytesDown_ = 0;  // plain bytes from the node

private:
    bool ReadSocks5Address(int atyp, bool isConnect);
    int ReadNulTerminated(std::string* out, size_t maxLen);
    bool WaitForBindPeer(int listenSocket, sockaddr_in* peer, int* accepted);
    // BIND with replies in the SOCKS 5 or the SOCKS 4 form.
    bool ServeBind(bool socks5);
};

// Whether `name` may travel as a destination host name: 1 to 255 bytes, no
// control characters, spaces or DEL (which would cut or extend a request line).
bool IsValidDestinationName(const std::string& name);
