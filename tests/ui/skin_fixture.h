#pragma once
// Small skins written by the tests: 24-bit BMP files of given colours and a
// res.ini, in a temporary skin folder.

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "ui/base/pixmap.h"

namespace uitest {

// The bytes of a 24-bit bottom-up BMP of the picture.
std::string BmpBytes(const Pixmap& p);
void WriteBmp(const std::filesystem::path& path, const Pixmap& p);
Pixmap Solid(int w, int h, COLORREF c);

// The colours the fixture skin paints with.
inline constexpr COLORREF kTitleLeft = RGB(10, 20, 30);
inline constexpr COLORREF kTitleMid = RGB(40, 90, 160);
inline constexpr COLORREF kTitleRight = RGB(70, 80, 90);
inline constexpr COLORREF kSide = RGB(5, 50, 100);
inline constexpr COLORREF kBottomLeft = RGB(200, 0, 0);
inline constexpr COLORREF kBottomMid = RGB(0, 200, 0);
inline constexpr COLORREF kBottomRight = RGB(0, 0, 200);

// A sys-button cell's colour: column c (0..3), row r (0..2).
COLORREF SysCellColour(int column, int row);
// A button row's colour (rows 0..3), with `slice` 0 left, 1 middle, 2 right.
COLORREF ButtonColour(int row, int slice);
// A check box cell's colour (cells 1..8).
COLORREF CheckCellColour(int cell);

struct SkinFiles {
    int title_left = 4, title_mid = 2, title_right = 4, title_height = 30;
    int cell = 22;
    int side = 3;
    int bottom = 3;
    int button_row = 24, button_left = 5, button_mid = 1, button_right = 5;
    int check_cell = 13;
    bool background = false;
    std::string ini;  // res.ini as written; DefaultIni() when empty
};

std::string DefaultIni(const SkinFiles& f);

// Writes the skin "test" into `root` and points the skin record at it.
void WriteSkin(const std::filesystem::path& root, const SkinFiles& f);

// Sets the skin record back to its first state (no sections loaded).
void ResetSkin();

}  // namespace uitest
