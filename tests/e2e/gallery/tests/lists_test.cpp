// Log views, the group and icon combo boxes, the bitmap button, the
// owner-drawn menu and the tray icon on the virtual display, driven with
// the pointer and the keyboard. Keys go to the window under the pointer (no
// window manager runs), so the pointer rests on the target before a key.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/process.h"

namespace {

using gallerytest::Gallery;
using gallerytest::MoveTo;
using gallerytest::Near;
using gallerytest::Rect;
using gallerytest::Rgb;
using gallerytest::Screenshot;
using gallerytest::TakeScreenshot;
using gallerytest::ToString;
using gallerytest::WaitFor;
using gallerytest::Xdo;

const Rgb kBlack{0, 0, 0}, kGreen{0, 200, 0}, kRed{255, 0, 0};
const Rgb kHeader{214, 232, 254}, kFace{100, 100, 100};
// Bitmap 240's rows (resources/art/make_art.py).
const Rgb kBmpRows[4] = {{210, 225, 245}, {255, 220, 160}, {200, 120, 40}, {200, 200, 200}};
// The flat menu's colours with the default desktop colours.
const Rgb kMenuSelectionFill{216, 234, 249}, kMenuSelectionFrame{0, 120, 215};
const Rgb kMenuBar{243, 243, 243}, kMenuDisabledText{167, 167, 167}, kMenuIcon{30, 100, 200};
const Rgb kTrayOrange{240, 120, 20};

Rect Row(const Rect& list, int top, int height) {
    return {list.x, list.y + top, list.w, height};
}

bool Key(const std::string& key) {
    return Xdo({"key", key});
}

TEST(GalleryLists, LogLevelsAndLinesFromTwoThreads) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    const Rect log = g.rect("log");
    const Screenshot s = TakeScreenshot();
    EXPECT_GT(s.Count(log, kGreen, 40), 20) << "level 2 in green";
    EXPECT_GT(s.Count(log, kRed, 40), 20) << "level 3 in red";
    EXPECT_GT(s.Count(log, kBlack, 60), 40) << "level 1 and the time prefixes in black";
    EXPECT_TRUE(g.StateHas("log", "lines=3")) << g.State("log");
    EXPECT_TRUE(g.StateHas("log", "whole=3")) << g.State("log");

    ASSERT_TRUE(g.Command("act log.flood").empty());
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("log", "lines=603"); }, std::chrono::seconds(30))) << g.State("log");
    EXPECT_TRUE(g.StateHas("log", "whole=603")) << "every line arrives whole: " << g.State("log");
}

TEST(GalleryLists, EditSelectsAllOnCtrlAAndDoubleClick) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    const Rect e = g.rect("editex");
    ASSERT_TRUE(MoveTo(e.x + 20, e.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(Key("ctrl+a"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("editex", "sel=0-22"); })) << g.State("editex");
    EXPECT_TRUE(g.StateHas("editex", "len=22")) << "the key did not reach the text";
    ASSERT_TRUE(Key("End"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("editex", "sel=22-22"); })) << g.State("editex");
    ASSERT_TRUE(Xdo({"click", "--repeat", "2", "--delay", "80", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("editex", "sel=0-22"); })) << g.State("editex");
}

TEST(GalleryLists, GroupComboSteersAroundHeaders) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    const Rect c = g.rect("combo");
    // Right of the caption, left of the drop button.
    const int faceX = c.x + c.w - 40;
    EXPECT_TRUE(WaitFor([&] { return Near(TakeScreenshot().At(faceX, c.cy()), kFace, 12); }))
        << "closed face " << ToString(TakeScreenshot().At(faceX, c.cy()));
    EXPECT_TRUE(g.StateHas("combo", "sel=3")) << g.State("combo");  // Tokyo, last of Asia

    // Open it; the pointer stays on the face, so keys go to the combo.
    ASSERT_TRUE(MoveTo(c.x + 20, c.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("combo", "dropped=1"); })) << g.State("combo");
    g.RefreshRects();
    const Rect list = g.rect("combo.popup");
    ASSERT_GT(list.h, 0);
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(Row(list, 2, 18), kHeader, 8) > 50; }))
        << "header row 0 " << ToString(TakeScreenshot().At(list.x + 4, list.y + 8));

    // Down from the last item of a group lands on the next group's first.
    ASSERT_TRUE(Key("Down"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("combo", "sel=5"); })) << g.State("combo");
    EXPECT_TRUE(g.StateHas("combo", "text=Berlin"));
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(Row(list, 1 + 5 * 20 + 4, 12), kFace, 12) > 50; }))
        << "the selected row in the program's colour";

    // A click on a header changes nothing and leaves the list open.
    ASSERT_TRUE(MoveTo(list.x + list.w / 2, list.y + 1 + 4 * 20 + 10));
    ASSERT_TRUE(Xdo({"click", "1"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_TRUE(g.StateHas("combo", "sel=5")) << g.State("combo");
    EXPECT_TRUE(g.StateHas("combo", "dropped=1"));

    // Esc restores the text of the drop-down.
    ASSERT_TRUE(MoveTo(c.x + 20, c.cy()));
    ASSERT_TRUE(Key("Escape"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("combo", "dropped=0"); })) << g.State("combo");
    EXPECT_TRUE(g.StateHas("combo", "text=Tokyo")) << g.State("combo");
    EXPECT_TRUE(g.StateHas("combo", "sel=3"));

    // An item click chooses it. (A click right after the list closed is
    // taken for the closing click.)
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("combo", "dropped=1"); }));
    ASSERT_TRUE(MoveTo(list.x + list.w / 2, list.y + 1 + 6 * 20 + 10));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("combo", "text=Paris"); })) << g.State("combo");
    EXPECT_TRUE(g.StateHas("combo", "dropped=0"));
}

