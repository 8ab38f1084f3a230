#include "ui/base/group_combo_item.h"

#include <cwchar>
#include <cwctype>

CGroupComboBoxItem::CGroupComboBoxItem(std::wstring caption, void* data, void* data2, bool header)
    : caption_(std::move(caption)), header_(header), data_(data), data2_(data2) {}

CGroupComboBoxItem::~CGroupComboBoxItem() = default;

int CGroupComboBoxItem::CompareCaption(const std::wstring& text, int length) const {
    const size_t n = length < 0 ? std::wstring::npos : static_cast<size_t>(length);
    std::wstring a = caption_.substr(0, n), b = text.substr(0, n);
    for (auto& c : a) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    for (auto& c : b) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    const int r = std::wcscoll(a.c_str(), b.c_str());
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

CGroupComboBoxHeader::CGroupComboBoxHeader(std::wstring caption, bool sorted)
    : CGroupComboBoxItem(std::move(caption), nullptr, nullptr, true), sorted_(sorted) {
    if (sorted_) compare_ = std::make_unique<CComboBoxItemCompare>();
}

CGroupComboBoxHeader::~CGroupComboBoxHeader() = default;
