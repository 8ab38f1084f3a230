#pragma once
// Drawing helpers shared by the skinned windows: conversions between the
// plain pictures of ui/base and wx images, the fixed GUI font, colours, and
// pictures loaded from the program's resources.

#include <wx/bitmap.h>
#include <wx/colour.h>
#include <wx/dc.h>
#include <wx/font.h>
#include <wx/image.h>

#include <string>

#include "ui/base/colors.h"
#include "ui/base/pixmap.h"

// The stock GUI font: Sans 9 pt (12 pixels at 96 DPI); bold for captions.
wxFont GuiFont();
wxFont BoldGuiFont();

inline wxColour WxColour(COLORREF c) {
    return wxColour(GetRValue(c), GetGValue(c), GetBValue(c));
}
inline COLORREF ColorRefOfWx(const wxColour& c) {
    return RGB(c.Red(), c.Green(), c.Blue());
}

// A wx image of the picture; with `withAlpha` the alpha channel is kept.
wxImage ToWxImage(const Pixmap& p, bool withAlpha = false);
wxBitmap ToWxBitmap(const Pixmap& p, bool withAlpha = false);
// The picture of a wx image; a mask colour or an alpha channel becomes alpha.
Pixmap FromWxImage(const wxImage& img);

// Decodes a picture in any format wx reads (PNG, GIF, BMP, JPEG...) from
// memory without logging; an empty Pixmap when it does not decode.
Pixmap DecodePicture(const std::string& bytes);

// A picture resource by type and id from the program folder ("icon",
// "bitmap", "gif"); empty when missing or undecodable.
Pixmap LoadPictureResource(const char* type, int id);

// Draws one line of text into `rect`, cut with an ellipsis when too wide.
// `align` is wxALIGN_LEFT, wxALIGN_CENTRE_HORIZONTAL or wxALIGN_RIGHT;
// `vcentre` centres it vertically, else it sits at the top.
void DrawTextLine(wxDC& dc, const wxString& text, const wxRect& rect, int align, bool vcentre);

inline wxRect WxRect(const PixRect& r) {
    return wxRect(r.x, r.y, r.width, r.height);
}
