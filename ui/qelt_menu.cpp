#include "ui/qelt_menu.h"

#include <wx/app.h>
#include <wx/dcbuffer.h>
#include <wx/evtloop.h>
#include <wx/popupwin.h>
#include <wx/weakref.h>

#include <algorithm>
#include <mutex>
#include <set>

#include "ui/wx_draw.h"

namespace {

int g_draw_modes[2] = {1, 0};

// Popup handles appended to any menu, as the owner-drawn menus keep them.
std::mutex g_popups_mutex;
std::set<uintptr_t>& GlobalPopups() {
    static std::set<uintptr_t> popups;
    return popups;
}

void FillRect(wxDC& dc, const PixRect& r, COLORREF fill) {
    dc.SetBrush(wxBrush(WxColour(fill)));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(WxRect(r));
}

void FrameRect(wxDC& dc, const PixRect& r, COLORREF frame) {
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.SetPen(wxPen(WxColour(frame)));
    dc.DrawRectangle(WxRect(r));
}

// A tick of seven 3-pixel strokes.
void DrawCheckMark(wxDC& dc, int x, int y, COLORREF colour) {
    dc.SetPen(wxPen(WxColour(colour)));
    static const int rise[7] = {2, 3, 4, 3, 2, 1, 0};
    for (int i = 0; i < 7; ++i) dc.DrawLine(x + i, y + rise[i], x + i, y + rise[i] + 3);
}

}  // namespace

// ---------------------------------------------------------------------------
// The menu

QeltMenu::QeltMenu() = default;

QeltMenu::~QeltMenu() {
    DestroyMenu();
}

void QeltMenu::SetMenuDrawMode(int mode) {
    g_draw_modes[0] = g_draw_modes[1] = mode;
}

wxFont QeltMenu::MenuFont() {
    return GuiFont();
}

bool QeltMenu::AppendMenu(unsigned flags, uintptr_t id, const wchar_t* text, const wxImageList* images,
                          int index) {
    auto item = std::make_unique<QeltMenuData>();
    if (id == 0) {
        flags = (flags & MF_BYPOSITION) | MF_SEPARATOR | MF_OWNERDRAW;
    } else {
        flags |= MF_OWNERDRAW;
    }
    if (flags & MF_POPUP) {
        std::lock_guard<std::mutex> lock(g_popups_mutex);
        GlobalPopups().insert(id);
        sub_menus_.push_back(id);
    }
    item->flags = flags;
    item->id = id;
    if (text) {
        item->text = text;
        item->has_text = true;
    }
    if (images && index >= 0 && index < images->GetImageCount() && !(flags & MF_SEPARATOR)) {
        const Pixmap icon = FromWxImage(images->GetBitmap(index).ConvertToImage());
        if (icon.IsOk()) {
            item->own_image = 0;
            item->global_image = 0;
            const COLORREF face = GetSysColor(COLOR_BTNFACE);
            Pixmap overFace(16, 16, ArgbOf(face));
            CopyPixelsMasked(overFace, 0, 0, icon, 0, 0, 16, 16);
            item->images = {icon, overFace, overFace,
                            ShadedMenuImage(overFace, face, GetSysColor(COLOR_BTNSHADOW))};
        }
    }
    items_.push_back(std::move(item));
    return true;
}

bool QeltMenu::DestroyMenu() {
    CancelTracking();
    {
        std::lock_guard<std::mutex> lock(g_popups_mutex);
        for (uintptr_t h : sub_menus_) GlobalPopups().erase(h);
    }
    sub_menus_.clear();
    items_.clear();
    return true;
}

ItemSize QeltMenu::MeasureItem(wxDC& dc, const QeltMenuData& item) const {
    if (item.flags & MF_SEPARATOR) return MeasureMenuItem(true, 0);
    // Measured in the font the item is drawn with.
    wxDCFontChanger font(dc, MenuFont());
    // The text and the shortcut are measured apart: the shortcut has its
    // own right-aligned column.
    const auto [before, after] = SplitMenuText(item.text);
    const bool tab = item.text.find(L'\t') != std::wstring::npos;
    const int width = MenuTextColumnsWidth(dc.GetTextExtent(wxString(before)).x,
                                           tab ? dc.GetTextExtent(wxString(after)).x : 0, tab);
    return MeasureMenuItem(false, width);
}

