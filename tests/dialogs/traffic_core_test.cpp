// The traffic panel's columns and figures.
#include <gtest/gtest.h>

#include "app/halvern_app.h"
#include "dialogs/base/traffic_core.h"
#include "foundation/text_format.h"
#include "nodes/node_mgr.h"

namespace {

struct LayoutCase {
    int w, h;
    PixRect label0, label2, value1;
};

TEST(TrafficPanel, ColumnsForClientSizes) {
    const LayoutCase cases[] = {
        {300, 60, {10, 6, 90, 13}, {210, 6, 90, 13}, {110, 25, 90, 31}},
        {400, 80, {10, 6, 123, 19}, {276, 6, 123, 19}, {143, 31, 123, 45}},
        {331, 47, {10, 6, 100, 9}, {230, 6, 100, 9}, {120, 21, 100, 22}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const TrafficLayout l = LayoutTrafficPanel(c.w, c.h);
        EXPECT_EQ(l.labels[0], c.label0);
        EXPECT_EQ(l.labels[2], c.label2);
        EXPECT_EQ(l.values[1], c.value1);
        // Labels and values share their columns.
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(l.labels[i].x, l.values[i].x);
            EXPECT_EQ(l.labels[i].width, l.values[i].width);
        }
    }
}

class FixedSource : public ITrafficSource {
public:
    bool ReadFigures(TrafficFigures* out) override {
        ++reads;
        if (!hasNode) return false;
        *out = figures;
        return true;
    }
    bool hasNode = true;
    TrafficFigures figures;
    int reads = 0;
};

TEST(TrafficPanel, OnlyAChangedFigureAsksForARepaint) {
    CTrafficFiguresCore core;
    FixedSource source;
    source.hasNode = false;
    source.figures = {L"9 K", L"1 K/s", 4};
    EXPECT_FALSE(core.Tick(source));
    EXPECT_EQ(core.Figures(), TrafficFigures{});  // "0 B", "0 B/s", 0
    source.hasNode = true;
    EXPECT_TRUE(core.Tick(source));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(core.Tick(source));
    source.figures.connections = 5;
    EXPECT_TRUE(core.Tick(source));
    // Without a node again, the last values stay.
    source.hasNode = false;
    EXPECT_FALSE(core.Tick(source));
    EXPECT_EQ(core.Figures(), (TrafficFigures{L"9 K", L"1 K/s", 5}));
    EXPECT_EQ(source.reads, 7);
}

TEST(TrafficPanel, TheProgramsFiguresCountOneAndAHalfTimesAndNoSpeedWhileDisconnected) {
    CNodeMgr::ReleaseInstance();
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    CAppTrafficSource source;
    TrafficFigures figures;
    EXPECT_FALSE(source.ReadFigures(&figures));
    NodeParams p;
    p.type = NodeTypeSocks5;
    p.host = "127.0.0.1";
    p.port = 1080;
    CNodeInfo* node = nodes->AddNode(p);
    ASSERT_NE(node, nullptr);
    nodes->SelectNode(node);
    node->AddSentBytes(600);
    node->AddReceivedBytes(400);
    node->AddBytes(50000);
    GetApp().SetConnectState(ConnectStateDisconnected);
    ASSERT_TRUE(source.ReadFigures(&figures));
    EXPECT_EQ(figures.total, FormatByteSize(1500));
    EXPECT_EQ(figures.speed, L"0 B/s");
    EXPECT_EQ(figures.connections, 0u);
    GetApp().SetConnectState(ConnectStateConnected);
    ASSERT_TRUE(source.ReadFigures(&figures));
    EXPECT_NE(figures.speed, L"0 B/s");
    GetApp().SetConnectState(ConnectStateDisconnected);
    CNodeMgr::ReleaseInstance();
}

}  // namespace
