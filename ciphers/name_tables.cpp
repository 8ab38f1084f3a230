#include "ciphers/name_tables.h"

#include <iterator>

#include "foundation/string_util.h"

namespace {

const char* const CipherNameTable[] = {
    "aes-128-cfb",
    "aes-192-cfb",
    "aes-256-cfb",
    "aes-128-ctr",
    "aes-192-ctr",
    "aes-256-ctr",
    "salsa20",
    "chacha20",
    "chacha20-ietf",
    "camellia-128-cfb",
    "camellia-192-cfb",
    "camellia-256-cfb",
    "aes-256-gcm",
    "aes-192-gcm",
    "aes-128-gcm",
    "chacha20-ietf-poly1305",
    "xchacha20-ietf-poly1305",
    "rc4-md5-6",
    "rc4-md5",
    "rc4",
    "none",
};

struct NameRow {
    const char* name;
    int hasParam;
};

const NameRow ProtocolNameTable[] = {
    {"origin", 0},           {"auth_sha1_v4", 0}, {"auth_aes128_md5", 1},
    {"auth_aes128_sha1", 1}, {"auth_chain_a", 1}, {"auth_chain_b", 1},
};

const NameRow ObfsNameTable[] = {
    {"plain", 0},       {"http_simple", 1},        {"http_post", 1},
    {"random_head", 0}, {"tls1.2_ticket_auth", 1}, {"tls1.2_ticket_fastauth", 1},
};

bool SameName(const char* row, const std::string& name) {
    return StringEquals(row, name, true);
}

int IndexIn(const NameRow* rows, size_t count, const std::string& name) {
    for (size_t i = 0; i < count; ++i)
        if (SameName(rows[i].name, name)) return static_cast<int>(i);
    return -1;
}

void AppendRows(const NameRow* rows, size_t count, std::vector<SSRNameEntry>& out) {
    for (size_t i = 0; i < count; ++i) out.push_back({rows[i].name, rows[i].hasParam});
}

}  // namespace

int GetCipherIndex(std::string name) {
    for (size_t i = 0; i < std::size(CipherNameTable); ++i)
        if (SameName(CipherNameTable[i], name)) return static_cast<int>(i);
    return -1;
}

int GetProtocolIndex(std::string name) {
    return IndexIn(ProtocolNameTable, std::size(ProtocolNameTable), name);
}

int GetObfsIndex(std::string name) {
    return IndexIn(ObfsNameTable, std::size(ObfsNameTable), name);
}

int IsCipherName(std::string name) {
    return GetCipherIndex(std::move(name)) >= 0 ? 1 : 0;
}
int IsProtocolName(std::string name) {
    return GetProtocolIndex(std::move(name)) >= 0 ? 1 : 0;
}
int IsObfsName(std::string name) {
    return GetObfsIndex(std::move(name)) >= 0 ? 1 : 0;
}

void GetCipherNames(std::vector<std::string>& names) {
    names.insert(names.end(), std::begin(CipherNameTable), std::end(CipherNameTable));
}

void GetProtocolNames(std::vector<SSRNameEntry>& names) {
    AppendRows(ProtocolNameTable, std::size(ProtocolNameTable), names);
}

void GetObfsNames(std::vector<SSRNameEntry>& names) {
    AppendRows(ObfsNameTable, std::size(ObfsNameTable), names);
}
