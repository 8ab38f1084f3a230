#pragma once
// The program's icon combo boxes: the proxy-mode chooser (control 1020, an
// icon per mode type), the country chooser of the node dialogs (a flag per
// row) and the plain text combo of several dialogs. One look: the selected
// row RGB(100,100,100) with white text, the others white with black text.

#include "ui/combo_box_icon.h"

class CProxyMode;

inline constexpr int kIdModeChooser = 1020;
inline constexpr int kBitmapModeIcons = 156;

// What the three share: rows 20 high, icons on a magenta mask.
class CComboBoxPelmor : public CComboBoxIcon {
public:
    using CComboBoxIcon::CComboBoxIcon;
    int AddItem(const wxString& text, uintptr_t data) override;
    void LoadIcons(int bitmapId) override;

protected:
    // Fills the row, draws `icon` at x = 4 and the text from `textLeft`.
    void DrawPelmorRow(wxDC& dc, const wxRect& rect, int flags, int icon, int textLeft,
                       const wxString& text) const;
};

class CComboBoxPelmorMode : public CComboBoxPelmor {
public:
    CComboBoxPelmorMode(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                        const wxSize& size = wxDefaultSize);
    // Rebuilds the list from the mode manager and selects the saved mode.
    int FillModes();
    CProxyMode* GetModeAt(int row) const;
    int RowIcon(int row) const override;
    // The row's text: the name, with " - remarks" when the mode has remarks.
    wxString RowText(int row) const;

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override;
};

class CComboBoxPelmorAddProxy : public CComboBoxPelmor {
public:
    CComboBoxPelmorAddProxy(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                            const wxSize& size = wxDefaultSize);
    // The country table's names in table order, a flag per row.
    int FillCountries();
    int RowIcon(int row) const override { return row; }

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override;
};

class CComboBoxPelmorText : public CComboBoxPelmor {
public:
    using CComboBoxPelmor::CComboBoxPelmor;

protected:
    void OnDrawItem(wxDC& dc, const wxRect& rect, int item, int flags) const override;
};
