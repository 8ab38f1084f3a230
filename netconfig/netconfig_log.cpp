#include "netconfig/netconfig_log.h"

#include "foundation/program_log.h"

void NetconfigLog(std::string_view line) {
    AppendToProgramLogOrStderr(line);
}