void QeltMenu::DrawItem(wxDC& dc, const DRAWITEMSTRUCT& dis) const {
    if (dis.itemID < 0 || static_cast<size_t>(dis.itemID) >= items_.size()) return;
    const QeltMenuData& item = *items_[static_cast<size_t>(dis.itemID)];
    const MenuColours c = FlatMenuColours();
    const PixRect r = dis.rcItem;
    const bool disabled = (dis.itemState & ODS_GRAYED) != 0;
    const bool selected = !disabled && (dis.itemState & ODS_SELECTED);
    const bool checked = (dis.itemState & ODS_CHECKED) != 0;
    wxDCFontChanger font(dc, MenuFont());
    const PixRect bar{r.x, r.y, kMenuBarWidth, r.height};

    if (item.flags & MF_SEPARATOR) {
        FillRect(dc, r, c.background);
        FillRect(dc, bar, c.bar);
        const int y = r.y + r.height / 2;
        dc.SetPen(wxPen(WxColour(GetSysColor(COLOR_BTNSHADOW))));
        dc.DrawLine(r.x + 30, y, r.x + r.width, y);
        dc.SetPen(wxPen(WxColour(GetSysColor(COLOR_BTNHIGHLIGHT))));
        dc.DrawLine(r.x + 30, y + 1, r.x + r.width, y + 1);
        return;
    }
    if (selected) {
        FillRect(dc, r, c.selection_fill);
        FrameRect(dc, r, c.selection_frame);
    } else {
        FillRect(dc, r, c.background);
        FillRect(dc, bar, c.bar);
    }

    const PixRect box = MenuIconBox(r);
    if (!item.images.empty()) {
        if (!disabled) {
            if (checked) {
                FillRect(dc, box, selected ? c.checked_selected_box : c.checked_box);
                FrameRect(dc, box, c.selection_frame);
            } else if (selected) {
                FillRect(dc, box, c.selection_fill);
            } else {
                FillRect(dc, box, c.bar);
            }
            const PixRect at = MenuIconPlace(r, checked);
            dc.DrawBitmap(ToWxBitmap(item.images[0], true), at.x, at.y, true);
        } else {
            const PixRect at = MenuIconPlace(r, false);
            dc.DrawBitmap(ToWxBitmap(item.images.size() >= 4 ? item.images[3] : item.images[0]), at.x, at.y);
        }
    } else if (checked) {
        FillRect(dc, box, selected ? c.checked_selected_box : c.checked_box);
        FrameRect(dc, box, c.selection_frame);
        const int x = box.x + std::max(0, box.width / 2 - 3), y = box.y + std::max(0, box.height / 2 - 3);
        if (item.flags & MF_RADIOCHECK) {
            dc.SetBrush(wxBrush(WxColour(c.text)));
            dc.SetPen(wxPen(WxColour(c.text)));
            dc.DrawEllipse(x, y, 6, 6);
        } else {
            DrawCheckMark(dc, x, y, c.text);
        }
    }

    const auto [before, after] = SplitMenuText(item.text);
    const bool tab = item.text.find(L'\t') != std::wstring::npos;
    const PixRect t = MenuTextRect(r, tab);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(WxColour(disabled ? c.disabled_text : c.text));
    DrawTextLine(dc, wxString(before), WxRect(t), wxALIGN_LEFT, true);
    if (tab) DrawTextLine(dc, wxString(after), WxRect(t), wxALIGN_RIGHT, true);
}

// ---------------------------------------------------------------------------
// The open menu

class QeltMenuPopup : public wxPopupTransientWindow {
public:
    QeltMenuPopup(wxWindow* parent, QeltMenu* menu, wxGUIEventLoop* loop)
        : wxPopupTransientWindow(parent, wxBORDER_NONE), menu_(menu), loop_(loop) {
        // The outline is the popup's own colour around the items, which
        // keeps the menu apart from a white window under it.
        SetBackgroundColour(WxColour(GetSysColor(COLOR_BTNSHADOW)));
        panel_ = new wxWindow(this, wxID_ANY, wxPoint(kOutline, kOutline), wxDefaultSize, wxWANTS_CHARS);
        panel_->SetBackgroundStyle(wxBG_STYLE_PAINT);
        LayoutItems();
        panel_->Bind(wxEVT_PAINT, &QeltMenuPopup::OnPaint, this);
        panel_->Bind(wxEVT_MOTION, &QeltMenuPopup::OnMotion, this);
        panel_->Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent&) { Select(-1); });
        panel_->Bind(wxEVT_LEFT_UP, &QeltMenuPopup::OnLeftUp, this);
        panel_->Bind(wxEVT_KEY_DOWN, &QeltMenuPopup::OnKey, this);
        Bind(wxEVT_KEY_DOWN, &QeltMenuPopup::OnKey, this);
    }

    void LayoutItems() {
        wxClientDC dc(panel_);
        int width = 0, y = 0;
        rows_.clear();
        for (const auto& item : menu_->items_) {
            const ItemSize s = menu_->MeasureItem(dc, *item);
            rows_.push_back({0, y, 0, s.cy});
            width = std::max(width, s.cx);
            y += s.cy;
        }
        width = MenuPopupWidth(width);
        for (auto& r : rows_) r.width = width;
        panel_->SetSize(kOutline, kOutline, width, y);
        SetClientSize(width + 2 * kOutline, y + 2 * kOutline);
    }

    // Destroyed with its parent while open: the menu's loop ends.
    ~QeltMenuPopup() override { Finish(0); }

    int result() const { return result_; }
    wxWindow* panel() const { return panel_; }
    void Finish(int command) {
        if (done_) return;
        done_ = true;
        result_ = command;
        if (loop_->IsRunning()) loop_->Exit();
    }

