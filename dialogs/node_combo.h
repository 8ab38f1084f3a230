#pragma once
// The main window's node chooser (control 1124): a group combo box whose
// rows are the node list's nodes under their group headers, each with the
// country flag, its caption and a latency cell coloured by latency class.

#include <wx/imaglist.h>

#include <memory>

#include "dialogs/base/node_row_item.h"
#include "ui/group_combo_box.h"

inline constexpr int kIdNodeChooser = 1124;
inline constexpr int kBitmapFlags = 139;

class CProxyListGroupComboBoxWithIcons : public CGroupComboBox {
public:
    CProxyListGroupComboBoxWithIcons(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                                     const wxSize& size = wxDefaultSize);

    // Rebuilds the rows and selects `nodeId` (-1: id 0, else the current node).
    int FillNodes(int nodeId);
    int SelectNodeById(int nodeId);
    CNodeInfo* GetNodeAt(int row) const;
    // Once: the flag strip as the image list (magenta is see-through).
    virtual void LoadIcons(int bitmapId);
    wxImageList* GetImageList() const { return images_.get(); }
    int AddGroupIfMissing(const std::wstring& caption, bool sorted);
    int AddNodeItem(const std::wstring& caption, int icon, int group, CNodeInfo* node);

    // The closed face: "group -> " before the node's text, the latency cell.
    void DrawItem(wxDC& dc, const DRAWITEMSTRUCT& dis) override;
    // The flag of a node at x = 4 of `row`.
    void DrawFlag(wxDC& dc, const CNodeInfo* node, const wxRect& row) const;

private:
    std::unique_ptr<wxImageList> images_;
};
