#pragma once
// The record an owner-drawn row or menu item is drawn from: which row, in
// which state, where. The state bits keep the values callers know.

#include "ui/base/pixmap.h"

enum : unsigned {
    ODS_SELECTED = 0x0001,
    ODS_GRAYED = 0x0002,
    ODS_DISABLED = 0x0004,
    ODS_CHECKED = 0x0008,
    ODS_FOCUS = 0x0010,
    ODS_COMBOBOXEDIT = 0x1000,
};

struct DRAWITEMSTRUCT {
    int itemID = -1;  // the row, or -1 for none
    unsigned itemState = 0;
    PixRect rcItem;
};

struct ItemSize {
    int cx = 0;
    int cy = 0;
    bool operator==(const ItemSize&) const = default;
};
