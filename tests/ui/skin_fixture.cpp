#include "tests/ui/skin_fixture.h"

#include "ui/base/skin_settings.h"

namespace uitest {

std::string BmpBytes(const Pixmap& p) {
    const int stride = (p.width() * 3 + 3) & ~3;
    const uint32_t pixels = static_cast<uint32_t>(stride * p.height());
    std::string b;
    auto u16 = [&](uint32_t v) {
        b.push_back(static_cast<char>(v & 0xFF));
        b.push_back(static_cast<char>((v >> 8) & 0xFF));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    b += "BM";
    u32(14 + 40 + pixels);
    u32(0);
    u32(14 + 40);
    u32(40);
    u32(static_cast<uint32_t>(p.width()));
    u32(static_cast<uint32_t>(p.height()));
    u16(1);
    u16(24);
    u32(0);
    u32(pixels);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    for (int y = p.height() - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < p.width(); ++x) {
            const uint32_t c = p.At(x, y);
            row.push_back(static_cast<char>(c & 0xFF));
            row.push_back(static_cast<char>((c >> 8) & 0xFF));
            row.push_back(static_cast<char>((c >> 16) & 0xFF));
        }
        row.resize(static_cast<size_t>(stride), '\0');
        b += row;
    }
    return b;
}

void WriteBmp(const std::filesystem::path& path, const Pixmap& p) {
    testsupport::WriteFile(path, BmpBytes(p));
}

Pixmap Solid(int w, int h, COLORREF c) {
    return Pixmap(w, h, ArgbOf(c));
}

COLORREF SysCellColour(int column, int row) {
    return RGB(100 + column * 30, 10 + row * 40, 200);
}
COLORREF ButtonColour(int row, int slice) {
    return RGB(20 + row * 50, 100 + slice * 40, 60);
}
COLORREF CheckCellColour(int cell) {
    return RGB(cell * 25, 255 - cell * 25, 128);
}

std::string DefaultIni(const SkinFiles& f) {
    return "[dialog]\ntitle_left_width=" + std::to_string(f.title_left) +
           "\ntitle_mid_width=" + std::to_string(f.title_mid) +
           "\ntitle_right_width=" + std::to_string(f.title_right) +
           "\ncorner_width=6\nsystem_button_top=4\ntitle_text_top=8\ntitle_text_color=255,255,255\n"
           "background_color=250,251,252\n"
           "[button]\nbutton_left_width=" +
           std::to_string(f.button_left) + "\nbutton_mid_width=" + std::to_string(f.button_mid) +
           "\nbutton_right_width=" + std::to_string(f.button_right) +
           "\nbutton_normal_color=1,2,3\nbutton_active_color=4,5,6\nbutton_push_color=7,8,9\n"
           "button_disabled_color=10,11,12\n"
           "[checkbox]\ncheckbox_text_color=30,31,32\n"
           "[edit]\nedit_mid_color=1,1,1\nedit_hover_mid_color=2,2,2\n";
}

void WriteSkin(const std::filesystem::path& root, const SkinFiles& f) {
    const std::filesystem::path dir = root / "test";
    std::filesystem::create_directories(dir);

    Pixmap title(f.title_left + f.title_mid + f.title_right, f.title_height);
    title.FillRect({0, 0, f.title_left, f.title_height}, ArgbOf(kTitleLeft));
    title.FillRect({f.title_left, 0, f.title_mid, f.title_height}, ArgbOf(kTitleMid));
    title.FillRect({f.title_left + f.title_mid, 0, f.title_right, f.title_height}, ArgbOf(kTitleRight));
    WriteBmp(dir / "dialog-title.bmp", title);

    Pixmap sys(4 * f.cell, 3 * f.cell);
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 3; ++r)
            sys.FillRect({c * f.cell, r * f.cell, f.cell, f.cell}, ArgbOf(SysCellColour(c, r)));
    }
    WriteBmp(dir / "dialog-sysbutton.bmp", sys);

    WriteBmp(dir / "left-right-border.bmp", Solid(2 * f.side, 2, kSide));
    Pixmap bottom(2 * f.side + 1, f.bottom);
    bottom.FillRect({0, 0, f.side, f.bottom}, ArgbOf(kBottomLeft));
    bottom.FillRect({f.side, 0, 1, f.bottom}, ArgbOf(kBottomMid));
    bottom.FillRect({f.side + 1, 0, f.side, f.bottom}, ArgbOf(kBottomRight));
    WriteBmp(dir / "bottom-border.bmp", bottom);

    const int bw = f.button_left + f.button_mid + f.button_right;
    Pixmap button(bw, 4 * f.button_row);
    for (int r = 0; r < 4; ++r) {
        button.FillRect({0, r * f.button_row, f.button_left, f.button_row}, ArgbOf(ButtonColour(r, 0)));
        button.FillRect({f.button_left, r * f.button_row, f.button_mid, f.button_row},
                        ArgbOf(ButtonColour(r, 1)));
        button.FillRect({f.button_left + f.button_mid, r * f.button_row, f.button_right, f.button_row},
                        ArgbOf(ButtonColour(r, 2)));
    }
    WriteBmp(dir / "button.bmp", button);

    Pixmap check(8 * f.check_cell, f.check_cell);
    for (int c = 1; c <= 8; ++c)
        check.FillRect({(c - 1) * f.check_cell, 0, f.check_cell, f.check_cell}, ArgbOf(CheckCellColour(c)));
    WriteBmp(dir / "checkbox.bmp", check);

    if (f.background) WriteBmp(dir / "background.bmp", Solid(8, 8, RGB(9, 9, 9)));
    testsupport::WriteFile(dir / "res.ini", f.ini.empty() ? DefaultIni(f) : f.ini);
    SetSkinDirectory(root.wstring().c_str());
}

