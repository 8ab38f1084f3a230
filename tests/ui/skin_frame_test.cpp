// Geometry of the skinned frame: button places, hit tests, what a click does,
// the cells shown, the composed frame's pixels and the rounded outline.
#include "ui/base/skin_frame.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/ui/skin_fixture.h"

namespace {

// Cells 22 x 22 at y 4; right slice 4: close at W-27, maximize W-50, minimize W-73.
FrameMetrics Metrics() {
    FrameMetrics m;
    m.title_height = 30;
    m.side_width = 3;
    m.bottom_height = 3;
    m.cell_width = 22;
    m.cell_height = 22;
    m.button_top = 4;
    m.title_right = 4;
    m.close_offset = 27;
    m.maximize_offset = 50;
    m.minimize_offset = 73;
    m.title_left = 4;
    m.title_text_top = 8;
    return m;
}

constexpr int W = 300, H = 200;

TEST(SkinFrame, ButtonRects) {
    const FrameMetrics m = Metrics();
    const FrameButtons all{true, true, true};
    EXPECT_EQ(SysButtonRect(m, all, W, kSysClose), (PixRect{273, 4, 22, 22}));
    EXPECT_EQ(SysButtonRect(m, all, W, kSysMaximize), (PixRect{250, 4, 22, 22}));
    EXPECT_EQ(SysButtonRect(m, all, W, kSysMinimize), (PixRect{227, 4, 22, 22}));
    const FrameButtons minOnly{true, false, true};
    EXPECT_EQ(SysButtonRect(m, minOnly, W, kSysMinimize), (PixRect{250, 4, 22, 22}))
        << "without a maximize button the minimize button takes its place";
    EXPECT_TRUE(SysButtonRect(m, all, W, 3).IsEmpty());
    EXPECT_EQ(FrameClientRect(m, W, H), (PixRect{3, 30, 294, 167}));
}

TEST(SkinFrame, HitTests) {
    const FrameMetrics m = Metrics();
    const struct {
        const char* name;
        FrameButtons b;
        int x, y, hit;
    } cases[] = {
        {"title band", {false, false, true}, 100, 10, HTCAPTION},
        {"client", {false, false, true}, 100, 100, HTCLIENT},
        {"left border", {false, false, true}, 1, 100, HTBORDER},
        {"bottom border", {false, false, true}, 100, 198, HTBORDER},
        {"close", {false, false, true}, 280, 10, HTCLOSE},
        {"close button's edge", {false, false, true}, 273, 4, HTCLOSE},
        {"just past close", {false, false, true}, 295, 10, HTCAPTION},
        {"close only: maximize place is caption", {false, false, true}, 255, 10, HTCAPTION},
        {"maximize", {true, true, true}, 255, 10, HTMAXBUTTON},
        {"minimize", {true, true, true}, 230, 10, HTMINBUTTON},
        {"minimize in the maximize place", {true, false, true}, 255, 10, HTMINBUTTON},
        {"minimize's usual place is caption then", {true, false, true}, 230, 10, HTCAPTION},
        {"no close box", {false, false, false}, 280, 10, HTCAPTION},
        {"outside", {true, true, true}, -1, 10, HTNOWHERE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameHitTest(m, c.b, W, H, c.x, c.y), c.hit) << c.name;
    }
}

TEST(SkinFrame, ClicksActOnButtonUp) {
    const FrameButtons all{true, true, true};
    const FrameButtons closeOnly{false, false, true};
    EXPECT_EQ(SysCommandForButtonUp(HTCLOSE, closeOnly, false), SC_CLOSE);
    EXPECT_EQ(SysCommandForButtonUp(HTMAXBUTTON, all, false), SC_MAXIMIZE);
    EXPECT_EQ(SysCommandForButtonUp(HTMAXBUTTON, all, true), SC_RESTORE);
    EXPECT_EQ(SysCommandForButtonUp(HTMINBUTTON, all, false), SC_MINIMIZE);
    EXPECT_EQ(SysCommandForButtonUp(HTMINBUTTON, closeOnly, false), SC_NONE);
    EXPECT_EQ(SysCommandForButtonUp(HTCAPTION, all, false), SC_NONE);
    EXPECT_EQ(SysCommandForButtonUp(HTCLOSE, FrameButtons{true, true, false}, false), SC_NONE);
    EXPECT_EQ(SysCommandForDoubleClick(all, false), SC_MAXIMIZE);
    EXPECT_EQ(SysCommandForDoubleClick(all, true), SC_RESTORE);
    EXPECT_EQ(SysCommandForDoubleClick(closeOnly, false), SC_NONE);
}

TEST(SkinFrame, ButtonCells) {
    const struct {
        int which;
        bool zoomed, hover, down;
        int column, row;
    } cases[] = {
        {kSysMinimize, false, false, false, 0, 0}, {kSysMaximize, false, true, false, 1, 1},
        {kSysMaximize, true, false, false, 2, 0},  {kSysMaximize, true, true, true, 2, 2},
        {kSysClose, false, true, true, 3, 2},      {kSysClose, false, false, true, 3, 0},
    };
    for (const auto& c : cases) {
        const SysButtonCell cell = SysButtonCellFor(c.which, c.zoomed, c.hover, c.down);
        EXPECT_EQ(cell.column, c.column) << c.which;
        EXPECT_EQ(cell.row, c.row) << c.which;
    }
}

TEST(SkinFrame, TitleTextRect) {
    const FrameMetrics m = Metrics();
    // Each shown button takes cell width - 1 off the right.
    EXPECT_EQ(TitleTextRect(m, FrameButtons{false, false, true}, W, false),
              (PixRect{9, 8, 300 - 21 - 9, 26}));
    EXPECT_EQ(TitleTextRect(m, FrameButtons{true, true, true}, W, true), (PixRect{25, 8, 300 - 63 - 25, 26}));
}

class ComposeTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::ResetSkin();
        uitest::WriteSkin(dir_.path(), uitest::SkinFiles{});
        ASSERT_EQ(LoadSkin(L"test"), 1);
        ASSERT_EQ(GetSkin().dialog_loaded, 1);
    }
    void TearDown() override { uitest::ResetSkin(); }
    testsupport::TempDir dir_{"cendrow-frame"};
};

