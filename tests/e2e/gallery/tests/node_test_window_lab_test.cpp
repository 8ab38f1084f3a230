// The current-node test window with the real node tests, running in the
// app namespace of the node-test lab and drawing on the test's virtual
// display (reached through its socket file: abstract sockets belong to a
// namespace): each line shows its level's colour where the window says the
// line is.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "foundation/text_convert.h"
#include "proxy/node_test_udp.h"
#include "proxy/node_testing.h"
#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/node_test_lab.h"
#include "tests/support/peers.h"

using namespace gallerytest;
using testsupport::NodeTestLab;

namespace {

const Rgb kPassGreen{0, 200, 0}, kErrorRed{255, 0, 0};

TEST(NodeTestWindowLab, TheLinesShowTheirLevelColoursInTheAppNamespace) {
    REQUIRE_DISPLAY();
    std::unique_ptr<NodeTestLab> lab;
    testsupport::BuildSuitePeers(
        {"danted", "microsocks", "tinyproxy", "ss-server", "nginx", "python3", "iperf3", "unbound"},
        [&] {
            std::vector<std::string> sites(std::begin(kTcpTestUrls), std::end(kTcpTestUrls));
            std::vector<std::pair<std::string, std::string>> pairs;
            for (const auto& pair : kUdpTestPairs)
                pairs.emplace_back(WideToUtf8String(pair.name), WideToUtf8String(pair.server));
            lab = std::make_unique<NodeTestLab>(sites, pairs);
        },
        [&] { lab.reset(); });
    if (!lab) GTEST_SKIP() << "needs root, iproute2 and the lab's servers";

    // The gallery in the app namespace, through a wrapper in place of its program.
    testsupport::TempDir wrapperDir{"cendrow-lab-gallery"};
    const std::string wrapper = (wrapperDir / "gallery-in-app").string();
    testsupport::WriteFile(wrapper, "#!/bin/sh\nexec ip netns exec " + lab->topology().app().name() + " " +
                                        DIALOG_GALLERY_EXE + " \"$@\"\n");
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    // An SS node (TCP then UDP, both pass) and microsocks (TCP passes, UDP is refused).
    const std::string host = NodeTestLab::kNodeHost;
    setenv("CENDROW_LAB_NODES",
           ("6:" + host + ":" + std::to_string(NodeTestLab::kSsPort) + ":" + NodeTestLab::kSsPassword + ":" +
            NodeTestLab::kSsMethod + ";5:" + host + ":" + std::to_string(NodeTestLab::kMicrosocksPort))
               .c_str(),
           1);
    Gallery g({"nodetestlab"}, {}, wrapper);
    unsetenv("CENDROW_LAB_NODES");
    ASSERT_TRUE(g.running());
    g.Command("act lab.start");
    // 6 + 5 lines of the SS node, 8 + 7 of microsocks.
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("lab", "running=0") && g.StateHas("lab", "lines=26"); },
                        std::chrono::seconds(60)))
        << g.State("lab");
    g.RefreshRects();
    const Screenshot shot = TakeScreenshot();
    int passed = 0, failed = 0;
    for (int i = 0; i < 40; ++i) {
        const std::string text = g.State("lab.line" + std::to_string(i));
        const Rect r = g.rect("lab.line" + std::to_string(i));
        if (r.w <= 0) continue;
        const int green = shot.Count(r, kPassGreen, 40), red = shot.Count(r, kErrorRed, 40);
        if (text.find("Passed!") != std::string::npos) {
            ++passed;
            EXPECT_GT(green, 10) << text;
            EXPECT_EQ(red, 0) << text;
        } else if (text.find("Unpassed!") != std::string::npos) {
            ++failed;
            EXPECT_GT(red, 10) << text;
            EXPECT_EQ(green, 0) << text;
        } else if (text.find("Testing started.") != std::string::npos) {
            EXPECT_EQ(green + red, 0) << text;
        }
    }
    // SS: TCP and UDP pass; microsocks: TCP passes, UDP fails.
    EXPECT_EQ(passed, 3);
    EXPECT_EQ(failed, 1);
}

}  // namespace
