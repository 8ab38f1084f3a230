#pragma once
// The row objects of the group combo box: ordinary items, which a derived
// chooser subclasses and draws, and group headers, which are not selectable
// and draw themselves as a centred bold caption on a light blue band.
//
// This header is free of the window toolkit; the drawing members are defined
// with the combo box's window (ui/group_combo_box.cpp).

#include <memory>
#include <string>

#include "ui/base/owner_draw.h"

class wxDC;
class CGroupComboBoxHeader;

class CGroupComboBoxItem {
public:
    CGroupComboBoxItem(std::wstring caption, void* data, void* data2, bool header = false);
    virtual ~CGroupComboBoxItem();
    CGroupComboBoxItem(const CGroupComboBoxItem&) = delete;
    CGroupComboBoxItem& operator=(const CGroupComboBoxItem&) = delete;

    // Draws the row into `dis.rcItem` of the DC.
    virtual void Draw(wxDC& dc, const DRAWITEMSTRUCT& dis) = 0;
    // The caption's extent in the item font, at least 16 high, 26 wider.
    virtual ItemSize Measure(wxDC& dc);

    std::wstring GetCaption() const { return caption_; }
    const std::wstring& caption() const { return caption_; }
    bool IsHeader() const { return header_; }
    void* GetData() const { return data_; }
    void* GetData2() const { return data2_; }
    CGroupComboBoxHeader* GetHeader() const { return owner_; }

    // Compares the first `length` characters of the caption and of `text`
    // (whole texts for -1) in the user's collation, ignoring case: -1, 0 or 1.
    int CompareCaption(const std::wstring& text, int length = -1) const;

    // The row the insertion returned (-1 before); a header holds its group
    // index instead. Not updated when other rows move.
    int row = -1;

private:
    friend class GroupComboModel;
    std::wstring caption_;
    bool header_ = false;
    CGroupComboBoxHeader* owner_ = nullptr;
    void* data_ = nullptr;
    void* data2_ = nullptr;
};

// Orders the items of a sorted group: the existing item against the new one.
class CComboBoxItemCompare {
public:
    virtual ~CComboBoxItemCompare() = default;
    virtual int operator()(const CGroupComboBoxItem& existing, const CGroupComboBoxItem& added) const {
        return existing.CompareCaption(added.caption());
    }
};

class CGroupComboBoxHeader : public CGroupComboBoxItem {
public:
    CGroupComboBoxHeader(std::wstring caption, bool sorted);
    ~CGroupComboBoxHeader() override;

    // A band of RGB(214,232,254) with the caption centred in bold.
    void Draw(wxDC& dc, const DRAWITEMSTRUCT& dis) override;
    // The bold caption's extent, 8 wider and twice as high.
    ItemSize Measure(wxDC& dc) override;

    bool IsSorted() const { return sorted_; }
    const CComboBoxItemCompare* GetCompare() const { return compare_.get(); }

private:
    bool sorted_ = false;
    std::unique_ptr<CComboBoxItemCompare> compare_;
};
