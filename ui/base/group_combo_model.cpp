#include "ui/base/group_combo_model.h"

#include <algorithm>
#include <cwctype>

GroupComboModel::~GroupComboModel() {
    listener_ = nullptr;
    for (CGroupComboBoxItem* item : rows_) {
        if (!item->IsHeader()) delete item;
    }
    rows_.clear();
    for (CGroupComboBoxHeader* h : groups_) delete h;
}

void GroupComboModel::Changed() {
    if (listener_) listener_->OnStateChanged();
}

int GroupComboModel::AddGroup(CGroupComboBoxHeader* header) {
    if (!header) return -1;
    header->row = static_cast<int>(groups_.size());
    groups_.push_back(header);
    return header->row;
}

int GroupComboModel::FindGroup(const std::wstring& caption) const {
    for (size_t i = 0; i < groups_.size(); ++i) {
        if (groups_[i]->CompareCaption(caption) == 0) return static_cast<int>(i);
    }
    return -1;
}

CGroupComboBoxHeader* GroupComboModel::GetGroup(int group) const {
    return group >= 0 && group < GroupCount() ? groups_[static_cast<size_t>(group)] : nullptr;
}

CGroupComboBoxItem* GroupComboModel::GetItem(int row) const {
    return row >= 0 && row < GetCount() ? rows_[static_cast<size_t>(row)] : nullptr;
}

bool GroupComboModel::IsHeaderRow(int row) const {
    const CGroupComboBoxItem* item = GetItem(row);
    return item && item->IsHeader();
}

