#pragma once
// The host guard: a switch that test programs set so that no change of
// routes, addresses, links or DNS can ever act in the machine's own network
// namespace. With the guard on, every layer that changes the network asks
// HostGuard_Refuses before acting; in the namespace the process started in
// the answer is "refused", said loudly on stderr.
//
// The guard is on after HostGuard_Enable() or when the environment holds
// CENDROW_HOST_GUARD=1 (Enable sets it, so helper processes inherit it).
// Enable also exports the first namespace's identity as
// CENDROW_HOST_GUARD_NETNS, so that a helper started inside a test's
// namespace still knows which namespace is the machine's.

#include <cstdint>

void HostGuard_Enable();
bool HostGuard_IsEnabled();

// Identity (inode) of the calling thread's network namespace; 0 when unknown.
uint64_t HostGuard_CurrentNamespace();
// Identity of the namespace the process started in.
uint64_t HostGuard_FirstNamespace();

// True when the guard is on and `ns` is the process's first namespace (or
// unknown); then "host guard: refused <what> ..." goes to stderr.
bool HostGuard_Refuses(uint64_t ns, const char* what);
// The same for the calling thread's namespace.
bool HostGuard_RefusesHere(const char* what);

// For a separate helper program, whose own first namespace says nothing:
// true when the guard is on and the calling thread's namespace is the one
// CENDROW_HOST_GUARD_NETNS names, or when that is not known.
bool HostGuard_RefusesInMachineNamespace(const char* what);
