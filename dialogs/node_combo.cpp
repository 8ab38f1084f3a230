#include "dialogs/node_combo.h"

#include "dialogs/base/node_rows.h"
#include "foundation/text_convert.h"
#include "nodes/node_info.h"
#include "ui/combo_box_icon.h"
#include "ui/wx_draw.h"

namespace {

const wxColour kMagenta(255, 0, 255);

// Caption area and latency cell of a row: the cell takes 18 per cent at the right.
int CellWidth(const wxRect& r) {
    return r.width * 18 / 100;
}

void DrawLatencyCell(wxDC& dc, const CNodeInfo* node, const wxRect& cell) {
    if (node) {
        dc.SetBrush(wxBrush(WxColour(LatencyToColor(static_cast<int>(node->latency.load())))));
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.DrawRectangle(cell);
        dc.SetTextForeground(*wxBLACK);
    }
    wxRect text = cell;
    text.x += 2;
    text.width -= 2;
    DrawTextLine(dc, node ? wxString::FromUTF8(LatencyText(*node)) : wxString(), text, wxALIGN_LEFT, true);
}

}  // namespace

void CProxyListGroupComboBoxItemWithIcon::Draw(wxDC& dc, const DRAWITEMSTRUCT& dis) {
    if (dis.itemID < 0) return;
    const wxColour text = dc.GetTextForeground(), back = dc.GetTextBackground();
    const wxRect r = WxRect(dis.rcItem);
    const int c = CellWidth(r);
    const wxRect area(r.x + 30, r.y, r.width - c - 30, r.height);
    const wxRect cell(r.GetRight() + 1 - c, r.y, c, r.height);
    const bool selected = (dis.itemState & (ODS_SELECTED | ODS_FOCUS)) != 0;
    dc.SetBrush(wxBrush(WxColour(selected ? GetSysColor(COLOR_HIGHLIGHT) : RGB(255, 255, 255))));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(area);
    dc.SetTextForeground(selected ? *wxWHITE : *wxBLACK);
    auto* combo = static_cast<CProxyListGroupComboBoxWithIcons*>(GetData2());
    if (combo) combo->DrawFlag(dc, GetNode(), r);
    CScopedItemFont font(dc, 400);
    DrawTextLine(dc, wxString(caption()), wxRect(r.x + 30, r.y, r.width - 80, r.height), wxALIGN_LEFT, true);
    dc.SetTextForeground(*wxBLACK);
    if (GetNode())
        DrawLatencyCell(dc, GetNode(), cell);
    else
        DrawTextLine(dc, "0 ms", wxRect(cell.x + 2, cell.y, cell.width - 2, cell.height), wxALIGN_LEFT, true);
    dc.SetTextForeground(text);
    dc.SetTextBackground(back);
}

CProxyListGroupComboBoxWithIcons::CProxyListGroupComboBoxWithIcons(wxWindow* parent, wxWindowID id,
                                                                   const wxPoint& pos, const wxSize& size)
    : CGroupComboBox(parent, id, pos, size) {
    SetRowHeight(20);
}

void CProxyListGroupComboBoxWithIcons::LoadIcons(int bitmapId) {
    if (images_) return;
    images_ = CComboBoxIcon::LoadImageStrip(bitmapId, kMagenta);
}

int CProxyListGroupComboBoxWithIcons::FillNodes(int nodeId) {
    LoadIcons(kBitmapFlags);
    BeginUpdateRows();
    const int row =
        FillNodeRows(model(), nodeId, [this](const std::wstring& caption, int icon, CNodeInfo* node) {
            return new CProxyListGroupComboBoxItemWithIcon(caption, icon, this, node);
        });
    EndUpdateRows();
    return row;
}

int CProxyListGroupComboBoxWithIcons::SelectNodeById(int nodeId) {
    return SelectNodeRowById(model(), nodeId);
}

CNodeInfo* CProxyListGroupComboBoxWithIcons::GetNodeAt(int row) const {
    return NodeAtRow(model(), row);
}

int CProxyListGroupComboBoxWithIcons::AddGroupIfMissing(const std::wstring& caption, bool sorted) {
    if (HasGroup(caption)) return FindGroup(caption);
    return AddGroup(new CGroupComboBoxHeader(caption, sorted));
}

int CProxyListGroupComboBoxWithIcons::AddNodeItem(const std::wstring& caption, int icon, int group,
                                                  CNodeInfo* node) {
    auto* item = new CProxyListGroupComboBoxItemWithIcon(caption, icon, this, node);
    const int row = AddItem(item, group);
    if (row < 0) delete item;
    return row;
}

void CProxyListGroupComboBoxWithIcons::DrawFlag(wxDC& dc, const CNodeInfo* node, const wxRect& row) const {
    if (!images_ || !node) return;
    const int index = node->countryIndex.load();
    if (index < 0 || index >= images_->GetImageCount()) return;
    images_->Draw(index, dc, row.x + 4, row.height == 16 ? row.y : row.y + 1, wxIMAGELIST_DRAW_TRANSPARENT);
}

void CProxyListGroupComboBoxWithIcons::DrawItem(wxDC& dc, const DRAWITEMSTRUCT& dis) {
    const CGroupComboBoxItem* item = model().GetItem(dis.itemID);
    if (!item) return;
    wxRect r = WxRect(dis.rcItem);
    const bool selected = (dis.itemState & (ODS_SELECTED | ODS_FOCUS)) != 0;
    const CNodeInfo* node = GetNodeAt(dis.itemID);
    // The flag sits in the 30-pixel margin, on white.
    DrawFlag(dc, node, r);
    r.x += 30;
    r.width -= 30;
    const int c = item->IsHeader() ? 0 : CellWidth(r);
    const wxRect area(r.x, r.y, r.width - c, r.height);
    const wxRect cell(r.GetRight() + 1 - c, r.y, c, r.height);
    dc.SetBrush(selected ? wxBrush(wxColour(100, 100, 100)) : *wxWHITE_BRUSH);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(area);
    dc.SetTextForeground(selected ? *wxWHITE : *wxBLACK);
    dc.SetFont(GetFont());
    const wxString face = wxString::FromUTF8(FaceTextOfRow(model(), dis.itemID, NodeAddressesHidden()));
    DrawTextLine(dc, face, wxRect(r.x, r.y, r.width - 50, r.height), wxALIGN_LEFT, true);
    if (node) DrawLatencyCell(dc, node, cell);
}
