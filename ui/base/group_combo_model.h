#pragma once
// What the group combo box is, apart from its window: the rows (each an item
// object; ordinary items are owned by their row, headers by the group list),
// the groups, the selection, the list's top row and visible row count, the
// window text with its edit selection, and every rule that keeps header rows
// in group order and steers the selection around them (keys, type-ahead,
// Esc, clicks). The window mirrors the rows and shows the state; it tells
// the model about keys and clicks and listens for the changes.

#include <string>
#include <vector>

#include "ui/base/group_combo_item.h"

// Key codes the handlers take.
enum GroupComboKey : int {
    kComboKeyBack = 8,
    kComboKeyReturn = 13,
    kComboKeyEscape = 27,
    kComboKeyPageUp = 33,
    kComboKeyPageDown = 34,
    kComboKeyEnd = 35,
    kComboKeyHome = 36,
    kComboKeyUp = 38,
    kComboKeyDown = 40,
    kComboKeyDelete = 46,
};

class GroupComboModel {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void OnRowInserted(int row) = 0;
        virtual void OnRowDeleted(int row) = 0;
        // The selection, top row, window text or dropped state changed.
        virtual void OnStateChanged() = 0;
    };

    GroupComboModel() = default;
    ~GroupComboModel();
    GroupComboModel(const GroupComboModel&) = delete;
    GroupComboModel& operator=(const GroupComboModel&) = delete;

    void SetListener(Listener* listener) { listener_ = listener; }

    // Groups. The model owns every header given to AddGroup (-1 for null).
    int AddGroup(CGroupComboBoxHeader* header);
    int FindGroup(const std::wstring& caption) const;
    bool HasGroup(const std::wstring& caption) const { return FindGroup(caption) >= 0; }
    int GroupCount() const { return static_cast<int>(groups_.size()); }
    CGroupComboBoxHeader* GetGroup(int group) const;

    // Adds an item to a group and returns its row (also stored in the
    // item); the row then owns the item. -1, and the item stays the
    // caller's, for a null item, an unknown group or an item already added.
    int AddItem(CGroupComboBoxItem* item, int group);
    // Deletes the row, and the header above it when its group is left
    // empty. Nothing for a row that does not exist.
    void DeleteItem(int row);
    // Removes every row; ordinary items are deleted, groups stay.
    void ResetContent();

    int GetCount() const { return static_cast<int>(rows_.size()); }
    CGroupComboBoxItem* GetItem(int row) const;
    bool IsHeaderRow(int row) const;
    int FindItemRow(const CGroupComboBoxItem* item) const;

    int FindFirstItem() const { return FindNextItem(-1); }
    int FindNextItem(int row) const;
    // Nearest non-header row above `row`; row 0 is never examined.
    int FindPrevItem(int row) const;
    // Both wrap around all rows, starting after `start` (-1: from row 0).
    int FindItemByCaption(int start, const std::wstring& text) const;
    int FindItemByPrefix(int start, const std::wstring& text) const;

    // Where a header's row goes; the range [first, end) of the group whose
    // header is at `headerRow`; the first header row at or after `from`.
    int GetHeaderInsertRow(const CGroupComboBoxHeader* header) const;
    void GetGroupRange(int headerRow, int& first, int& end) const;
    int FindNextHeader(int from) const;

    // Selection and list state.
    int GetCurSel() const { return cur_sel_; }
    // An index outside the rows clears the selection.
    void SetCurSel(int row);
    int GetTopIndex() const { return top_; }
    void SetTopIndex(int top);
    int GetMinVisible() const { return visible_; }
    void SetMinVisible(int rows);
    int GetPageUpRow(int row) const;
    int GetPageDownRow(int row) const;
    bool IsDropped() const { return dropped_; }
    const std::wstring& GetWindowText() const { return window_text_; }
    void SetWindowText(const std::wstring& text);
    // The edit selection; `end` -1 means to the end of the text.
    void GetEditSel(int& start, int& end) const;
    void SetEditSel(int start, int end);
    const std::wstring& GetSavedText() const { return saved_text_; }

    void SetSelAndTopIndex(int row, int top);
    void SetCurSelVisible(int row);
    void SelectItem(int row);
    bool SelectByPrefix(const std::wstring& text);
    bool SelectByWindowText();

    // Options (all on at construction).
    void SetAdjustDropWidth(bool on) { adjust_drop_width_ = on; }
    bool AdjustsDropWidth() const { return adjust_drop_width_; }
    void SetTypeAhead(bool on) { type_ahead_ = on; }
    void SetEscRestores(bool on) { esc_restores_ = on; }

    // Keys. KeyDown runs the steering rules and, when they decline, what the
    // list does by itself (one row, a page, first or last row); it returns
    // whether the key was used. Char handles type-ahead and Esc.
    bool HandleDownKey();
    bool HandleUpKey();
    bool HandlePageDownKey();
    bool HandlePageUpKey();
    bool KeyDown(int key);
    bool Char(wchar_t ch);

    // The list opens (the text is saved) and closes; a click on a row of
    // the open list (header rows refuse it: false, nothing changes).
    void DropDown();
    void CloseUp();
    bool ClickRow(int row);
    // What the combo does after a selection change: the window text shows
    // the selected item, wholly selected.
    void OnSelChange();

private:
    void InsertRow(int row, CGroupComboBoxItem* item);
    void DeleteRow(int row);
    void InsertHeaderRow(CGroupComboBoxHeader* header);
    int FindSortedRow(int first, int end, const CGroupComboBoxItem& item,
                      const CComboBoxItemCompare& compare) const;
    void MoveBy(int key);
    void Changed();

    Listener* listener_ = nullptr;
    std::vector<CGroupComboBoxItem*> rows_;
    std::vector<CGroupComboBoxHeader*> groups_;
    int cur_sel_ = -1;
    int top_ = 0;
    int visible_ = 30;
    bool dropped_ = false;
    std::wstring window_text_;
    int edit_start_ = 0, edit_end_ = 0;
    std::wstring saved_text_;
    bool adjust_drop_width_ = true;
    bool type_ahead_ = true;
    bool esc_restores_ = true;
};

// The drop-down list's rectangle after widening: when `list` is narrower
// than the widest row plus both edges it grows to the right (plus a scroll
// bar's width when not every row fits), then moves left as far as it passes
// the work area's right edge, never past its left edge; it never shrinks.
PixRect AdjustDropRect(const PixRect& list, int maxItemWidth, int rowCount, int visibleRows,
                       const PixRect& workArea, int edge = 2, int scrollBar = 17);
