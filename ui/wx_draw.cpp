#include "ui/wx_draw.h"

#include <wx/control.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include "foundation/app_paths.h"
#include "platform/resources_by_id.h"
#include "ui/base/bmp_reader.h"

wxFont GuiFont() {
    return wxFont(wxFontInfo(9).FaceName("Sans"));
}

wxFont BoldGuiFont() {
    return wxFont(wxFontInfo(9).FaceName("Sans").Bold());
}

wxImage ToWxImage(const Pixmap& p, bool withAlpha) {
    if (!p.IsOk()) return wxImage();
    wxImage img(p.width(), p.height(), false);
    unsigned char* rgb = img.GetData();
    unsigned char* alpha = nullptr;
    if (withAlpha) {
        img.SetAlpha();
        alpha = img.GetAlpha();
    }
    const size_t n = static_cast<size_t>(p.width()) * p.height();
    const uint32_t* px = p.data();
    for (size_t i = 0; i < n; ++i) {
        rgb[3 * i] = static_cast<unsigned char>(px[i] >> 16);
        rgb[3 * i + 1] = static_cast<unsigned char>(px[i] >> 8);
        rgb[3 * i + 2] = static_cast<unsigned char>(px[i]);
        if (alpha) alpha[i] = static_cast<unsigned char>(px[i] >> 24);
    }
    return img;
}

wxBitmap ToWxBitmap(const Pixmap& p, bool withAlpha) {
    const wxImage img = ToWxImage(p, withAlpha);
    return img.IsOk() ? wxBitmap(img) : wxBitmap();
}

Pixmap FromWxImage(const wxImage& img) {
    if (!img.IsOk()) return {};
    Pixmap p(img.GetWidth(), img.GetHeight());
    if (!p.IsOk()) return {};
    const unsigned char* rgb = img.GetData();
    const unsigned char* alpha = img.HasAlpha() ? img.GetAlpha() : nullptr;
    const bool mask = img.HasMask();
    const unsigned char mr = mask ? img.GetMaskRed() : 0, mg = mask ? img.GetMaskGreen() : 0,
                        mb = mask ? img.GetMaskBlue() : 0;
    uint32_t* px = p.data();
    const size_t n = static_cast<size_t>(p.width()) * p.height();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
        uint32_t a = alpha ? alpha[i] : 255;
        if (mask && r == mr && g == mg && b == mb) a = 0;
        px[i] = (a << 24) | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
    }
    return p;
}

Pixmap DecodePicture(const std::string& bytes) {
    if (bytes.empty()) return {};
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return DecodeBmp(bytes);
    static const bool handlers = [] {
        wxInitAllImageHandlers();
        return true;
    }();
    (void)handlers;
    wxLogNull quiet;  // a bad picture must not open an error window
    wxMemoryInputStream in(bytes.data(), bytes.size());
    wxImage img;
    if (!img.LoadFile(in, wxBITMAP_TYPE_ANY)) return {};
    if (static_cast<int64_t>(img.GetWidth()) * img.GetHeight() > Pixmap::kMaxPixels) return {};
    return FromWxImage(img);
}

Pixmap LoadPictureResource(const char* type, int id) {
    std::string bytes;
    if (!LoadResourceBytes(GetAppDir(), type, id, bytes)) return {};
    return DecodePicture(bytes);
}

void DrawTextLine(wxDC& dc, const wxString& text, const wxRect& rect, int align, bool vcentre) {
    if (text.empty() || rect.width <= 0 || rect.height <= 0) return;
    // Most texts fit: one measure, and the (costly, per-character) ellipsis
    // only for those that do not.
    wxString shown = text;
    wxCoord tw = 0, th = 0;
    dc.GetTextExtent(shown, &tw, &th);
    if (tw > rect.width) {
        shown = wxControl::Ellipsize(text, dc, wxELLIPSIZE_END, rect.width);
        dc.GetTextExtent(shown, &tw, &th);
    }
    int x = rect.x;
    if (align & wxALIGN_CENTRE_HORIZONTAL) {
        x = rect.x + (rect.width - tw) / 2;
    } else if (align & wxALIGN_RIGHT) {
        x = rect.x + rect.width - tw;
    }
    const int y = vcentre ? rect.y + (rect.height - th) / 2 : rect.y;
    wxDCClipper clip(dc, rect);
    dc.DrawText(shown, x, y);
}
