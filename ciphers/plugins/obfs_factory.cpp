#include "ciphers/plugins/obfs_factory.h"

#include "ciphers/plugins/checksums.h"
#include "ciphers/plugins/obfs_http.h"
#include "ciphers/plugins/obfs_plain.h"
#include "ciphers/plugins/obfs_tls12_ticket_auth.h"
#include "ciphers/plugins/protocol_auth_aes128.h"
#include "ciphers/plugins/protocol_auth_chain.h"
#include "ciphers/plugins/protocol_auth_sha1_v4.h"
#include "foundation/string_util.h"

namespace {

using Builder = std::unique_ptr<CObfs> (*)(const char* name, std::string param);

template <class T>
std::unique_ptr<CObfs> Named(const char* name, std::string param) {
    return std::make_unique<T>(name, std::move(param));
}

struct PluginRow {
    const char* name;
    Builder build;
};

// Searched in this order; the object stores the name as written here.
const PluginRow kPlugins[] = {
    {"origin", [](const char*, std::string) -> std::unique_ptr<CObfs> { return std::make_unique<CProtocolOrigin>(); }},
    {"auth_sha1_v4",
     [](const char*, std::string param) -> std::unique_ptr<CObfs> {
         return std::make_unique<CProtocol_auth_sha1_v4>(std::move(param));
     }},
    {"auth_aes128_md5", &Named<CProtocol_auth_aes128_md5>},
    {"auth_aes128_sha1", &Named<CProtocol_auth_aes128_md5>},
    {"auth_chain_a", &Named<CProtocolAuthChainA>},
    {"auth_chain_b", &Named<CProtocolAuthChainB>},
    {"plain", [](const char*, std::string) -> std::unique_ptr<CObfs> { return std::make_unique<CObfsPlain>(); }},
    {"http_simple", &Named<CObfsHttpSimple>},
    {"http_post", &Named<CObfsHttpSimple>},
    {"random_head",
     [](const char*, std::string param) -> std::unique_ptr<CObfs> {
         return std::make_unique<CObfsRandomHead>(std::move(param));
     }},
    {"tls1.2_ticket_auth", &Named<CObfsTls12TickAuth>},
    {"tls1.2_ticket_fastauth", &Named<CObfsTls12TickAuth>},
};

}  // namespace

std::unique_ptr<CObfs> CreateObfs(std::string name, std::string param) {
    InitCrc32Table();
    for (const PluginRow& row : kPlugins)
        if (StringEquals(row.name, name, true)) return row.build(row.name, std::move(param));
    return nullptr;
}
