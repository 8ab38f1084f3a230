#pragma once
// Popup menus drawn by the program: a flat look with a light icon column,
// 16x16 icons, check marks, right-aligned accelerator texts and a framed
// highlight. The toolkit's own menus cannot be drawn by the program (and
// hide item images), so the menu is shown in a popup window of its own by
// TrackPopupMenu, which runs until an item is chosen, Esc is pressed or the
// pointer clicks outside. Up and Down skip separators; Enter chooses the
// highlighted item when it is enabled.

#include <wx/dc.h>
#include <wx/imaglist.h>
#include <wx/window.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/base/menu_look.h"

enum : unsigned {
    MF_GRAYED = 0x0001,
    MF_DISABLED = 0x0002,
    MF_CHECKED = 0x0008,
    MF_POPUP = 0x0010,
    MF_OWNERDRAW = 0x0100,
    MF_BYPOSITION = 0x0400,
    MF_SEPARATOR = 0x0800,
    MF_RADIOCHECK = 0x0200,
};

enum : unsigned {
    TPM_LEFTALIGN = 0x0000,
    TPM_RIGHTBUTTON = 0x0002,
    TPM_NONOTIFY = 0x0080,
    TPM_RETURNCMD = 0x0100,
};

// One item of a menu.
struct QeltMenuData {
    std::wstring text;
    bool has_text = false;
    int global_image = -1;
    int command_index = -1;
    int own_image = -1;  // 0 when the item has its own images
    unsigned flags = 0;
    uintptr_t id = 0;    // command id, or the sub-menu for MF_POPUP
    // The item's own images: the icon, two copies over the button face and
    // the shaded copy a disabled item shows.
    std::vector<Pixmap> images;
};

class QeltMenu {
public:
    QeltMenu();
    virtual ~QeltMenu();
    QeltMenu(const QeltMenu&) = delete;
    QeltMenu& operator=(const QeltMenu&) = delete;

    // Appends an item (id 0 makes a separator whatever the text and flags);
    // with an image list, the image at `index` is the item's icon.
    bool AppendMenu(unsigned flags, uintptr_t id, const wchar_t* text, const wxImageList* images = nullptr,
                    int index = -1);
    virtual bool DestroyMenu();

    // Size and drawing of one item, in the font the menu draws with.
    ItemSize MeasureItem(wxDC& dc, const QeltMenuData& item) const;
    void DrawItem(wxDC& dc, const DRAWITEMSTRUCT& dis) const;

    // Shows the menu with its top-left corner at (x, y) (screen) and runs
    // until it closes. With TPM_RETURNCMD it returns the chosen command (0
    // for none); otherwise the command goes to `owner` as wxEVT_MENU and
    // the result is whether one was chosen.
    int TrackPopupMenu(unsigned flags, int x, int y, wxWindow* owner);
    // Closes an open menu of this object as though Esc was pressed.
    void CancelTracking();
    // Closes every open menu (the program is ending). User-interface thread.
    static void CancelAllTracking();

    size_t GetMenuItemCount() const { return items_.size(); }
    const QeltMenuData* GetItem(size_t pos) const { return pos < items_.size() ? items_[pos].get() : nullptr; }
    bool IsTracking() const { return popup_ != nullptr; }
    // The open menu's window, for tests and the owner's layout.
    wxWindow* GetPopupWindow() const;

    // Both draw modes (1 is the flat look, the only one drawn here).
    static void SetMenuDrawMode(int mode);
    // The windows version class: fixed at 1 (the newest).
    static int GetWindowsVersionClass() { return 1; }
    static bool IsClassicTheme() { return false; }
    // The font items are measured and drawn with.
    static wxFont MenuFont();

private:
    friend class QeltMenuPopup;
    static std::set<QeltMenu*>& Tracking();
    std::vector<std::unique_ptr<QeltMenuData>> items_;
    std::vector<uintptr_t> sub_menus_;
    class QeltMenuPopup* popup_ = nullptr;
};