TEST(GalleryLists, IconComboLoadsItsStripOnce) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    EXPECT_TRUE(g.StateHas("iconcombo", "images=12")) << g.State("iconcombo");
    const Rect c = g.rect("iconcombo");
    const Screenshot s = TakeScreenshot();
    EXPECT_TRUE(Near(s.At(c.x + 4, c.cy()), Rgb{255, 255, 255}, 8)) << "the first 18 pixels are the icon's";
    EXPECT_GT(s.Count({c.x + 18, c.y + 2, c.w - 40, c.h - 4}, kBlack, 80), 10) << "the row text";
}

TEST(GalleryLists, BitmapButtonRows) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    const Rect b = g.rect("bmp"), off = g.rect("bmp.disabled");
    EXPECT_EQ(b.w, 80);
    EXPECT_EQ(b.h, 24);
    auto face = [&] { return TakeScreenshot().At(b.x + 2, b.y + 2); };
    EXPECT_TRUE(Near(face(), kBmpRows[0], 8)) << ToString(face());
    EXPECT_TRUE(Near(TakeScreenshot().At(off.x + 2, off.y + 2), kBmpRows[3], 8)) << "disabled row";
    ASSERT_TRUE(MoveTo(b.cx(), b.cy()));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kBmpRows[1], 8); })) << ToString(face());
    ASSERT_TRUE(Xdo({"mousedown", "1"}));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kBmpRows[2], 8); })) << ToString(face());
    ASSERT_TRUE(Xdo({"mouseup", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("bmp", "clicks=1"); })) << g.State("bmp");
    // Leaving returns to row 0 through the hover timer.
    ASSERT_TRUE(MoveTo(1270, 900));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kBmpRows[0], 8); })) << ToString(face());
}

TEST(GalleryLists, MenuDrawsChoosesAndCancels) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    ASSERT_TRUE(g.Command("act menu.open").empty());
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("menu", "open=1"); }));
    g.RefreshRects();
    const Rect m = g.rect("menu.popup");
    ASSERT_GT(m.h, 0);
    // Rows: Connect, Test node, separator, Disabled item, Checked item, Exit.
    const Rect connect = Row(m, 0, 23), test = Row(m, 23, 23), disabled = Row(m, 49, 23);
    ASSERT_TRUE(MoveTo(connect.x + connect.w / 2, connect.cy()));
    // A move that comes before the freshly shown menu takes the pointer is
    // lost: the pointer keeps stirring over the row until the menu follows it.
    int stir = 0;
    EXPECT_TRUE(WaitFor([&] {
        MoveTo(connect.x + connect.w / 2 + (++stir % 2), connect.cy());
        return Near(TakeScreenshot().At(connect.x + connect.w - 8, connect.y + 3), kMenuSelectionFill, 6);
    }))
        << "selection fill " << ToString(TakeScreenshot().At(connect.x + connect.w - 8, connect.y + 3));
    const Screenshot s = TakeScreenshot();
    // A one-pixel outline in the shadow colour around the items (the
    // reported rectangle) sets the menu apart from a white window under it.
    const Rgb outline{160, 160, 160};
    for (const auto& [x, y] : {std::pair{m.x - 1, m.cy()}, std::pair{m.x + m.w, m.cy()}, std::pair{m.cx(), m.y - 1},
                               std::pair{m.cx(), m.y + m.h}})
        EXPECT_TRUE(Near(s.At(x, y), outline, 6)) << "outline at " << x << "," << y << ": " << ToString(s.At(x, y));
    EXPECT_TRUE(Near(s.At(connect.x + connect.w / 2, connect.y), kMenuSelectionFrame, 10)) << "selection frame";
    EXPECT_TRUE(Near(s.At(test.x + 2, test.y + 2), kMenuBar, 6)) << "icon column " << ToString(s.At(test.x + 2, test.y + 2));
    EXPECT_GT(s.Count({test.x + 4, test.y + 3, 16, 17}, kMenuIcon, 12), 20) << "image 3 in the icon column";
    EXPECT_GT(s.Count({disabled.x + 31, disabled.y, disabled.w - 31, disabled.h}, kMenuDisabledText, 30), 10)
        << "grey disabled text";
    // The widest item's text stops short of the popup's right edge.
    EXPECT_EQ(s.Count({disabled.x + disabled.w - 8, disabled.y, 8, disabled.h}, kMenuDisabledText, 30), 0)
        << "the widest text runs to the edge";

    // Down moves to the next item; Enter chooses it.
    ASSERT_TRUE(Key("Down"));
    ASSERT_TRUE(Key("Return"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("menu", "open=0"); }));
    EXPECT_TRUE(g.StateHas("menu", "result=102")) << g.State("menu");

    // Esc closes with 0.
    ASSERT_TRUE(g.Command("act menu.open").empty());
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("menu", "open=1"); }));
    ASSERT_TRUE(MoveTo(connect.x + connect.w / 2, connect.cy()));
    ASSERT_TRUE(Key("Escape"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("menu", "open=0"); }));
    EXPECT_TRUE(g.StateHas("menu", "result=0")) << g.State("menu");

    // Without the return flag a click sends the command to the owner.
    ASSERT_TRUE(g.Command("act menu.notify").empty());
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("menu", "open=1"); }));
    const Rect exit = Row(m, 95, 23);
    ASSERT_TRUE(MoveTo(exit.x + exit.w / 2, exit.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("menu", "event=105"); })) << g.State("menu");
}

