#pragma once
// The node and mode choosers without their windows: latency classes and
// colours, the node captions and the closed face's text, the fill of a
// GroupComboModel from the node list with its selection rule, and the saved
// mode index.

#include <functional>
#include <string>

#include "ui/base/colors.h"
#include "ui/base/group_combo_model.h"

class CNodeInfo;

// The most bytes of a caption or face text, and of the face's group prefix.
inline constexpr size_t kMaxCaptionBytes = 999;
inline constexpr size_t kMaxGroupPrefixBytes = 99;

// 0 for 0 ms (not measured) or less; 5 up to 100 ms, 4 to 200, 3 to 300,
// 2 to 400, 1 above.
int LatencyToClass(int ms);
// White for class 0 and for anything outside 1..5.
COLORREF LatencyClassToColor(int cls);
COLORREF LatencyToColor(int ms);
// The latency as the cell shows it: the stored unsigned figure read as int.
std::string LatencyText(const CNodeInfo& node);

// Cuts `text` to at most `maxBytes` bytes, never inside a UTF-8 character.
void CutUtf8(std::string& text, size_t maxBytes);

// The list row's caption: "[type] remarks", "[-] -:-" when addresses are
// hidden, else "[type] host:port". At most 999 bytes.
std::string NodeListCaption(const CNodeInfo& node, bool hideAddresses);
// The closed face's text: as the caption with "group -> " before remarks
// or address (the hidden form has no prefix).
std::string NodeFaceText(const CNodeInfo& node, bool hideAddresses);
// The node's group, or the translation of "Default Group".
std::wstring NodeGroupCaption(const CNodeInfo& node);
// Whether the account configuration hides node addresses.
bool NodeAddressesHidden();

// Makes a row item for one node (caption, country index, node).
using NodeRowFactory =
    std::function<CGroupComboBoxItem*(const std::wstring& caption, int icon, CNodeInfo* node)>;

// Rebuilds the rows from the node list (headers stay in their group order)
// and selects `nodeId` (-1 means id 0); an id the list does not know falls
// back to the current node, and with none nothing is selected. Returns the
// selected row or -1.
int FillNodeRows(GroupComboModel& model, int nodeId, const NodeRowFactory& make);
// Selects the first node row of that id; its row, or -1.
int SelectNodeRowById(GroupComboModel& model, int nodeId);
// The node of a row; null for a header, a row without node or no row.
CNodeInfo* NodeAtRow(const GroupComboModel& model, int row);
// The face text of a row: a node's face text, a header's caption, empty
// for no row.
std::string FaceTextOfRow(const GroupComboModel& model, int row, bool hideAddresses);

// The saved mode index for a list of `modeCount` modes: one outside the
// list becomes 0 and the settings are saved.
int ResolveSavedModeIndex(int modeCount);
