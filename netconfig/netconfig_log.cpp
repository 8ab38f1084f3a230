#include "netconfig/netconfig_log.h"

#include <cstdio>

#include "foundation/program_log.h"

void NetconfigLog(std::string_view line) {
    if (AppendToProgramLog(line)) return;
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}
