#pragma once
// Builds a protocol or obfuscation plug-in from its name.

#include <memory>
#include <string>

#include "ciphers/plugins/obfs.h"

// The plug-in for `name` (compared ignoring ASCII case; the plug-in keeps the
// table's spelling) with `param`, or null for a name no plug-in has.
std::unique_ptr<CObfs> CreateObfs(std::string name, std::string param);
