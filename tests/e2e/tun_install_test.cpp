// The program's TUN device installed and removed, and the free-port search,
// inside a network namespace the test creates and deletes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "foundation/system_helpers.h"
#include "platform/tun_device.h"
#include "tests/support/net.h"

using testsupport::NetNamespace;

TEST(TunInstall, InstallAndRemoveInANamespace) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    NetNamespace ns("czt-inst");
    NetNamespace::Scope inside(ns);

    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kMissing);
    EXPECT_TRUE(InstallTapDriver("/unused"));
    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kFound);
    // A second install leaves the device as it is.
    EXPECT_TRUE(InstallTapDriver("/unused"));
    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kFound);

    EXPECT_TRUE(RemoveTapDriver("/unused", false));
    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kMissing);
    // Nothing to remove: still gone, and nothing was made meanwhile.
    EXPECT_TRUE(RemoveTapDriver("/unused", false));
    EXPECT_TRUE(RemoveTapDriver("/unused", true));
    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kMissing);

    // Another kind of link of that name is not our device.
    ns.MustExec({"ip", "link", "add", kTunDeviceName, "type", "veth", "peer", "name", "czt-peer"});
    EXPECT_FALSE(InstallTapDriver("/unused"));
    EXPECT_TRUE(RemoveTapDriver("/unused", true));

    // While the engine holds the device, only the forced removal takes it away.
    ASSERT_TRUE(InstallTapDriver("/unused"));
    int fd = TunDevice_Open(kTunDeviceName);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(RemoveTapDriver("/unused", false));
    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kFound);
    EXPECT_TRUE(RemoveTapDriver("/unused", true));
    EXPECT_EQ(TunDevice_Find(kTunDeviceName), TunLookup::kMissing);
    close(fd);
}

TEST(TunInstall, FreeLocalPortInANamespace) {
    if (!testsupport::CanUseNetns()) GTEST_SKIP() << "needs root and iproute2";
    NetNamespace ns("czt-port");
    NetNamespace::Scope inside(ns);
    // Nothing listens in a fresh namespace.
    EXPECT_EQ(FindFreeLocalPort(), 16666);

    auto listenOn = [](int port, bool v6) {
        int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        sockaddr_storage ss{};
        socklen_t len;
        if (v6) {
            auto* sa = reinterpret_cast<sockaddr_in6*>(&ss);
            sa->sin6_family = AF_INET6;
            sa->sin6_port = htons(static_cast<uint16_t>(port));
            sa->sin6_addr = in6addr_loopback;
            len = sizeof *sa;
        } else {
            auto* sa = reinterpret_cast<sockaddr_in*>(&ss);
            sa->sin_family = AF_INET;
            sa->sin_port = htons(static_cast<uint16_t>(port));
            sa->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof *sa;
        }
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&ss), len), 0) << port;
        EXPECT_EQ(listen(fd, 1), 0);
        return fd;
    };
    int a = listenOn(16666, false);
    EXPECT_EQ(FindFreeLocalPort(), 16667);
    int b = listenOn(16667, true);
    EXPECT_EQ(FindFreeLocalPort(), 16668);

    close(a);
    close(b);
    EXPECT_EQ(FindFreeLocalPort(), 16666);
}