TEST(GalleryLists, TrayIconClicksReachItsWindow) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    const Rect tray{0, 1024 - 30, 1280, 30};
    auto shown = [&] { return TakeScreenshot().Count(tray, kTrayOrange, 40) > 10; };
    // trayer now and then never takes the icon it was started before; a new
    // tray does (the test below shows the icon moving to a new tray).
    if (!WaitFor(shown, std::chrono::seconds(15))) {
        std::fprintf(stderr, "the icon did not show in trayer's strip within 15 s; trayer is started again\n");
        ASSERT_TRUE(gallerytest::StartTrayer("right"));
    }
    ASSERT_TRUE(WaitFor(shown, std::chrono::seconds(30))) << "the icon in trayer's area";
    // The icon's middle: the mean of its orange pixels.
    const Screenshot s = TakeScreenshot();
    long sx = 0, sy = 0, n = 0;
    for (int y = tray.y; y < tray.y + tray.h; ++y)
        for (int x = tray.x; x < tray.x + tray.w; ++x)
            if (Near(s.At(x, y), kTrayOrange, 40)) sx += x, sy += y, ++n;
    ASSERT_GT(n, 0);
    ASSERT_TRUE(MoveTo(static_cast<int>(sx / n), static_cast<int>(sy / n)));
    // The menu click is the right press; a single left click counts as the
    // double click that shows the main window.
    ASSERT_TRUE(Xdo({"click", "3"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("tray", "notes=516"); })) << g.State("tray");
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("tray", "notes=516,515"); })) << g.State("tray");
}

TEST(GalleryLists, TrayIconSurvivesATrayRestart) {
    REQUIRE_DISPLAY();
    Gallery g({"lists"});
    const Rect tray{0, 1024 - 30, 1280, 30};
    auto orange = [&] { return TakeScreenshot().Count(tray, kTrayOrange, 40); };
    EXPECT_TRUE(g.StateHas("tray", "shown=1")) << g.State("tray");
    EXPECT_TRUE(g.StateHas("tray", "tip=Cendrow")) << g.State("tray");
    EXPECT_TRUE(WaitFor([&] { return orange() > 10; }, std::chrono::seconds(45))) << "the icon in trayer's area";

    // The tray goes, and the icon with it; a new tray at the other end of
    // the edge shows the icon again.
    const Rect left{0, 1024 - 30, 200, 30};
    EXPECT_EQ(TakeScreenshot().Count(left, kTrayOrange, 40), 0) << "the first tray sits at the right";
    gallerytest::StopTrayer();
    EXPECT_TRUE(WaitFor([&] { return orange() == 0; }, std::chrono::seconds(45))) << "gone with its tray";
    ASSERT_TRUE(gallerytest::StartTrayer("left"));
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(left, kTrayOrange, 40) > 10; }, std::chrono::seconds(45)))
        << "the icon is embedded again in the new tray";
    ASSERT_TRUE(gallerytest::StartTrayer("right"));
}

}  // namespace
