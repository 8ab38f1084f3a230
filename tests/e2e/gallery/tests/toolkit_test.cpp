// The toolkit's windows and controls on the virtual display: the skinned
// frame and every control in its steady states, then hover, press, drag and
// clicks driven with the pointer. Colours are those the default skin's
// drawing script paints with; each is checked at a known spot, with a
// tolerance, never as whole images.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"

namespace {

using gallerytest::Gallery;
using gallerytest::Near;
using gallerytest::Rect;
using gallerytest::Rgb;
using gallerytest::Screenshot;
using gallerytest::TakeScreenshot;
using gallerytest::ToString;
using gallerytest::WaitFor;
using gallerytest::Xdo;

// The default skin (resources/art/make_art.py).
const Rgb kTitleMid{48, 96, 160};
const Rgb kSysNormal{48, 96, 160};
const Rgb kCloseHover{216, 56, 56};
const Rgb kClosePressed{150, 28, 28};
const Rgb kButtonRows[4] = {{226, 232, 242}, {198, 220, 250}, {150, 186, 236}, {214, 214, 214}};
const Rgb kCheckBorder{110, 130, 160};
const Rgb kCheckHoverBorder{60, 120, 210};
const Rgb kCheckDisabledFill{226, 226, 226};
const Rgb kCheckMark{24, 64, 140};
const Rgb kEditBorder{243, 204, 163}, kEditHoverBorder{252, 184, 184};
const Rgb kEditBackground{255, 255, 255}, kEditHoverBackground{252, 239, 226};
const Rgb kEditDisabledBorder{232, 222, 222}, kEditDisabledBackground{233, 233, 233};
const Rgb kWhite{255, 255, 255}, kBlack{0, 0, 0};
const Rgb kLinkBlue{0, 0, 255}, kLinkVisited{128, 0, 128}, kLinkHover{255, 0, 0};
const Rgb kIconGreen{40, 150, 60}, kIconGrey{107, 107, 107};
const Rgb kRingGrey{200, 200, 200};

// The scenes these tests look at (the gallery has others).
const std::vector<std::string> kScenes = {"skinned", "unskinned"};

// The pixel a button row shows: inside the stretched middle, above the text.
Rgb ButtonFace(const Screenshot& s, const Rect& r) {
    return s.At(r.x + 6, r.y + 3);
}

// The check box's 13-pixel box sits at the left, vertically centred.
Rect CheckBox(const Rect& r) {
    return {r.x, r.y + r.h / 2 - 6, 13, 13};
}

bool PixelNear(int x, int y, const Rgb& want, int tolerance = 12) {
    return Near(TakeScreenshot().At(x, y), want, tolerance);
}

TEST(Gallery, SteadyStates) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    ASSERT_TRUE(g.running());
    const Screenshot s = TakeScreenshot();
    const Rect dlg = g.rect("skinned");
    auto expectNear = [&](const char* what, int x, int y, const Rgb& want) {
        EXPECT_TRUE(Near(s.At(x, y), want, 12))
            << what << " at " << x << "," << y << ": " << ToString(s.At(x, y)) << " want " << ToString(want);
    };

    // Sizes: the client area is what the dialog asked for, skinned or not.
    EXPECT_TRUE(g.StateHas("skinned", "skinned=1"));
    EXPECT_EQ(g.rect("skinned.client").w, 470);
    EXPECT_EQ(g.rect("skinned.client").h, 420);
    EXPECT_EQ(dlg.w, 470 + 2 * 3);
    EXPECT_EQ(dlg.h, 420 + 30 + 3);
    EXPECT_TRUE(g.StateHas("unskinned", "skinned=0"));
    EXPECT_EQ(g.rect("unskinned.client").w, 300);
    EXPECT_EQ(g.rect("unskinned.client").h, 200);

    // Frame: title band, system buttons, rounded corner, Chinese caption.
    expectNear("title middle", dlg.x + dlg.w / 2, dlg.y + 4, kTitleMid);
    for (const char* b : {"skinned.close", "skinned.maximize", "skinned.minimize"}) {
        const Rect r = g.rect(b);
        EXPECT_EQ(r.w, 22) << b;
        expectNear(b, r.x + 2, r.y + 2, kSysNormal);
    }
    expectNear("outside the rounded corner", dlg.x, dlg.y, kBlack);
    expectNear("outside the rounded corner", dlg.x + dlg.w - 1, dlg.y + dlg.h - 1, kBlack);
    EXPECT_FALSE(Near(s.At(dlg.x + 8, dlg.y + 2), kBlack, 12)) << "the title band itself is drawn";
    EXPECT_GT(s.Count({dlg.x + 10, dlg.y + 6, 240, 20}, kWhite, 60), 30) << "caption text in white";
    EXPECT_FALSE(Near(s.At(g.rect("unskinned").x + 150, g.rect("unskinned").y + 2), kTitleMid, 12))
        << "the unskinned dialog has no skinned title";

