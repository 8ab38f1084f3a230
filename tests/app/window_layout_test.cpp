// The main window's layouts as functions of the template's places.
#include <gtest/gtest.h>

#include "app/window/base/main_layout.h"
#include "app/window/base/main_template.h"

namespace {

int Bottom(const PixRect& r) {
    return r.y + r.height;
}

bool Overlap(const PixRect& a, const PixRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

TEST(WindowLayout, AccountButtonRowMarginsAndGaps) {
    for (const auto& [w, g] : {std::pair{64, 8}, std::pair{50, 3}, std::pair{10, 0}}) {
        const int width = 5 * w + 10 * g;
        const std::vector<PixRect> row = AccountButtonRow(width, 100, w, 40);
        ASSERT_EQ(row.size(), 5u);
        EXPECT_EQ(row[0].x, g) << "left margin";
        EXPECT_EQ(width - (row[4].x + row[4].width), g) << "right margin";
        for (size_t i = 1; i < 5; ++i) EXPECT_EQ(row[i].x - (row[i - 1].x + w), 2 * g) << "gap " << i;
        for (const PixRect& r : row) EXPECT_EQ(r.y, 100);
    }
}

TEST(WindowLayout, LogoSquareAndUdpIcon) {
    EXPECT_EQ(LogoSquare({0, 0, 60, 80}, 400), (PixRect{136, 10, 128, 128}));
    EXPECT_EQ(LogoSquare({0, 0, 128, 128}, 460), (PixRect{166, 10, 128, 128}));
    EXPECT_EQ(LogoSquare({0, 0, 200, 150}, 400), (PixRect{125, 10, 150, 150}));
    EXPECT_EQ(UdpWarningPlace({136, 10, 128, 128}), (PixRect{274, 122, 16, 16}));
}

// Every layout of either edition keeps the rows apart and inside the window,
// and a second run changes nothing.
TEST(WindowLayout, BaseAndAccountLayoutsAreStableAndDoNotOverlap) {
    for (bool account : {false, true}) {
        SCOPED_TRACE(account ? "account" : "base");
        for (int width : {kMainClientWidth, 520}) {
            ControlRects r = MainTemplateRects();
            r.erase(kIdWebPlace);
            r.erase(kIdTrafficPlace);
            if (account) {
                r[kIdWebPanel] = MainTemplateRects()[kIdWebPlace];
                LayoutAccountWindow(r, width);
            } else {
                r[kIdTrafficPanel] = MainTemplateRects()[kIdTrafficPlace];
                LayoutBaseWindow(r, width, kMainClientHeight, 24);
            }
            ControlRects again = r;
            if (account)
                LayoutAccountWindow(again, width);
            else
                LayoutBaseWindow(again, width, kMainClientHeight, 24);
            EXPECT_EQ(again, r);
            // The node row: chooser, then 1017, 1145, 1024, 1142 five apart, the last at the right margin.
            EXPECT_EQ(r[kIdAddNode].x - 5, r[kIdNodeCombo].x + r[kIdNodeCombo].width);
            EXPECT_EQ(r[kIdDeleteNode].x, r[kIdAddNode].x + r[kIdAddNode].width + 5);
            EXPECT_EQ(r[kIdTestNode].x + r[kIdTestNode].width, width - r[kIdProductLink].x);
            EXPECT_EQ(r[kIdModeCombo].x, r[kIdNodeCombo].x);
            EXPECT_EQ(r[kIdModeCombo].width, r[kIdNodeCombo].width);
            EXPECT_EQ(r[kIdModesButton].x, r[kIdAddNode].x);
            EXPECT_GT(r[kIdConnect].y, Bottom(r[kIdRowsFrame]));
            EXPECT_EQ(r[kIdConnect].width, width - 2 * r[kIdConnect].x);
            const std::vector<int> shown =
                account ? std::vector<int>{kIdWebPanel, kIdNodeCombo, kIdTestNode, kIdModeCombo, kIdConnect,
                                           kIdAccountLine1, kIdAccountLine2, kIdAccountHome, kIdAccountExit}
                        : std::vector<int>{kIdConnectedPicture, kIdNodeCombo, kIdTestNode, kIdModeCombo, kIdConnect,
                                           kIdExitButton, kIdMenuButton, kIdTrafficPanel};
            for (size_t i = 0; i < shown.size(); ++i) {
                const PixRect& a = r[shown[i]];
                EXPECT_GE(a.x, 0);
                EXPECT_LE(a.x + a.width, width) << shown[i];
                EXPECT_LE(Bottom(a), kMainClientHeight - 24) << shown[i];
                for (size_t j = i + 1; j < shown.size(); ++j)
                    EXPECT_FALSE(Overlap(a, r[shown[j]])) << shown[i] << " and " << shown[j];
            }
            if (account) {
                EXPECT_EQ(r[kIdRowsFrame].y, Bottom(r[kIdWebPanel]) + 8);
                EXPECT_EQ(r[kIdAccountLine1].y, Bottom(r[kIdConnect]) + 20);
                EXPECT_EQ(r[kIdAccountLine2].y, Bottom(r[kIdAccountLine1]) + 10);
                EXPECT_EQ(r[kIdAccountHome].y, Bottom(r[kIdAccountLine2]) + 20);
            } else {
                EXPECT_EQ(Bottom(r[kIdTrafficPanel]), kMainClientHeight - 24 - 2);
                EXPECT_EQ(r[kIdConnectedPicture].x, (width - 128) / 2);
                EXPECT_EQ(r[kIdExitButton].x + r[kIdExitButton].width, width - r[kIdProductLink].x);
                EXPECT_EQ(r[kIdDonate].x + r[kIdDonate].width + 5, r[kIdExitButton].x);
                EXPECT_EQ(r[kIdProductLink].y, r[kIdExitButton].y + 2);
            }
        }
    }
}

}  // namespace