void ResetSkin() {
    SkinSettings& s = GetSkin();
    s.dialog_loaded = s.button_loaded = s.checkbox_loaded = s.edit_loaded = 0;
    s.title = s.sysbutton = s.side_border = s.bottom_border = s.background = s.button = s.checkbox = {};
    s.has_background_brush = false;
    s.sysbutton_cell_width = s.sysbutton_cell_height = 0;
    s.corner_width = 0;
    s.system_button_top = 1;
    s.title_text_top = 8;
    s.title_left_width = s.title_mid_width = s.title_right_width = 0;
    s.minimize_offset = s.maximize_offset = s.close_offset = 0;
    s.title_text_color = GetSysColor(COLOR_CAPTIONTEXT);
    s.background_color = GetSysColor(COLOR_WINDOW);
    s.button_row_height = 21;
    s.button_left_width = s.button_mid_width = s.button_right_width = 0;
    s.button_center_text = 1;
    s.button_normal_color = s.button_active_color = s.button_push_color = GetSysColor(COLOR_BTNTEXT);
    s.button_disabled_color = GetSysColor(COLOR_GRAYTEXT);
    s.checkbox_cell_width = s.checkbox_cell_height = 14;
    s.checkbox_text_color = RGB(1, 1, 1);
    s.edit_up_color = RGB(240, 189, 136);
    s.edit_mid_color = RGB(243, 204, 163);
    s.edit_down_color = RGB(250, 229, 207);
    s.edit_hover_up_color = RGB(250, 147, 147);
    s.edit_hover_mid_color = RGB(252, 184, 184);
    s.edit_hover_down_color = RGB(252, 215, 215);
    s.edit_background_normal_color = RGB(255, 255, 255);
    s.edit_background_hover_color = RGB(252, 239, 226);
    s.edit_background_disable_color = RGB(233, 233, 233);
    s.skin_root.clear();
    s.skin_name.clear();
}

}  // namespace uitest
