#include "dialogs/pelmor_combos.h"

#include "dialogs/base/node_rows.h"
#include "dialogs/node_combo.h"
#include "foundation/system_helpers.h"
#include "netconfig/proxy_mode.h"
#include "nodes/geo/country_table.h"
#include "ui/wx_draw.h"

int CComboBoxPelmor::AddItem(const wxString& text, uintptr_t data) {
    return CComboBoxIcon::AddItem(text, data);
}

void CComboBoxPelmor::LoadIcons(int bitmapId) {
    if (images_) return;
    images_ = LoadImageStrip(bitmapId, wxColour(255, 0, 255), 12);
}

void CComboBoxPelmor::DrawPelmorRow(wxDC& dc, const wxRect& rect, int flags, int icon, int textLeft,
                                    const wxString& text) const {
    FillRow(dc, rect, flags);
    DrawRowIcon(dc, icon, rect.x + 4, rect);
    wxRect r = rect;
    r.x += textLeft;
    r.width -= textLeft;
    DrawTextLine(dc, text, r, wxALIGN_LEFT, true);
}

// ---------------------------------------------------------------------------

CComboBoxPelmorMode::CComboBoxPelmorMode(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                         const wxSize& size)
    : CComboBoxPelmor(parent, id, pos, size) {}

int CComboBoxPelmorMode::FillModes() {
    LoadIcons(kBitmapModeIcons);
    Clear();
    const auto& modes = CProxyModeMgr::GetInstance()->GetModes();
    const bool chinese = IsChineseUiLocale() != 0;
    for (const auto& mode : modes)
        AddItem(wxString(chinese ? mode->nameCn : mode->nameEn), reinterpret_cast<uintptr_t>(mode.get()));
    const int index = ResolveSavedModeIndex(static_cast<int>(modes.size()));
    if (index < static_cast<int>(GetCount())) SetSelection(index);
    return 0;
}

CProxyMode* CComboBoxPelmorMode::GetModeAt(int row) const {
    return reinterpret_cast<CProxyMode*>(GetItemDataOf(row));
}

int CComboBoxPelmorMode::RowIcon(int row) const {
    const CProxyMode* mode = GetModeAt(row);
    return mode ? mode->type : -1;
}

wxString CComboBoxPelmorMode::RowText(int row) const {
    const CProxyMode* mode = GetModeAt(row);
    if (!mode || mode->remarks.empty()) return GetString(static_cast<unsigned>(row));
    return wxString(IsChineseUiLocale() ? mode->nameCn : mode->nameEn) + " - " + wxString(mode->remarks);
}

void CComboBoxPelmorMode::OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const {
    if (item == wxNOT_FOUND) return;
    DrawPelmorRow(dc, rect, flags, RowIcon(item), 30, RowText(item));
}

// ---------------------------------------------------------------------------

CComboBoxPelmorAddProxy::CComboBoxPelmorAddProxy(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                                 const wxSize& size)
    : CComboBoxPelmor(parent, id, pos, size) {}

int CComboBoxPelmorAddProxy::FillCountries() {
    LoadIcons(kBitmapFlags);
    Clear();
    for (int i = 0; i < GetCountryCount(); ++i) AddItem(wxString(GetCountryName(i)), 0);
    return 0;
}

void CComboBoxPelmorAddProxy::OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const {
    if (item == wxNOT_FOUND) return;
    DrawPelmorRow(dc, rect, flags, item, 30, GetString(static_cast<unsigned>(item)));
}

// ---------------------------------------------------------------------------

void CComboBoxPelmorText::OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const {
    if (item == wxNOT_FOUND) return;
    DrawPelmorRow(dc, rect, flags, -1, 6, GetString(static_cast<unsigned>(item)));
}