    // Buttons.
    expectNear("button row 0", g.rect("button.normal").x + 6, g.rect("button.normal").y + 3, kButtonRows[0]);
    expectNear("button row 3", g.rect("button.disabled").x + 6, g.rect("button.disabled").y + 3,
               kButtonRows[3]);
    expectNear("unskinned dialog's button", g.rect("unskinned.button").x + 6,
               g.rect("unskinned.button").y + 3, kButtonRows[0]);

    // Check boxes: cell 1, checked cell 5, disabled checked cell 8.
    const Rect unchecked = CheckBox(g.rect("check.unchecked"));
    expectNear("check border", unchecked.x, unchecked.y + 6, kCheckBorder);
    expectNear("check fill", unchecked.x + 2, unchecked.y + 2, kWhite);
    const Rect checked = CheckBox(g.rect("check.checked"));
    expectNear("check mark", checked.x + 5, checked.y + 8, kCheckMark);
    const Rect off = CheckBox(g.rect("check.disabled"));
    expectNear("disabled check", off.x + 2, off.y + 2, kCheckDisabledFill);

    // Edits: border and background by state.
    const Rect edit = g.rect("edit.normal");
    expectNear("edit border", edit.x + edit.w / 2, edit.y, kEditBorder);
    expectNear("edit background", edit.x + 2, edit.cy(), kEditBackground);
    for (const char* e : {"edit.readonly", "edit.disabled"}) {
        const Rect r = g.rect(e);
        expectNear(e, r.x + r.w / 2, r.y, kEditDisabledBorder);
        expectNear(e, r.x + 2, r.cy(), kEditDisabledBackground);
    }
    const Rect password = g.rect("edit.password");
    EXPECT_GT(s.Count({password.x + 4, password.y + 2, password.w - 8, password.h - 4}, kBlack, 100), 4)
        << "the password edit shows its masking characters";

    // Link, icon buttons, picture, colour statics, loading page.
    EXPECT_GT(s.Count(g.rect("link"), kLinkBlue, 40), 20);
    EXPECT_GT(s.Count(g.rect("icon.normal"), kIconGreen, 12), 20);
    EXPECT_TRUE(g.StateHas("icon.disabled", "entry=2"));
    EXPECT_GT(s.Count(g.rect("icon.disabled"), kIconGrey, 12), 20) << "the grey copy of the icon";
    EXPECT_EQ(s.Count(g.rect("icon.disabled"), kIconGreen, 12), 0);
    EXPECT_TRUE(g.StateHas("picture", "playing=1"));
    EXPECT_EQ(g.rect("picture").w, 48);
    EXPECT_GT(s.Count(g.rect("picture"), kRingGrey, 12), 20);
    EXPECT_GT(s.Count(g.rect("colour.wrapped"), Rgb{200, 0, 0}, 60), 20);
    EXPECT_GT(s.Count(g.rect("colour.wrapped"), Rgb{255, 255, 210}, 4), 200);
    EXPECT_TRUE(g.StateHas("colour.wrapped", "lines=2") || g.StateHas("colour.wrapped", "lines=3"));
    EXPECT_TRUE(g.StateHas("colour.line", "lines=1"));
    EXPECT_GT(s.Count(g.rect("colour.line"), Rgb{0, 0, 160}, 60), 20);
    const Rect loading = g.rect("loading");
    expectNear("loading page", loading.x + 3, loading.y + 3, kWhite);
    EXPECT_GT(s.Count(g.rect("loading.text"), kBlack, 100), 30) << "the loading text";
    EXPECT_GT(s.Count(g.rect("loading.picture"), kRingGrey, 12), 20);
}

TEST(Gallery, ButtonHoverPressAndDragOut) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect b = g.rect("button.normal");
    auto face = [&] { return ButtonFace(TakeScreenshot(), b); };
    ASSERT_TRUE(gallerytest::MoveTo(b.cx(), b.cy()));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kButtonRows[1], 12); })) << ToString(face());
    EXPECT_TRUE(g.StateHas("button.normal", "hover=1"));

    ASSERT_TRUE(Xdo({"mousedown", "1"}));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kButtonRows[2], 12); })) << ToString(face());

    // Held and dragged out: row 0 while the button is still down.
    ASSERT_TRUE(gallerytest::DragTo(b.cx(), b.cy(), b.x + b.w + 40, b.cy()));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kButtonRows[0], 12); })) << ToString(face());
    EXPECT_TRUE(g.StateHas("button.normal", "pushed=1"));
    ASSERT_TRUE(Xdo({"mouseup", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("button.normal", "pushed=0"); }));
    EXPECT_TRUE(g.StateHas("button.normal", "clicks=0")) << "released outside: no click";

    // A click on it counts; leaving it returns to row 0.
    ASSERT_TRUE(gallerytest::MoveTo(b.cx(), b.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("button.normal", "clicks=1"); }));
    ASSERT_TRUE(gallerytest::MoveTo(1270, 1010));
    EXPECT_TRUE(WaitFor([&] { return Near(face(), kButtonRows[0], 12); })) << ToString(face());
}