TEST_F(ComposeTest, FramePixels) {
    const SkinSettings& s = GetSkin();
    Pixmap f(W, H, 0xFF000000u);
    const FrameButtons b{true, true, true};
    ComposeFrame(f, s, b, false, HTCLOSE, false);
    auto at = [&](int x, int y) { return ColorRefOf(f.At(x, y)); };
    EXPECT_EQ(at(1, 15), uitest::kTitleLeft);
    EXPECT_EQ(at(150, 15), uitest::kTitleMid) << "the middle slice is stretched";
    EXPECT_EQ(at(298, 2), uitest::kTitleRight);
    // close offset: 4 + 23 = 27; hovered close shows column 3, row 1.
    EXPECT_EQ(at(W - 27 + 5, 4 + 5), uitest::SysCellColour(3, 1));
    EXPECT_EQ(at(W - 50 + 5, 4 + 5), uitest::SysCellColour(1, 0));
    EXPECT_EQ(at(W - 73 + 5, 4 + 5), uitest::SysCellColour(0, 0));
    EXPECT_EQ(at(1, 100), uitest::kSide);
    EXPECT_EQ(at(W - 1, 100), uitest::kSide);
    EXPECT_EQ(at(1, H - 1), uitest::kBottomLeft);
    EXPECT_EQ(at(150, H - 2), uitest::kBottomMid);
    EXPECT_EQ(at(W - 1, H - 1), uitest::kBottomRight);
    EXPECT_EQ(at(150, 100), RGB(0, 0, 0)) << "the client area is left alone";

    // Pressed and zoomed: the maximize place shows the restore cell, row 2.
    ComposeFrame(f, s, b, true, HTMAXBUTTON, true);
    EXPECT_EQ(at(W - 50 + 5, 4 + 5), uitest::SysCellColour(2, 2));
    EXPECT_EQ(at(W - 27 + 5, 4 + 5), uitest::SysCellColour(3, 0));

    // Minimize without maximize sits in the maximize place.
    ComposeFrame(f, s, FrameButtons{true, false, true}, false, HTMINBUTTON, false);
    EXPECT_EQ(at(W - 50 + 5, 4 + 5), uitest::SysCellColour(0, 1));
    EXPECT_EQ(at(W - 73 + 5, 4 + 5), uitest::kTitleMid);
}

TEST(SkinFrame, RoundedOutline) {
    const auto rows = RoundRectSpans(100, 50, 8);
    ASSERT_EQ(rows.size(), 50u);
    EXPECT_GT(rows[0].begin, 0) << "the corner pixel is outside";
    EXPECT_LT(rows[0].end, 100);
    EXPECT_EQ(rows[0].begin, 100 - rows[0].end) << "symmetric";
    EXPECT_EQ(rows[49].begin, rows[0].begin) << "bottom corners as the top";
    EXPECT_EQ(rows[25].begin, 0);
    EXPECT_EQ(rows[25].end, 100);
    for (int y = 1; y < 4; ++y) EXPECT_LE(rows[y].begin, rows[y - 1].begin);
    for (const auto& r : RoundRectSpans(10, 5, 0)) EXPECT_EQ(r.begin, 0);
    EXPECT_TRUE(RoundRectSpans(0, 0, 8).empty());
    // A corner wider than the window stays inside it.
    for (const auto& r : RoundRectSpans(6, 4, 1000)) {
        EXPECT_GE(r.begin, 0);
        EXPECT_LE(r.end, 6);
        EXPECT_LE(r.begin, r.end);
    }
}

}  // namespace