protected:
    void OnDismiss() override { Finish(result_); }

private:
    bool Usable(int i) const {
        const QeltMenuData& d = *menu_->items_[static_cast<size_t>(i)];
        return !(d.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED | MF_POPUP));
    }
    bool IsSeparator(int i) const { return (menu_->items_[static_cast<size_t>(i)]->flags & MF_SEPARATOR) != 0; }

    int RowAt(const wxPoint& p) const {
        for (size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i].Contains(p.x, p.y)) return static_cast<int>(i);
        }
        return -1;
    }

    void Select(int i) {
        if (i >= 0 && IsSeparator(i)) i = -1;
        if (i == selected_) return;
        selected_ = i;
        panel_->Refresh(false);
    }

    void OnPaint(wxPaintEvent&) {
        wxAutoBufferedPaintDC dc(panel_);
        for (size_t i = 0; i < rows_.size(); ++i) {
            const QeltMenuData& d = *menu_->items_[i];
            DRAWITEMSTRUCT dis;
            dis.itemID = static_cast<int>(i);
            dis.rcItem = rows_[i];
            if (static_cast<int>(i) == selected_) dis.itemState |= ODS_SELECTED;
            if (d.flags & (MF_GRAYED | MF_DISABLED)) dis.itemState |= ODS_GRAYED;
            if (d.flags & MF_CHECKED) dis.itemState |= ODS_CHECKED;
            menu_->DrawItem(dc, dis);
        }
    }

    void OnMotion(wxMouseEvent& e) { Select(RowAt(e.GetPosition())); }

    void OnLeftUp(wxMouseEvent& e) {
        const int i = RowAt(e.GetPosition());
        if (i >= 0 && Usable(i)) Close(static_cast<int>(menu_->items_[static_cast<size_t>(i)]->id));
    }

    void Step(int direction) {
        const int n = static_cast<int>(rows_.size());
        if (n == 0) return;
        int i = selected_;
        for (int tries = 0; tries < n; ++tries) {
            i = i < 0 ? (direction > 0 ? 0 : n - 1) : (i + direction + n) % n;
            if (!IsSeparator(i)) {
                Select(i);
                return;
            }
        }
    }

    void OnKey(wxKeyEvent& e) {
        switch (e.GetKeyCode()) {
            case WXK_DOWN:
            case WXK_NUMPAD_DOWN:
                Step(1);
                break;
            case WXK_UP:
            case WXK_NUMPAD_UP:
                Step(-1);
                break;
            case WXK_RETURN:
            case WXK_NUMPAD_ENTER:
            case WXK_SPACE:
                if (selected_ >= 0 && Usable(selected_))
                    Close(static_cast<int>(menu_->items_[static_cast<size_t>(selected_)]->id));
                break;
            case WXK_ESCAPE:
                Close(0);
                break;
            default:
                e.Skip();
        }
    }

    void Close(int command) {
        result_ = command;
        Dismiss();
        Finish(command);
    }

    static constexpr int kOutline = 1;
    QeltMenu* menu_;
    wxGUIEventLoop* loop_;
    wxWindow* panel_ = nullptr;
    std::vector<PixRect> rows_;
    int selected_ = -1;
    int result_ = 0;
    bool done_ = false;
};

wxWindow* QeltMenu::GetPopupWindow() const {
    return popup_ ? popup_->panel() : nullptr;
}

std::set<QeltMenu*>& QeltMenu::Tracking() {
    static std::set<QeltMenu*> menus;
    return menus;
}

void QeltMenu::CancelAllTracking() {
    const std::set<QeltMenu*> open = Tracking();
    for (QeltMenu* menu : open) menu->CancelTracking();
}

void QeltMenu::CancelTracking() {
    if (popup_) {
        popup_->Dismiss();
        popup_->Finish(0);
    }
}

int QeltMenu::TrackPopupMenu(unsigned flags, int x, int y, wxWindow* owner) {
    if (popup_ || items_.empty()) return 0;
    wxWindow* parent = owner ? owner : wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    if (!parent) return 0;  // a popup needs a window to belong to
    wxGUIEventLoop loop;
    auto* popup = new QeltMenuPopup(parent, this, &loop);
    wxWeakRef<QeltMenuPopup> alive(popup);
    popup_ = popup;
    Tracking().insert(this);
    popup->Position(wxPoint(x, y), wxSize(0, 0));
    popup->Popup(popup->panel());
    popup->panel()->SetFocus();
    loop.Run();
    Tracking().erase(this);
    popup_ = nullptr;
    // The owner may have gone while the menu was open, and the menu with it.
    if (!alive) return 0;
    const int command = popup->result();
    popup->Destroy();
    if (flags & TPM_RETURNCMD) return command;
    if (command != 0 && owner) {
        wxCommandEvent chosen(wxEVT_MENU, command);
        chosen.SetEventObject(owner);
        owner->GetEventHandler()->ProcessEvent(chosen);
    }
    return command != 0 ? 1 : 0;
}
