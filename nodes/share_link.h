#pragma once
// Share links: one-line texts that describe a node. Three schemes are read,
// compared without regard to case: "ss:" (Shadowsocks), "ssr:"
// (ShadowsocksR) and "xvantor:" (the program's own, which also carries HTTP
// and SOCKS nodes with their credentials). The program never writes links.
//
// A refused link gives null and creates nothing. Every accepted link has a
// host (spaces trimmed), a port from 1 to 65535 and, for a Shadowsocks
// node, a cipher the program knows: a link is never turned into a node
// that would send traffic unencrypted or to a port the link did not name.
// A Base64 body, userinfo or password with stray characters is refused
// rather than read up to the first of them.

#include <cstdint>
#include <memory>
#include <string>

#include "nodes/node_info.h"

// A new node owned by the caller, with service state 1, country index -1 and
// no id (the node list assigns one); null when the link is refused.
std::unique_ptr<CNodeInfo> ParseShareLink(std::string link);

// The parsers of the three schemes, each given the text after the first "//".
std::unique_ptr<CNodeInfo> ParseSsLink(std::string body);
std::unique_ptr<CNodeInfo> ParseSsrLink(std::string body);
std::unique_ptr<CNodeInfo> ParseVantorLink(std::string body);

// The fields of a decoded ShadowsocksR body
// host:port:protocol:method:obfs:base64url(password)/?key=value&...
struct SsrLinkFields {
    std::string host;
    uint16_t port = 0;
    std::string protocol;
    std::string method;
    std::string obfs;
    std::string password;
    std::string obfsParam;
    std::string protocolParam;
    std::string remarks;
    std::string group;
    uint16_t udpPort = 0;
    uint8_t udpOverTcp = 0;
};

// 1 when `text` has the six fields with a host, a valid port and a clean
// Base64 password, else 0.
int ParseSsrLinkBody(const std::string& text, SsrLinkFields& out);