TEST(Gallery, ANewTitleIsDrawnAtOnce) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    // The pointer away: nothing but the new caption repaints the frame.
    ASSERT_TRUE(gallerytest::MoveTo(1270, 1010));
    const Rect dlg = g.rect("skinned");
    // Caption text is white; the left part of the band holds every caption,
    // the right part (up to the system buttons) only a long one.
    const Rect left{dlg.x + 10, dlg.y + 6, 60, 20};
    const Rect right{dlg.x + 220, dlg.y + 6, g.rect("skinned.minimize").x - dlg.x - 230, 20};
    auto white = [](const Rect& r) { return TakeScreenshot().Count(r, kWhite, 60); };
    ASSERT_GT(white(left), 30);
    ASSERT_EQ(white(right), 0) << "the first caption is short";

    g.Command("act skinned.retitle.long");
    EXPECT_TRUE(WaitFor([&] { return white(right) > 100; })) << white(right);
    g.Command("act skinned.retitle.short");
    EXPECT_TRUE(WaitFor([&] { return white(right) == 0; })) << white(right);
    EXPECT_GT(white(left), 5) << "the single letter";
    // And back to a long one.
    g.Command("act skinned.retitle.long");
    EXPECT_TRUE(WaitFor([&] { return white(right) > 100; })) << white(right);
}

TEST(Gallery, CloseButtonActsOnRelease) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect close = g.rect("skinned.close");
    ASSERT_TRUE(gallerytest::MoveTo(close.cx(), close.cy()));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(close.x + 2, close.y + 2, kCloseHover); }))
        << ToString(TakeScreenshot().At(close.x + 2, close.y + 2));
    ASSERT_TRUE(Xdo({"mousedown", "1"}));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(close.x + 2, close.y + 2, kClosePressed); }));
    EXPECT_TRUE(g.StateHas("skinned", "shown=1")) << "nothing happens on button-down";
    // Pressed, dragged off and released: the dialog stays.
    ASSERT_TRUE(gallerytest::DragTo(close.cx(), close.cy(), close.cx() - 120, close.cy() + 200));
    ASSERT_TRUE(Xdo({"mouseup", "1"}));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(close.x + 2, close.y + 2, kSysNormal); }));
    EXPECT_TRUE(g.StateHas("skinned", "shown=1"));
    // Pressed and released on it: closed.
    ASSERT_TRUE(gallerytest::MoveTo(close.cx(), close.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("skinned", "shown=0"); }));
}

TEST(Gallery, TitleDragMovesTheWindow) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect before = g.rect("skinned");
    const int x = before.x + 150, y = before.y + 12;
    ASSERT_TRUE(gallerytest::MoveTo(x, y));
    ASSERT_TRUE(Xdo({"mousedown", "1"}));
    ASSERT_TRUE(gallerytest::DragTo(x, y, x + 60, y + 40));
    ASSERT_TRUE(Xdo({"mouseup", "1"}));
    EXPECT_TRUE(WaitFor([&] {
        g.RefreshRects();
        return g.rect("skinned").x == before.x + 60 && g.rect("skinned").y == before.y + 40;
    })) << g.rect("skinned").x
        << "," << g.rect("skinned").y;
    const Rect after = g.rect("skinned");
    EXPECT_TRUE(WaitFor([&] { return PixelNear(after.x + after.w / 2, after.y + 4, kTitleMid); }));
}

TEST(Gallery, MaximizeAndRestore) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect before = g.rect("skinned");
    const Rect max = g.rect("skinned.maximize");
    ASSERT_TRUE(gallerytest::MoveTo(max.cx(), max.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("skinned", "zoomed=1"); }));
    g.RefreshRects();
    EXPECT_EQ(g.rect("skinned").w, 1280);
    EXPECT_EQ(g.rect("skinned").h, 1024);
    // The restore cell now sits in the maximize place; clicking it restores.
    const Rect restore = g.rect("skinned.maximize");
    ASSERT_TRUE(gallerytest::MoveTo(restore.cx(), restore.cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("skinned", "zoomed=0"); }));
    g.RefreshRects();
    EXPECT_EQ(g.rect("skinned").w, before.w);
    EXPECT_EQ(g.rect("skinned").x, before.x);
}

