#include "ui/base/skin_settings.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cwctype>
#include <vector>

#include "foundation/ini.h"
#include "foundation/string_util.h"
#include "foundation/text_convert.h"
#include "ui/base/bmp_reader.h"

namespace {

// Integer values are read from at most this many characters.
constexpr int kIntChars = 64;
constexpr int kColorChars = 100;

CIni SkinIni() {
    return CIni(GetSkinFilePath(L"res.ini"));
}

bool SkinFileExists(const wchar_t* file) {
    return access(GetSkinFilePath(file).c_str(), F_OK) == 0;
}

// An unsigned decimal from the leading digits (leading blanks allowed); no
// digits give 0; values past INT_MAX are INT_MAX. Empty or missing: `def`.
int ReadSkinInt(const CIni& ini, const wchar_t* section, const wchar_t* key, int def) {
    wchar_t buf[kIntChars] = {};
    const int len = ini.GetStringToBuffer(section, key, L"", buf, kIntChars);
    if (len <= 0) return def;
    const wchar_t* p = buf;
    while (*p == L' ' || *p == L'\t') ++p;
    int64_t v = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        v = v * 10 + (*p - L'0');
        if (v > INT_MAX) v = INT_MAX;
    }
    return static_cast<int>(v);
}

void ReadSkinColor(const CIni& ini, const wchar_t* section, const wchar_t* key, COLORREF& color) {
    wchar_t buf[kColorChars] = {};
    ini.GetStringToBuffer(section, key, L"", buf, kColorChars);
    ParseSkinColor(buf, color);
}

Pixmap LoadSkinBitmap(const wchar_t* file) {
    return LoadBmpFile(GetSkinFilePath(file));
}

int Clamp(int v, int hi) {
    return std::clamp(v, 0, std::max(0, hi));
}

}  // namespace

SkinSettings::SkinSettings()
    : title_text_color(GetSysColor(COLOR_CAPTIONTEXT)),
      background_color(GetSysColor(COLOR_WINDOW)),
      button_normal_color(GetSysColor(COLOR_BTNTEXT)),
      button_active_color(GetSysColor(COLOR_BTNTEXT)),
      button_push_color(GetSysColor(COLOR_BTNTEXT)),
      button_disabled_color(GetSysColor(COLOR_GRAYTEXT)) {}

SkinSettings& GetSkin() {
    static SkinSettings skin;
    return skin;
}

void SetSkinDirectory(const wchar_t* folder) {
    if (folder) GetSkin().skin_root = folder;
}

std::filesystem::path GetSkinFilePath(const wchar_t* file) {
    const SkinSettings& s = GetSkin();
    return WideToPath(s.skin_root) / WideToPath(s.skin_name) / WideToPath(file ? file : L"");
}

int IsSkinPresent() {
    return SkinFileExists(L"res.ini") ? 1 : 0;
}

int ParseSkinColor(const std::wstring& text, COLORREF& color) {
    if (text.empty()) return 0;
    std::vector<std::wstring> parts;
    if (SplitStringW(text, L",", parts, true) != 3 || parts.size() != 3) return 0;
    int rgb[3] = {};
    for (int i = 0; i < 3; ++i) {
        const wchar_t* p = parts[i].c_str();
        while (std::iswspace(*p)) ++p;
        bool negative = false;
        if (*p == L'-' || *p == L'+') negative = *p++ == L'-';
        uint32_t v = 0;  // only the low 8 bits matter, so wrapping is harmless
        for (; *p >= L'0' && *p <= L'9'; ++p) v = v * 10 + static_cast<uint32_t>(*p - L'0');
        if (negative) v = 0u - v;
        rgb[i] = static_cast<int>(v & 0xFF);
    }
    color = RGB(rgb[0], rgb[1], rgb[2]);
    return 1;
}

int LoadDialogSkin() {
    SkinSettings& s = GetSkin();
    CNamedLockGuard guard(&s.lock);
    s.title = {};
    s.sysbutton = {};
    s.side_border = {};
    s.bottom_border = {};
    s.background = {};
    s.has_background_brush = false;
    s.sysbutton_cell_width = s.sysbutton_cell_height = 0;

    for (const wchar_t* f :
         {L"dialog-title.bmp", L"dialog-sysbutton.bmp", L"left-right-border.bmp", L"bottom-border.bmp"}) {
        if (!SkinFileExists(f)) return 0;
    }
    s.title = LoadSkinBitmap(L"dialog-title.bmp");
    s.sysbutton = LoadSkinBitmap(L"dialog-sysbutton.bmp");
    s.side_border = LoadSkinBitmap(L"left-right-border.bmp");
    s.bottom_border = LoadSkinBitmap(L"bottom-border.bmp");
    if (SkinFileExists(L"background.bmp")) s.background = LoadSkinBitmap(L"background.bmp");
    if (!s.title.IsOk() || !s.sysbutton.IsOk() || !s.side_border.IsOk() || !s.bottom_border.IsOk()) return 0;

    s.sysbutton_cell_width = s.sysbutton.width() / 4;
    s.sysbutton_cell_height = s.sysbutton.height() / 3;
    s.corner_width = 0;
    s.system_button_top = 1;
    s.title_text_top = 8;
    s.title_text_color = GetSysColor(COLOR_CAPTIONTEXT);
    s.background_color = GetSysColor(COLOR_WINDOW);

    const CIni ini = SkinIni();
    if (!ini.IsSectionExist(L"dialog") || !ini.IsKeyExist(L"dialog", L"title_left_width") ||
        !ini.IsKeyExist(L"dialog", L"title_mid_width") || !ini.IsKeyExist(L"dialog", L"title_right_width"))
        return 0;

    // Positions inside the title band are kept within a generous bound; the
    // slice widths can never exceed the title bitmap they cut.
    const int w = s.title.width();
    s.corner_width = Clamp(ReadSkinInt(ini, L"dialog", L"corner_width", 0), 1024);
    s.system_button_top = Clamp(ReadSkinInt(ini, L"dialog", L"system_button_top", 1), Pixmap::kMaxSide);
    s.title_text_top = Clamp(ReadSkinInt(ini, L"dialog", L"title_text_top", 8), Pixmap::kMaxSide);
    s.title_left_width = Clamp(ReadSkinInt(ini, L"dialog", L"title_left_width", 1), w);
    s.title_mid_width = Clamp(ReadSkinInt(ini, L"dialog", L"title_mid_width", 1), w - s.title_left_width);
    s.title_right_width = Clamp(ReadSkinInt(ini, L"dialog", L"title_right_width", 1),
                                w - s.title_left_width - s.title_mid_width);

    const int r = s.title_right_width, n = s.sysbutton_cell_width;
    s.close_offset = r + (n + 1);
    s.maximize_offset = r + 2 * (n + 1);
    s.minimize_offset = r + 3 * (n + 1);

    ReadSkinColor(ini, L"dialog", L"title_text_color", s.title_text_color);
    if (!s.background.IsOk()) {
        wchar_t buf[kColorChars] = {};
        ini.GetStringToBuffer(L"dialog", L"background_color", L"", buf, kColorChars);
        s.has_background_brush = ParseSkinColor(buf, s.background_color) == 1;
    }
    return 1;
}

