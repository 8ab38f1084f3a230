#include "proxy/client_factory.h"

#include "proxy/s45_client.h"
#include "proxy/ss_client.h"

std::unique_ptr<CSocksClient> CreateUpstreamClient(int nodeType, int localSocket, const char* user,
                                                   const char* password) {
    switch (nodeType) {
        case NodeTypeHttp:
        case NodeTypeSocks4:
        case NodeTypeSocks5:
            return std::make_unique<CS45CLient>(localSocket, user, password);
        case NodeTypeSSR:
            return std::make_unique<CSSRCLient>(localSocket, user, password);
        default:
            return nullptr;
    }
}
