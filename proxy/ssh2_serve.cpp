#include "proxy/ssh2_serve.h"

#include <chrono>

#include "nodes/node_mgr.h"
#include "proxy/local_proxy_settings.h"
#include "proxy/ssh2_client.h"
#include "proxy/ssh_session.h"

namespace {

constexpr auto kChannelOpenLimit = std::chrono::seconds(15);
constexpr auto kChannelCloseLimit = std::chrono::seconds(5);

}  // namespace

bool ServeSsh2Connection(CSshSession* session, int socket, CNodeInfo* node, const char* peerAddress,
                         uint16_t peerPort, const char* user, const char* password) {
    if (session == nullptr || node == nullptr) return false;
    NodeFields fields = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    LIBSSH2_CHANNEL* channel =
        session->OpenDirectTcpip(fields.host, fields.port, peerAddress ? peerAddress : "127.0.0.1", peerPort,
                                 std::chrono::duration_cast<std::chrono::milliseconds>(kChannelOpenLimit));
    if (channel == nullptr) return false;
    {
        CSSH2CLient client(socket, user, password, session, channel);
        client.SetLocalSocksPort(GetLocalProxySettings().localSocksPort.load());
        client.AttachNode(node);
        client.Run();
    }
    session->FreeChannel(channel, std::chrono::duration_cast<std::chrono::milliseconds>(kChannelCloseLimit));
    return true;
}
