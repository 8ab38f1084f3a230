#pragma once
// Undoing what a connection changed in the machine's network: at disconnect,
// after a failed connect, and at start-up after a run that ended without
// undoing it (a crash, kill -9, a power cut). Routes are the route manager's
// own business at disconnect; at start-up the routes with the program's tag
// go here too.

#include <filesystem>

#include "platform/resolv_conf.h"

// The file in the program folder that keeps the machine's DNS configuration
// while ours is in place: "config/resolv.conf.saved".
std::filesystem::path DnsBackupPath(const std::filesystem::path& programFolder);
// Makes the DNS backend keep its backup there, and use the resolv.conf
// helper beside the executable when it cannot write the file itself.
void UseDnsBackupIn(const std::filesystem::path& programFolder);

// Disconnect and failed connect: the machine's DNS configuration back, our
// resolver ended, the TUN device down (it keeps its address; the kernel drops
// every route through it). 1 when all of it is done.
int UndoTunnelConfiguration();

struct StartUpRecovery {
    int routesRemoved = 0;  // -1: the table could not be read
    ResolvConfResult dns = ResolvConfResult::kNothingToDo;
    int resolverEnded = 0;
    int tunDown = 0;  // 1: the TUN device exists and is down now
};

// Start-up, before adapter discovery: removes every route with the program's
// tag, restores a DNS backup, ends a resolver a crashed run left (by the
// state file in the program folder's "unbound" folder) and sets the TUN
// device down. Sets the DNS backup file as UseDnsBackupIn does.
StartUpRecovery RecoverNetworkAtStartUp(const std::filesystem::path& programFolder);
