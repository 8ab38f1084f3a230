#pragma once
// The plug-ins that change nothing: "plain" (obfuscation) and "origin"
// (protocol, plain Shadowsocks).

#include "ciphers/plugins/obfs.h"

class CObfsPlain : public CObfs {
public:
    CObfsPlain() : CObfs("plain", "") {}
    bool PassesThrough() const override { return true; }
};

class CProtocolOrigin : public CObfs {
public:
    CProtocolOrigin() : CObfs("origin", "") {}
    bool PassesThrough() const override { return true; }
};
