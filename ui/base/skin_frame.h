#pragma once
// The geometry of the skinned dialog frame, apart from any window: where the
// title band, borders and system buttons lie, what a point hits, which cell
// of the system-button bitmap each button shows, what a click does, and the
// rounded outline of the window. Coordinates are relative to the window's
// top-left corner.

#include <vector>

#include "ui/base/pixmap.h"
#include "ui/base/skin_settings.h"

// Hit-test codes, as the frame reports them.
enum FrameHit : int {
    HTNOWHERE = 0,
    HTCLIENT = 1,
    HTCAPTION = 2,
    HTMINBUTTON = 8,
    HTMAXBUTTON = 9,
    HTBORDER = 18,
    HTCLOSE = 20,
};

// The commands a system button sends.
enum SysCommand : int {
    SC_NONE = 0,
    SC_MINIMIZE = 0xF020,
    SC_MAXIMIZE = 0xF030,
    SC_CLOSE = 0xF060,
    SC_RESTORE = 0xF120,
};

enum SysButton : int { kSysClose = 0, kSysMaximize = 1, kSysMinimize = 2 };

struct FrameMetrics {
    int title_height = 0;
    int side_width = 0;
    int bottom_height = 0;
    int cell_width = 0;
    int cell_height = 0;
    int button_top = 0;
    int close_offset = 0;
    int maximize_offset = 0;
    int minimize_offset = 0;
    int title_left = 0;
    int title_mid = 0;
    int title_right = 0;
    int title_text_top = 0;
    int corner = 0;

    static FrameMetrics FromSkin(const SkinSettings& s);
};

struct FrameButtons {
    bool minimize = false;
    bool maximize = false;
    bool close = true;
};

// The client area inside the frame of a window of width w and height h.
PixRect FrameClientRect(const FrameMetrics& m, int w, int h);

// A button's rectangle; empty for another value of `which`, and for the
// minimize button without the flag. Without a maximize button the minimize
// button takes the maximize button's place.
PixRect SysButtonRect(const FrameMetrics& m, const FrameButtons& b, int w, int which);

// What the point hits: the title band is the caption, the client area the
// client, the rest border; then close, maximize and minimize, in that order,
// each winning over the ones before when its button is shown.
int FrameHitTest(const FrameMetrics& m, const FrameButtons& b, int w, int h, int x, int y);

// The command a left-button release on `hit` sends, or SC_NONE.
int SysCommandForButtonUp(int hit, const FrameButtons& b, bool zoomed);
// The command a double click on the frame sends, or SC_NONE.
int SysCommandForDoubleClick(const FrameButtons& b, bool zoomed);

// The cell of the system-button bitmap a button shows: column (minimize 0,
// maximize 1, restore 2, close 3) and row (0 normal, 1 the cursor is over it,
// 2 over it with the left button down).
struct SysButtonCell {
    int column = 0;
    int row = 0;
};
SysButtonCell SysButtonCellFor(int which, bool zoomed, bool hover, bool leftDown);

// The caption text's rectangle in the title band.
PixRect TitleTextRect(const FrameMetrics& m, const FrameButtons& b, int w, bool hasIcon);

// Composes the title band (w x title height), the side strips and the bottom
// band into `out` (w x h), with the system buttons in their states. The
// caption text is drawn by the window afterwards. `hoverHit` is the button
// under the cursor (a FrameHit code, or HTNOWHERE).
void ComposeFrame(Pixmap& out, const SkinSettings& s, const FrameButtons& b, bool zoomed, int hoverHit,
                  bool leftDown);

// The rows of the window's rounded outline: for each row y of 0..h-1, the
// first and one-past-last column inside the window. A corner of 0 gives the
// full rectangle.
struct RowSpan {
    int begin = 0;
    int end = 0;
};
std::vector<RowSpan> RoundRectSpans(int w, int h, int corner);
