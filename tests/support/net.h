#pragma once
// Network fixtures for tests: free loopback ports and network namespaces that
// the test creates and always deletes. Nothing here touches the machine's own
// routes, addresses or devices.

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace testsupport {

// A port on 127.0.0.1 that is free for both TCP and UDP at the time of the call.
int FreeLoopbackPort();

// A TCP socket listening on 127.0.0.1 at a port the system picks (stored in
// *port); -1 on failure.
int ListenLoopback(int* port, int backlog = 8);

// Whether this process may create namespaces (root with CAP_SYS_ADMIN, iproute2 present).
bool CanUseNetns();

class NetNamespace {
public:
    // Creates a namespace named `<base>-<pid>` (unique per test process) with lo up.
    explicit NetNamespace(const std::string& base);
    // Takes over the existing namespace `name`, made by a script of the test.
    struct Adopt {};
    NetNamespace(const std::string& name, Adopt) : name_(name) {}
    // Kills whatever still runs inside (all of it started by the test) and deletes it.
    ~NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    const std::string& name() const { return name_; }

    // Runs a command inside the namespace to completion; returns its exit code.
    int Exec(const std::vector<std::string>& argv, std::string* out = nullptr) const;
    // Same, but fails the calling test when the exit code is not 0.
    void MustExec(const std::vector<std::string>& argv) const;
    // Starts a long-running command inside the namespace.
    ChildProcess Spawn(const std::vector<std::string>& argv, const std::string& log_path = "") const;

    // Moves the calling thread into the namespace until the scope ends. Threads
    // started inside the scope stay in the namespace.
    class Scope {
    public:
        explicit Scope(const NetNamespace& ns) : Scope(ns.name()) {}
        // A namespace by its name, one a script of the test made, say.
        explicit Scope(const std::string& name);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        int saved_fd_ = -1;
    };

private:
    std::vector<std::string> Wrap(const std::vector<std::string>& argv) const;
    std::string name_;
};

// A veth pair between two namespaces with an IPv4 address (CIDR text) on each end.
void LinkNamespaces(const NetNamespace& a, const std::string& if_a, const std::string& cidr_a,
                    const NetNamespace& b, const std::string& if_b, const std::string& cidr_b);

// Adds a link `dev` inside `ns` that carries addresses and routes and is
// never connected: a dummy where the kernel has that module, else an ifb
// link (which behaves alike). Left down.
void AddDummyLink(const NetNamespace& ns, const std::string& dev);

}  // namespace testsupport
