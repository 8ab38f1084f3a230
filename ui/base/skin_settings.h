#pragma once
// The process-wide skin: the bitmaps, metrics and colours of a skin folder's
// res.ini, with one loaded flag per section. A section that did not load
// leaves its controls with the platform look, so the program runs unchanged
// without any skin folder.
//
// Skin files are user input: widths are clamped to the bitmaps they cut,
// values that would not fit an int are clamped instead of turning negative,
// and a bitmap that does not decode fails its section.

#include <filesystem>
#include <string>

#include "foundation/named_lock.h"
#include "ui/base/colors.h"
#include "ui/base/pixmap.h"

struct SkinSettings {
    SkinSettings();

    std::wstring skin_root;  // SetSkinDirectory
    std::wstring skin_name;  // LoadSkin
    int dialog_loaded = 0;
    int button_loaded = 0;
    int checkbox_loaded = 0;
    int edit_loaded = 0;
    // Serialises loading the dialog section with the frame painting and
    // background erasing that use its bitmaps.
    CNamedLock lock{L"Unspecific"};
    // Counts loads, so that windows can tell when cached copies are stale.
    int generation = 0;

    // dialog
    Pixmap title;      // "dialog-title.bmp": its height is the title band's
    Pixmap sysbutton;  // "dialog-sysbutton.bmp": 4 columns by 3 rows
    int sysbutton_cell_width = 0;
    int sysbutton_cell_height = 0;
    Pixmap side_border;    // "left-right-border.bmp"
    Pixmap bottom_border;  // "bottom-border.bmp"
    Pixmap background;     // "background.bmp" (optional)
    bool has_background_brush = false;
    int corner_width = 0;
    int system_button_top = 1;
    int title_text_top = 8;
    int title_left_width = 0;
    int title_mid_width = 0;
    int title_right_width = 0;
    // Measured from the window's right edge to each button's left edge.
    int minimize_offset = 0;
    int maximize_offset = 0;
    int close_offset = 0;
    COLORREF title_text_color;
    COLORREF background_color;

    // button
    Pixmap button;  // "button.bmp": 4 rows, one per state
    int button_row_height = 21;
    int button_left_width = 0;
    int button_mid_width = 0;
    int button_right_width = 0;
    int button_center_text = 1;
    COLORREF button_normal_color;
    COLORREF button_active_color;
    COLORREF button_push_color;
    COLORREF button_disabled_color;

    // check box
    Pixmap checkbox;  // "checkbox.bmp": 8 cells side by side
    int checkbox_cell_width = 14;
    int checkbox_cell_height = 14;
    COLORREF checkbox_text_color = RGB(1, 1, 1);

    // edit
    COLORREF edit_up_color = RGB(240, 189, 136);
    COLORREF edit_mid_color = RGB(243, 204, 163);
    COLORREF edit_down_color = RGB(250, 229, 207);
    COLORREF edit_hover_up_color = RGB(250, 147, 147);
    COLORREF edit_hover_mid_color = RGB(252, 184, 184);
    COLORREF edit_hover_down_color = RGB(252, 215, 215);
    COLORREF edit_background_normal_color = RGB(255, 255, 255);
    COLORREF edit_background_hover_color = RGB(252, 239, 226);
    COLORREF edit_background_disable_color = RGB(233, 233, 233);

    // Derived sizes of the frame.
    int TitleHeight() const { return title.height(); }
    int SideBorderWidth() const { return side_border.width() / 2; }
    int BottomHeight() const { return bottom_border.height(); }
};

// The one skin record.
SkinSettings& GetSkin();

// Stores the folder that holds the skins; null is ignored.
void SetSkinDirectory(const wchar_t* folder);
// Loads the named skin from the skin folder: 0 for a null name or when its
// res.ini is missing (flags untouched); otherwise each section's flag is set
// from its loader and 1 is returned whatever the sections gave.
int LoadSkin(const wchar_t* name);
// "<skin root>/<skin name>/<file>".
std::filesystem::path GetSkinFilePath(const wchar_t* file);
// 1 when the skin folder's res.ini exists.
int IsSkinPresent();
// "r,g,b" into `color`: 1 when the text has exactly three pieces; otherwise
// 0 and `color` is left alone. Each piece keeps its low 8 bits.
int ParseSkinColor(const std::wstring& text, COLORREF& color);

int LoadDialogSkin();
int LoadButtonSkin();
int LoadCheckBoxSkin();
int LoadEditSkin();
