#include "ciphers/plugins/obfs_factory.h"

#include "ciphers/plugins/checksums.h"
#include "ciphers/plugins/obfs_plain.h"
#include "foundation/string_util.h"

namespace {

enum class Kind { Origin, Plain };

struct PluginRow {
    const char* name;
    Kind kind;
};

const PluginRow kPlugins[] = {
    {"origin", Kind::Origin},
    {"plain", Kind::Plain},
};

std::unique_ptr<CObfs> Build(const PluginRow& row, std::string) {
    switch (row.kind) {
        case Kind::Origin:
            return std::make_unique<CProtocolOrigin>();
        case Kind::Plain:
            return std::make_unique<CObfsPlain>();
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<CObfs> CreateObfs(std::string name, std::string param) {
    InitCrc32Table();
    for (const PluginRow& row : kPlugins)
        if (StringEquals(row.name, name, true)) return Build(row, std::move(param));
    return nullptr;
}
