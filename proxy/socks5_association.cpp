#include "proxy/socks5_association.h"

#include <arpa/inet.h>

#include <string>

#include "proxy/node_connect.h"
#include "proxy/s45_client.h"
#include "proxy/socket_base.h"

int OpenSocks5Association(const NodeFields& fields, CNodeInfo* node, sockaddr_in* relay, uint32_t* boundAddress) {
    if (node) node->CountConnectAttempt();
    sockaddr_in server{};
    int control = -1;
    if (ResolveSockAddrCached(fields.port, &server, fields.GetConnectAddress().c_str())) {
        control = ConnectSocketTo(server, false, true, nullptr);
    }
    if (control < 0) {
        if (node) node->CountFailedAttempt();
        return -1;
    }
    uint16_t boundPort = 0;
    std::string failText;
    if (!CS45CLient::Socks5Exchange(control, fields, 3, 1, std::string(), 0, boundAddress, &boundPort, &failText)) {
        CloseSocket(control);
        return -1;
    }
    *relay = server;
    relay->sin_port = htons(boundPort);
    return control;
}
