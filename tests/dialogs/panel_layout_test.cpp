// Where the wait panel puts its pictures and message line.

#include "dialogs/base/panel_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(PanelLayout, PicturesStandCentredWithASquareOfAtLeast128) {
    struct Case {
        const char* name;
        int w, h;
        PixRect still, anim, message;
        PixRect expStill, expAnim, expMessage;
    } cases[] = {
        // 400x300: gap (300 - 128 - 48 - 20 - 20) / 3 = 28.
        {"template",
         400,
         300,
         {136, 20, 128, 128},
         {176, 160, 48, 48},
         {20, 220, 360, 20},
         {136, 28, 128, 128},
         {176, 166, 48, 48},
         {20, 224, 360, 20}},
        // A picture area under 128 on a side still gives a 128 square; the
        // gap counts the area's own height: (300 - 60 - 48 - 20 - 20) / 3 = 50.
        {"small picture area",
         400,
         300,
         {0, 0, 90, 60},
         {0, 0, 48, 48},
         {0, 0, 200, 20},
         {136, 50, 128, 128},
         {176, 188, 48, 48},
         {100, 246, 200, 20}},
        // A wide, short area: the smaller side wins when above 128.
        {"large area",
         800,
         600,
         {0, 0, 300, 200},
         {0, 0, 48, 48},
         {0, 0, 300, 20},
         {300, 104, 200, 200},
         {376, 314, 48, 48},
         {250, 372, 300, 20}},
    };
    for (const auto& c : cases) {
        const LoadingPanelLayout l = LayoutLoadingPanel(c.w, c.h, c.still, c.anim, c.message);
        EXPECT_EQ(l.still, c.expStill) << c.name;
        EXPECT_EQ(l.anim, c.expAnim) << c.name;
        EXPECT_EQ(l.message, c.expMessage) << c.name;
    }
}

}  // namespace
