#pragma once
// A node row of the node chooser: caption, the node (not owned), the
// owning combo box (whose image list holds the flags) and the country index
// the node had when the row was made. The drawing member is defined with
// the chooser's window.

#include "ui/base/group_combo_item.h"

class CNodeInfo;

class CProxyListGroupComboBoxItemWithIcon : public CGroupComboBoxItem {
public:
    CProxyListGroupComboBoxItemWithIcon(const std::wstring& caption, int icon, void* combo, CNodeInfo* node)
        : CGroupComboBoxItem(caption, node, combo), icon_(icon) {}

    void Draw(wxDC& dc, const DRAWITEMSTRUCT& dis) override;
    int GetIconIndex() const { return icon_; }
    CNodeInfo* GetNode() const { return static_cast<CNodeInfo*>(GetData()); }

private:
    int icon_;
};
