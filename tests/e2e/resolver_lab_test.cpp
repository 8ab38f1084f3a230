// The local resolver against real DNS servers in the resolver lab.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <netinet/in.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "foundation/text_convert.h"
#include "netconfig/dns_manager.h"
#include "netconfig/unbound_controller.h"
#include "platform/resolv_conf.h"
#include "tests/e2e/resolver_lab.h"

using namespace resolverlab;
using testsupport::ChildProcess;
using testsupport::NetNamespace;
using testsupport::ProcessGone;
using testsupport::ReadFile;
namespace fs = std::filesystem;

namespace {

TEST_F(ResolverLab, ForwardsListedNamesToTheDomesticServiceAndTheRestToTheRemoteOne) {
    ASSERT_EQ(Start(), 1);
    pid_t pid = ctl_->GetChildPid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(IsRunning(), 1);
    ASSERT_EQ(ResolvConf_SetServers({WideToUtf8String(CDNSManager::GetInstance()->FindPreset(0)->primary)}),
              ResolvConfResult::kOk);

    EXPECT_EQ(Resolve("www.domestic.example"), kDomesticAnswer);
    EXPECT_EQ(Resolve("www.other.example"), kRemoteAnswer);
    // Only the domestic server saw the listed name, only the remote one the other.
    std::string domesticLog = ReadFile(servers_dir_ / "domestic.log");
    std::string remoteLog = ReadFile(servers_dir_ / "remote.log");
    EXPECT_NE(domesticLog.find("www.domestic.example."), std::string::npos);
    EXPECT_EQ(domesticLog.find("www.other.example."), std::string::npos);
    EXPECT_NE(remoteLog.find("www.other.example."), std::string::npos);
    EXPECT_EQ(remoteLog.find("www.domestic.example."), std::string::npos);

    // Disconnect: the resolver is ended and reaped, the namespace's file is back.
    EXPECT_EQ(ctl_->KillAll(), 1);
    EXPECT_EQ(ctl_->GetChildPid(), -1);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped: no such child
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_EQ(IsRunning(), 0);
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(netns_etc_ / "resolv.conf"), kOriginalResolvConf);
    EXPECT_FALSE(fs::exists(prog_ / "unbound/unbound.state"));
}

TEST_F(ResolverLab, RegeneratesAfterAChangeAndReusesOtherwise) {
    ASSERT_EQ(Start(), 1);
    std::string service = ReadFile(prog_ / "unbound/service.conf");
    // A second start reuses the files and ends the first resolver.
    pid_t first = ctl_->GetChildPid();
    ASSERT_EQ(Start(), 1);
    EXPECT_NE(ctl_->GetChildPid(), first);
    EXPECT_TRUE(ProcessGone(first));
    EXPECT_EQ(ReadFile(prog_ / "unbound/service.conf"), service);

    // Swapped services: the listed name now goes to the "remote" server.
    ASSERT_EQ(ctl_->SetForwardAddresses(L"119.29.29.29", L"", L"8.8.8.8", L"8.8.4.4"), 1);
    ASSERT_EQ(Start(), 1);
    ASSERT_EQ(ResolvConf_SetServers({"127.0.0.1"}), ResolvConfResult::kOk);
    EXPECT_EQ(Resolve("www.domestic.example"), kRemoteAnswer);
    EXPECT_EQ(Resolve("www.other.example"), kDomesticAnswer);
    EXPECT_NE(ReadFile(prog_ / "unbound/service.conf"), service);
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
}

// Nothing but our own resolver is ever signalled, and a start that cannot
// serve 127.0.0.1:53 leaves nothing running.
TEST_F(ResolverLab, ForeignProcessesSurviveAndABusyPortFailsCleanly) {
    // A decoy that carries the resolver's name.
    fs::create_directories(prog_ / "decoy");
    fs::copy_file("/bin/sleep", prog_ / "decoy" / kResolverExeName);
    ChildProcess decoy = app_->Spawn({(prog_ / "decoy" / kResolverExeName).string(), "600"});
    // Someone else's DNS server on 127.0.0.1:53, answering as ours would.
    fs::path foreignDir = prog_ / "foreign";
    fs::create_directories(foreignDir);
    ChildProcess foreign = app_->Spawn(
        {resolver_.string(), "-c", ServerConf(foreignDir, "foreign", {"127.0.0.1"}, kRemoteAnswer)});
    {
        NetNamespace::Scope scope(*app_);
        ASSERT_TRUE(WaitUntil([] { return QueryA("127.0.0.1", "ready.example") == kRemoteAnswer; }));
    }

    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(ctl_->GetChildPid(), -1);
    EXPECT_EQ(IsRunning(), 0);
    EXPECT_FALSE(fs::exists(prog_ / "unbound/unbound.state"));
    EXPECT_TRUE(foreign.running());
    EXPECT_TRUE(decoy.running());
    foreign.Stop();

    // A bare socket on the port: the same.
    {
        NetNamespace::Scope scope(*app_);
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(ctl_->Start(), 0);
        EXPECT_EQ(ctl_->GetChildPid(), -1);
        close(fd);
    }

    // With the port free it starts; stopping it leaves the decoy alone.
    ASSERT_EQ(Start(), 1);
    EXPECT_EQ(ctl_->KillAll(), 1);
    EXPECT_TRUE(decoy.running());
    CUnboundController::ReleaseInstance();
    ctl_ = nullptr;
    EXPECT_TRUE(decoy.running());
}

// A run that dies with its resolver running and its DNS servers in place:
// the next start ends that resolver by its recorded id and puts DNS back.
TEST_F(ResolverLab, TheNextStartCleansUpAfterAKilledRun) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t helper;
    {
        NetNamespace::Scope scope(*app_);
        helper = fork();
        ASSERT_GE(helper, 0);
        if (helper == 0) {
            close(ready[0]);
            bool ok = ctl_->Start() == 1 && ResolvConf_SetServers({"127.0.0.1"}) == ResolvConfResult::kOk;
            char c = ok ? '1' : '0';
            if (write(ready[1], &c, 1) != 1) _exit(1);
            pause();
            _exit(0);
        }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    ASSERT_EQ(c, '1');
    std::string state = ReadFile(prog_ / "unbound/unbound.state");
    pid_t left = static_cast<pid_t>(std::atoi(state.c_str()));
    ASSERT_GT(left, 1);
    kill(helper, SIGKILL);
    waitpid(helper, nullptr, 0);
    EXPECT_FALSE(ProcessGone(left));
    EXPECT_EQ(Resolve("www.other.example"), kRemoteAnswer);  // the orphan still serves

    // The next run's start-up.
    EXPECT_EQ(CUnboundController::EndLeftoverResolver(prog_ / "unbound"), 1);
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(left); }));
    EXPECT_EQ(ResolvConf_Restore(), ResolvConfResult::kOk);
    EXPECT_EQ(ReadFile(netns_etc_ / "resolv.conf"), kOriginalResolvConf);
    EXPECT_FALSE(fs::exists(prog_ / "unbound/unbound.state"));
    EXPECT_EQ(CUnboundController::EndLeftoverResolver(prog_ / "unbound"), 0);
}

}  // namespace