TEST(Gallery, EditAndCheckBoxFollowThePointer) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect edit = g.rect("edit.normal");
    ASSERT_TRUE(gallerytest::MoveTo(edit.cx(), edit.cy()));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(edit.x + edit.w / 2, edit.y, kEditHoverBorder); }));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(edit.x + 2, edit.cy(), kEditHoverBackground); }));

    const Rect box = CheckBox(g.rect("check.unchecked"));
    ASSERT_TRUE(gallerytest::MoveTo(box.x + 6, box.y + 6));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(box.x, box.y + 6, kCheckHoverBorder); }));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(edit.x + edit.w / 2, edit.y, kEditBorder); }))
        << "the edit left its hover colours";
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("check.unchecked", "checked=1"); }));
    ASSERT_TRUE(gallerytest::MoveTo(1270, 1010));
    EXPECT_TRUE(WaitFor([&] { return PixelNear(box.x + 5, box.y + 8, kCheckMark); }));
}

// The controls that follow the pointer's moves and its leaving: hovered while
// the pointer is on them, still hovered once pressed (the press grabs the
// pointer), not hovered but still down when dragged off, no click when
// released off them, one click when released on them.
TEST(Gallery, PressDragOutAndClickFollowThePointer) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    for (const char* name : {"icon.normal", "check.unchecked"}) {
        SCOPED_TRACE(name);
        const Rect r = g.rect(name);
        auto state = [&] { return g.State(name); };
        ASSERT_TRUE(gallerytest::MoveTo(r.x + 6, r.cy()));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas(name, "hover=1"); })) << state();

        ASSERT_TRUE(Xdo({"mousedown", "1"}));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas(name, "pushed=1"); })) << state();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(g.StateHas(name, "hover=1")) << "the grab does not take the hover: " << state();

        ASSERT_TRUE(gallerytest::DragTo(r.x + 6, r.cy(), r.x + 6, r.y + r.h + 60));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas(name, "hover=0"); })) << state();
        EXPECT_TRUE(g.StateHas(name, "pushed=1")) << state();
        ASSERT_TRUE(Xdo({"mouseup", "1"}));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas(name, "pushed=0"); })) << state();
        EXPECT_TRUE(g.StateHas(name, "clicks=0")) << "released off it: " << state();

        ASSERT_TRUE(gallerytest::MoveTo(r.x + 6, r.cy()));
        ASSERT_TRUE(Xdo({"click", "1"}));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas(name, "clicks=1"); })) << state();
        ASSERT_TRUE(gallerytest::MoveTo(1270, 1010));
        EXPECT_TRUE(WaitFor([&] { return g.StateHas(name, "hover=0"); })) << state();
    }
    EXPECT_TRUE(g.StateHas("check.unchecked", "checked=1"));
}

TEST(Gallery, LinkNotifiesItsTargetAndTurnsVisited) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect link = g.rect("link");
    ASSERT_TRUE(gallerytest::MoveTo(link.cx(), link.cy()));
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(link, kLinkHover, 40) > 20; }));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("link", "visited=1"); }));
    EXPECT_TRUE(g.StateHas("link", "notified=1"));
    EXPECT_NE(g.State("link").find("last=http://example.invalid/account 5 3543"), std::string::npos)
        << g.State("link");
    ASSERT_TRUE(gallerytest::MoveTo(1270, 1010));
    // Away from it and without the focus (an edit takes it) it shows the visited colour.
    ASSERT_TRUE(gallerytest::MoveTo(g.rect("edit.normal").cx(), g.rect("edit.normal").cy()));
    ASSERT_TRUE(Xdo({"click", "1"}));
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(link, kLinkVisited, 40) > 20; }));
}

TEST(Gallery, AnimationRepaintsOnlyItsPicture) {
    REQUIRE_DISPLAY();
    Gallery g(kScenes);
    const Rect picture = g.rect("picture"), loadingPicture = g.rect("loading.picture");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = g.Paints();
    const Screenshot a = TakeScreenshot();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const Screenshot b = TakeScreenshot();
    const auto after = g.Paints();

    EXPECT_GE(after.at("picture") - before.at("picture"), 3) << "the picture plays";
    for (const char* still : {"skinned", "skinned.client", "loading", "colour.wrapped", "button.normal"}) {
        EXPECT_EQ(after.at(still), before.at(still)) << still << " was repainted during playback";
    }
    int inPicture = 0;
    for (const auto& [x, y] : a.Differences(b, 8)) {
        const bool inside = picture.Contains(x, y) || loadingPicture.Contains(x, y);
        EXPECT_TRUE(inside) << "pixel " << x << "," << y << " changed outside the pictures";
        if (!inside) break;
        inPicture += picture.Contains(x, y);
    }
    EXPECT_GT(inPicture, 0) << "the two shots differ inside the picture";
}

}  // namespace