int GroupComboModel::FindItemRow(const CGroupComboBoxItem* item) const {
    const auto it = std::find(rows_.begin(), rows_.end(), item);
    return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

void GroupComboModel::InsertRow(int row, CGroupComboBoxItem* item) {
    rows_.insert(rows_.begin() + row, item);
    // The list keeps its selection on the same row object.
    if (cur_sel_ >= row) ++cur_sel_;
    if (listener_) listener_->OnRowInserted(row);
}

void GroupComboModel::DeleteRow(int row) {
    CGroupComboBoxItem* item = rows_[static_cast<size_t>(row)];
    rows_.erase(rows_.begin() + row);
    if (cur_sel_ == row) {
        cur_sel_ = -1;
    } else if (cur_sel_ > row) {
        --cur_sel_;
    }
    top_ = std::clamp(top_, 0, std::max(0, GetCount() - visible_));
    if (listener_) listener_->OnRowDeleted(row);
    if (!item->IsHeader()) delete item;
}

int GroupComboModel::GetHeaderInsertRow(const CGroupComboBoxHeader* header) const {
    const auto it = std::find(groups_.begin(), groups_.end(), header);
    if (it == groups_.end() || it == groups_.begin()) return 0;
    for (auto later = it + 1; later != groups_.end(); ++later) {
        const int row = FindItemRow(*later);
        if (row >= 0) return row;
    }
    return GetCount();
}

void GroupComboModel::InsertHeaderRow(CGroupComboBoxHeader* header) {
    InsertRow(rows_.empty() ? 0 : GetHeaderInsertRow(header), header);
}

int GroupComboModel::FindNextHeader(int from) const {
    for (int r = std::max(from, 0); r < GetCount(); ++r) {
        if (rows_[static_cast<size_t>(r)]->IsHeader()) return r;
    }
    return -1;
}

void GroupComboModel::GetGroupRange(int headerRow, int& first, int& end) const {
    first = headerRow + 1;
    end = FindNextHeader(first);
    if (end < 0) end = GetCount();
}

int GroupComboModel::FindSortedRow(int first, int end, const CGroupComboBoxItem& item,
                                   const CComboBoxItemCompare& compare) const {
    int length = end - first;
    while (length > 0) {
        const int half = length / 2;
        if (compare(*rows_[static_cast<size_t>(first + half)], item) < 0) {
            first += half + 1;
            length -= half + 1;
        } else {
            length = half;
        }
    }
    return first;
}

int GroupComboModel::AddItem(CGroupComboBoxItem* item, int group) {
    CGroupComboBoxHeader* header = GetGroup(group);
    if (!item || !header || item->IsHeader() || FindItemRow(item) >= 0) return -1;
    item->owner_ = header;
    if (FindItemRow(header) < 0) InsertHeaderRow(header);
    int first = 0, end = 0;
    GetGroupRange(FindItemRow(header), first, end);
    const int row = header->IsSorted() && header->GetCompare()
                        ? FindSortedRow(first, end, *item, *header->GetCompare())
                        : end;
    InsertRow(row, item);
    item->row = row;
    Changed();
    return row;
}

void GroupComboModel::DeleteItem(int row) {
    if (row < 0 || row >= GetCount()) return;
    DeleteRow(row);
    if (row < GetCount() && !IsHeaderRow(row)) {
        Changed();
        return;
    }
    if (IsHeaderRow(row - 1)) DeleteRow(row - 1);
    Changed();
}

void GroupComboModel::ResetContent() {
    while (!rows_.empty()) DeleteRow(GetCount() - 1);
    cur_sel_ = -1;
    top_ = 0;
    Changed();
}

int GroupComboModel::FindNextItem(int row) const {
    for (int r = std::max(row + 1, 0); r < GetCount(); ++r) {
        if (!rows_[static_cast<size_t>(r)]->IsHeader()) return r;
    }
    return -1;
}

int GroupComboModel::FindPrevItem(int row) const {
    for (int r = std::min(row, GetCount()) - 1; r >= 1; --r) {
        if (!rows_[static_cast<size_t>(r)]->IsHeader()) return r;
    }
    return -1;
}

int GroupComboModel::FindItemByCaption(int start, const std::wstring& text) const {
    const int n = GetCount();
    for (int i = 1; i <= n; ++i) {
        const int r = ((start < 0 ? -1 : start) + i) % n;
        const CGroupComboBoxItem* item = rows_[static_cast<size_t>(r)];
        if (!item->IsHeader() && item->CompareCaption(text) == 0) return r;
    }
    return -1;
}

int GroupComboModel::FindItemByPrefix(int start, const std::wstring& text) const {
    const int n = GetCount();
    for (int i = 1; i <= n; ++i) {
        const int r = ((start < 0 ? -1 : start) + i) % n;
        const CGroupComboBoxItem* item = rows_[static_cast<size_t>(r)];
        if (item->IsHeader() || item->caption().size() < text.size()) continue;
        if (item->CompareCaption(text, static_cast<int>(text.size())) == 0) return r;
    }
    return -1;
}

void GroupComboModel::SetCurSel(int row) {
    cur_sel_ = row >= 0 && row < GetCount() ? row : -1;
    Changed();
}

void GroupComboModel::SetTopIndex(int top) {
    top_ = std::clamp(top, 0, std::max(0, GetCount() - visible_));
    Changed();
}

void GroupComboModel::SetMinVisible(int rows) {
    visible_ = std::max(1, rows);
    top_ = std::clamp(top_, 0, std::max(0, GetCount() - visible_));
}

int GroupComboModel::GetPageUpRow(int row) const {
    return row - visible_ < 0 ? 0 : row - visible_ + 1;
}

int GroupComboModel::GetPageDownRow(int row) const {
    return std::min(row + visible_ - 1, GetCount() - 1);
}

void GroupComboModel::SetWindowText(const std::wstring& text) {
    window_text_ = text;
    edit_start_ = edit_end_ = 0;
    Changed();
}

void GroupComboModel::GetEditSel(int& start, int& end) const {
    start = edit_start_;
    end = edit_end_;
}

void GroupComboModel::SetEditSel(int start, int end) {
    const int length = static_cast<int>(window_text_.size());
    edit_start_ = std::clamp(start, 0, length);
    edit_end_ = end < 0 ? -1 : std::clamp(end, edit_start_, length);
    Changed();
}

void GroupComboModel::SetSelAndTopIndex(int row, int top) {
    cur_sel_ = row >= 0 && row < GetCount() ? row : -1;
    top_ = std::clamp(top, 0, std::max(0, GetCount() - visible_));
    Changed();
}

void GroupComboModel::SetCurSelVisible(int row) {
    if (!dropped_) {
        SetCurSel(row);
        return;
    }
    int top = top_;
    if (row < top) {
        top = row;
    } else if (GetPageDownRow(top) < row) {
        top = GetPageUpRow(row);
    }
    SetSelAndTopIndex(row, top);
}

void GroupComboModel::SelectItem(int row) {
    SetCurSelVisible(row);
    const CGroupComboBoxItem* item = GetItem(row);
    SetWindowText(item ? item->caption() : std::wstring());
    SetEditSel(0, -1);
}

bool GroupComboModel::SelectByPrefix(const std::wstring& text) {
    const int s = cur_sel_ < 0 ? 0 : cur_sel_;
    const int row = FindItemByPrefix(s - 1, text);
    if (row < 0) return false;
    SetCurSelVisible(row);
    SetWindowText(rows_[static_cast<size_t>(row)]->caption());
    SetEditSel(static_cast<int>(text.size()), -1);
    return true;
}

bool GroupComboModel::SelectByWindowText() {
    int row = FindItemByCaption(-1, window_text_);
    if (row < 0) row = FindItemByPrefix(-1, window_text_);
    if (row < 0) return false;
    SelectItem(row);
    return true;
}

bool GroupComboModel::HandleDownKey() {
    const int s = cur_sel_;
    if (s < 0 && !window_text_.empty() && SelectByWindowText()) return true;
    if (s + 1 >= GetCount() || !IsHeaderRow(s + 1)) return false;
    const int row = FindNextItem(s + 1);
    if (row < 0 || row >= GetCount()) return false;
    SelectItem(row);
    return true;
}

bool GroupComboModel::HandleUpKey() {
    const int s = cur_sel_;
    if (s < 0) {
        if (!window_text_.empty() && SelectByWindowText()) return true;
        const int first = FindNextItem(-1);
        if (first < 0) return false;
        SelectItem(first);
        return true;
    }
    if (s <= 0 || !IsHeaderRow(s - 1)) return false;
    const int row = FindPrevItem(s - 1);
    if (row >= 0) {
        SelectItem(row);
    } else if (top_ > 0) {
        SetTopIndex(0);
    }
    return true;
}

bool GroupComboModel::HandlePageDownKey() {
    int s = cur_sel_;
    if (s == GetCount() - 1) return true;
    if (s < 0) s = 0;
    const int t = GetPageDownRow(s);
    if (!IsHeaderRow(t)) return false;
    SelectItem(FindPrevItem(t));
    return true;
}

bool GroupComboModel::HandlePageUpKey() {
    int s = cur_sel_;
    if (s == 0) return true;
    if (s == 1) {
        if (top_ != 0) SetTopIndex(0);
        return true;
    }
    if (s < 0) s = 0;
    const int t = GetPageUpRow(s);
    if (!IsHeaderRow(t)) return false;
    const int row = FindNextItem(t);
    SetSelAndTopIndex(row, t);
    const CGroupComboBoxItem* item = GetItem(row);
    SetWindowText(item ? item->caption() : std::wstring());
    SetEditSel(0, -1);
    return true;
}

// What the list does with a key that the steering rules left alone.
void GroupComboModel::MoveBy(int key) {
    const int count = GetCount();
    if (count == 0) return;
    const int s = cur_sel_;
    int row = s;
    switch (key) {
        case kComboKeyDown:
            row = s < 0 ? FindFirstItem() : std::min(s + 1, count - 1);
            break;
        case kComboKeyUp:
            row = s < 0 ? FindFirstItem() : std::max(s - 1, 0);
            break;
        case kComboKeyPageDown:
            row = GetPageDownRow(std::max(s, 0));
            break;
        case kComboKeyPageUp:
            row = GetPageUpRow(std::max(s, 0));
            break;
        case kComboKeyHome:
            row = FindFirstItem();
            break;
        case kComboKeyEnd:
            row = count - 1;
            break;
        default:
            return;
    }
    // A header is never where the list comes to rest.
    if (IsHeaderRow(row)) row = FindNextItem(row);
    if (row < 0 || row == s) return;
    SetCurSelVisible(row);
    OnSelChange();
}

bool GroupComboModel::KeyDown(int key) {
    switch (key) {
        case kComboKeyBack:
        case kComboKeyDelete:
            if (dropped_) {
                const int start = edit_start_, end = edit_end_;
                SetCurSel(0);
                SetEditSel(start, end);
            }
            return false;
        case kComboKeyDown:
            if (!HandleDownKey()) MoveBy(key);
            return true;
        case kComboKeyUp:
            if (!HandleUpKey()) MoveBy(key);
            return true;
        case kComboKeyPageDown:
            if (!HandlePageDownKey()) MoveBy(key);
            return true;
        case kComboKeyPageUp:
            if (!HandlePageUpKey()) MoveBy(key);
            return true;
        case kComboKeyHome:
        case kComboKeyEnd:
            MoveBy(key);
            return true;
        default:
            return false;
    }
}

bool GroupComboModel::Char(wchar_t ch) {
    if (!dropped_) return false;
    if (type_ahead_ && std::iswprint(static_cast<wint_t>(ch))) {
        std::wstring text = window_text_;
        const int length = static_cast<int>(text.size());
        const int start = std::min(edit_start_, length);
        const int end = edit_end_ < 0 ? length : std::min(edit_end_, length);
        text.erase(static_cast<size_t>(start), static_cast<size_t>(end - start));
        text.insert(text.begin() + start, ch);
        return SelectByPrefix(text);
    }
    if (ch == kComboKeyEscape && esc_restores_) {
        dropped_ = false;
        window_text_ = saved_text_;
        edit_start_ = 0;
        edit_end_ = -1;
        SetCurSel(FindItemByCaption(-1, saved_text_));
        return true;
    }
    return false;
}

void GroupComboModel::DropDown() {
    saved_text_ = window_text_;
    dropped_ = true;
    if (!window_text_.empty() && cur_sel_ < 0) SelectByWindowText();
    // The list opens with the selection in view.
    if (cur_sel_ >= 0) SetCurSelVisible(cur_sel_);
    Changed();
}

void GroupComboModel::CloseUp() {
    dropped_ = false;
    Changed();
}

bool GroupComboModel::ClickRow(int row) {
    if (row < 0 || row >= GetCount() || IsHeaderRow(row)) return false;
    SetCurSelVisible(row);
    OnSelChange();
    return true;
}

void GroupComboModel::OnSelChange() {
    const CGroupComboBoxItem* item = GetItem(cur_sel_);
    if (!item || item->IsHeader()) return;
    SetWindowText(item->caption());
    SetEditSel(0, -1);
}

PixRect AdjustDropRect(const PixRect& list, int maxItemWidth, int rowCount, int visibleRows,
                       const PixRect& workArea, int edge, int scrollBar) {
    const int want = maxItemWidth + 2 * edge;
    if (list.width >= want) return list;
    PixRect out = list;
    out.width = want + (rowCount > visibleRows ? scrollBar : 0);
    const int right = workArea.x + workArea.width;
    if (out.x + out.width > right) out.x -= out.x + out.width - right;
    if (out.x < workArea.x) {
        out.x = workArea.x;
        out.width = std::max(list.width, std::min(out.width, workArea.width));
    }
    return out;
}