int LoadButtonSkin() {
    SkinSettings& s = GetSkin();
    s.button = {};
    if (!SkinFileExists(L"button.bmp")) return 0;
    s.button = LoadSkinBitmap(L"button.bmp");
    if (!s.title.IsOk() || !s.button.IsOk()) return 0;
    s.button_row_height = s.button.height() / 4;
    s.button_left_width = s.button_mid_width = s.button_right_width = 0;
    s.button_normal_color = s.button_active_color = s.button_push_color = GetSysColor(COLOR_BTNTEXT);
    s.button_disabled_color = GetSysColor(COLOR_GRAYTEXT);

    const CIni ini = SkinIni();
    if (!ini.IsSectionExist(L"button") || !ini.IsKeyExist(L"button", L"button_left_width") ||
        !ini.IsKeyExist(L"button", L"button_mid_width") || !ini.IsKeyExist(L"button", L"button_right_width"))
        return 0;
    const int w = s.button.width();
    s.button_left_width = Clamp(ReadSkinInt(ini, L"button", L"button_left_width", 5), w);
    s.button_mid_width = Clamp(ReadSkinInt(ini, L"button", L"button_mid_width", 1), w - s.button_left_width);
    s.button_right_width = Clamp(ReadSkinInt(ini, L"button", L"button_right_width", 5),
                                 w - s.button_left_width - s.button_mid_width);
    s.button_center_text = ini.GetBool(L"button", L"button_center_text", 1);
    ReadSkinColor(ini, L"button", L"button_normal_color", s.button_normal_color);
    ReadSkinColor(ini, L"button", L"button_active_color", s.button_active_color);
    ReadSkinColor(ini, L"button", L"button_push_color", s.button_push_color);
    ReadSkinColor(ini, L"button", L"button_disabled_color", s.button_disabled_color);
    return 1;
}

int LoadCheckBoxSkin() {
    SkinSettings& s = GetSkin();
    s.checkbox = {};
    if (!SkinFileExists(L"checkbox.bmp")) return 0;
    s.checkbox = LoadSkinBitmap(L"checkbox.bmp");
    if (!s.title.IsOk() || !s.checkbox.IsOk()) return 0;
    s.checkbox_cell_width = s.checkbox.width() / 8;
    s.checkbox_cell_height = s.checkbox.height();
    const CIni ini = SkinIni();
    if (ini.IsSectionExist(L"checkbox") && ini.IsKeyExist(L"checkbox", L"checkbox_text_color"))
        ReadSkinColor(ini, L"checkbox", L"checkbox_text_color", s.checkbox_text_color);
    return 1;
}

int LoadEditSkin() {
    SkinSettings& s = GetSkin();
    const CIni ini = SkinIni();
    if (!ini.IsSectionExist(L"edit")) return 1;
    const struct {
        const wchar_t* key;
        COLORREF* field;
    } keys[] = {
        {L"edit_up_color", &s.edit_up_color},
        {L"edit_mid_color", &s.edit_mid_color},
        {L"edit_down_color", &s.edit_down_color},
        {L"edit_hover_up_color", &s.edit_hover_up_color},
        {L"edit_hover_mid_color", &s.edit_hover_mid_color},
        {L"edit_hover_down_color", &s.edit_hover_down_color},
        {L"edit_background_normal_color", &s.edit_background_normal_color},
        {L"edit_background_hover_color", &s.edit_background_hover_color},
        {L"edit_background_disable_color", &s.edit_background_disable_color},
    };
    for (const auto& k : keys) {
        if (ini.IsKeyExist(L"edit", k.key)) ReadSkinColor(ini, L"edit", k.key, *k.field);
    }
    return 1;
}

int LoadSkin(const wchar_t* name) {
    if (!name) return 0;
    SkinSettings& s = GetSkin();
    s.skin_name = name;
    if (!IsSkinPresent()) return 0;
    s.dialog_loaded = s.button_loaded = s.checkbox_loaded = s.edit_loaded = 0;
    s.dialog_loaded = LoadDialogSkin() == 1;
    s.button_loaded = LoadButtonSkin() == 1;
    s.checkbox_loaded = LoadCheckBoxSkin() == 1;
    s.edit_loaded = LoadEditSkin() == 1;
    ++s.generation;
    return 1;
}
