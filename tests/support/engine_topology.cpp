#include "tests/support/engine_topology.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace testsupport {

EngineTopology::EngineTopology(const std::string& dir) : tag_(std::to_string(getpid())), dir_(dir) {
    if (Script({"create", tag_}) != 0 || Script({"peers", tag_, dir_}) != 0) {
        Script({"delete", tag_});
        throw std::runtime_error("building the engine topology failed");
    }
    app_ = std::make_unique<NetNamespace>("cdr-app-" + tag_, NetNamespace::Adopt{});
    proxy_ = std::make_unique<NetNamespace>("cdr-proxy-" + tag_, NetNamespace::Adopt{});
    server_ = std::make_unique<NetNamespace>("cdr-server-" + tag_, NetNamespace::Adopt{});
}

// Each namespace ends what runs inside it and goes.
EngineTopology::~EngineTopology() = default;

void EngineTopology::RouteThroughEngine() const {
    if (Script({"routes", tag_}) != 0) throw std::runtime_error("routing through the engine failed");
}

int EngineTopology::Script(const std::vector<std::string>& args) const {
    const char* source = std::getenv("CENDROW_SOURCE_DIR");
    std::vector<std::string> argv = {"bash",
                                     std::string(source ? source : ".") + "/scripts/engine-topology.sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
}

}  // namespace testsupport
