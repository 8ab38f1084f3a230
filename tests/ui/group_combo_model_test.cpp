// The group combo box's rules, without a window: header rows in group
// order, sorted groups, deletion, the keys that steer around headers,
// type-ahead, Esc, header clicks and the drop-down width.
#include "ui/base/group_combo_model.h"

#include <gtest/gtest.h>

#include <clocale>
#include <map>

namespace {

// Counts live items so that every test can check nothing leaked or was
// freed twice.
int g_live = 0;

class TestItem : public CGroupComboBoxItem {
public:
    explicit TestItem(const std::wstring& caption) : CGroupComboBoxItem(caption, nullptr, nullptr) { ++g_live; }
    ~TestItem() override { --g_live; }
    void Draw(wxDC&, const DRAWITEMSTRUCT&) override {}
};

class GroupCombo : public ::testing::Test {
protected:
    void SetUp() override { g_live = 0; }
    void TearDown() override {
        model_.reset();
        EXPECT_EQ(g_live, 0) << "items leaked or freed twice";
    }
    GroupComboModel& m() { return *model_; }
    int Group(const wchar_t* caption, bool sorted = false) {
        return m().AddGroup(new CGroupComboBoxHeader(caption, sorted));
    }
    int Add(const wchar_t* caption, int group) { return m().AddItem(new TestItem(caption), group); }
    // The rows as "[Header] item item [Header] ...".
    std::wstring Rows() const {
        std::wstring out;
        for (int r = 0; r < model_->GetCount(); ++r) {
            const CGroupComboBoxItem* it = model_->GetItem(r);
            if (!out.empty()) out += L' ';
            out += it->IsHeader() ? L"[" + it->caption() + L"]" : it->caption();
        }
        return out;
    }
    std::unique_ptr<GroupComboModel> model_ = std::make_unique<GroupComboModel>();
};

TEST_F(GroupCombo, HeadersFollowTheGroupList) {
    const int first = Group(L"First"), second = Group(L"Second"), third = Group(L"Third");
    EXPECT_EQ(first, 0);
    EXPECT_EQ(third, 2);
    EXPECT_EQ(m().FindGroup(L"second"), second);
    EXPECT_TRUE(m().HasGroup(L"THIRD"));
    EXPECT_EQ(m().FindGroup(L"Fourth"), -1);

    // The first item of an empty list: header at row 0, item at row 1.
    EXPECT_EQ(Add(L"t1", third), 1);
    EXPECT_EQ(Rows(), L"[Third] t1");
    EXPECT_EQ(Add(L"f1", first), 1);
    EXPECT_EQ(Rows(), L"[First] f1 [Third] t1");
    EXPECT_EQ(Add(L"s1", second), 3);
    EXPECT_EQ(Add(L"f2", first), 2);
    EXPECT_EQ(Rows(), L"[First] f1 f2 [Second] s1 [Third] t1");
    EXPECT_EQ(m().GetItem(2)->GetHeader(), m().GetGroup(first));
    // Unsorted groups keep the order of adding; a bad group takes nothing.
    TestItem stray(L"x");
    EXPECT_EQ(m().AddItem(&stray, 7), -1);
    EXPECT_EQ(m().AddItem(nullptr, 0), -1);
    EXPECT_EQ(m().AddItem(m().GetGroup(0), 0), -1);
}

TEST_F(GroupCombo, SortedGroupsIgnoreCase) {
    std::setlocale(LC_COLLATE, "C.UTF-8");
    const int g = Group(L"Nodes", true);
    for (const wchar_t* c : {L"delta", L"Alpha", L"charlie", L"Bravo"}) Add(c, g);
    EXPECT_EQ(Rows(), L"[Nodes] Alpha Bravo charlie delta");
    // Equal but for case: the new item goes above the existing one.
    const int row = Add(L"BRAVO", g);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(Rows(), L"[Nodes] Alpha BRAVO Bravo charlie delta");
    EXPECT_EQ(m().GetItem(row)->row, 2);
}

TEST_F(GroupCombo, DeletingTheLastItemOfAGroupTakesItsHeader) {
    const int a = Group(L"A"), b = Group(L"B");
    Add(L"a1", a);
    Add(L"b1", b);
    Add(L"b2", b);
    CGroupComboBoxHeader* headerA = m().GetGroup(a);
    m().DeleteItem(1);  // a1, the only item of A
    EXPECT_EQ(Rows(), L"[B] b1 b2");
    m().DeleteItem(2);  // the last row, b2
    EXPECT_EQ(Rows(), L"[B] b1");
    // The same header object comes back.
    Add(L"a2", a);
    EXPECT_EQ(Rows(), L"[A] a2 [B] b1");
    EXPECT_EQ(m().GetItem(0), headerA);
    m().DeleteItem(3);
    EXPECT_EQ(Rows(), L"[A] a2");
    m().DeleteItem(9);   // no such row
    m().DeleteItem(-1);
    EXPECT_EQ(Rows(), L"[A] a2");
    // Reset deletes the items and keeps the groups.
    m().ResetContent();
    EXPECT_EQ(m().GetCount(), 0);
    EXPECT_EQ(m().GroupCount(), 2);
    Add(L"b3", b);
    EXPECT_EQ(Rows(), L"[B] b3");
}

TEST_F(GroupCombo, SelectionFollowsItsRowWhenRowsMove) {
    const int a = Group(L"A"), b = Group(L"B");
    Add(L"b1", b);
    m().SetCurSel(1);
    Add(L"a1", a);  // two rows go in above
    EXPECT_EQ(m().GetCurSel(), 3);
    m().DeleteItem(3);
    EXPECT_EQ(m().GetCurSel(), -1);
}

class GroupComboKeys : public GroupCombo {
protected:
    // [G0] a b [G1] c [G2] d e f g
    void SetUp() override {
        GroupCombo::SetUp();
        const int g0 = Group(L"G0"), g1 = Group(L"G1"), g2 = Group(L"G2");
        Add(L"apple", g0);
        Add(L"banana", g0);
        Add(L"cherry", g1);
        for (const wchar_t* c : {L"date", L"elder", L"fig", L"grape"}) Add(c, g2);
        m().SetMinVisible(4);
    }
};

TEST_F(GroupComboKeys, ArrowsAndPagesStepOverHeaders) {
    const struct {
        const char* name;
        int start, top;
        int key;
        int sel, newTop;
    } cases[] = {
        {"down within a group", 1, 0, kComboKeyDown, 2, 0},
        {"down over a header", 2, 0, kComboKeyDown, 4, 0},
        {"down from nothing", -1, 0, kComboKeyDown, 1, 0},
        {"down on the last row", 9, 0, kComboKeyDown, 9, 0},
        {"up over a header", 4, 0, kComboKeyUp, 2, 0},
        {"up on the first item scrolls the header in", 1, 1, kComboKeyUp, 1, 0},
        {"up within a group", 7, 0, kComboKeyUp, 6, 0},
        {"page down on the last row", 9, 0, kComboKeyPageDown, 9, 0},
        {"page down onto a header", 2, 0, kComboKeyPageDown, 4, 0},
        {"page down onto an item", 4, 0, kComboKeyPageDown, 7, 0},
        {"page up on row 1 scrolls to the top", 1, 2, kComboKeyPageUp, 1, 0},
        {"page up onto a header", 8, 0, kComboKeyPageUp, 6, 5},
        {"page up onto an item", 9, 0, kComboKeyPageUp, 6, 0},
        {"home", 8, 0, kComboKeyHome, 1, 0},
    };
    for (const auto& c : cases) {
        m().SetWindowText(L"");
        m().SetSelAndTopIndex(c.start, c.top);
        EXPECT_TRUE(m().KeyDown(c.key)) << c.name;
        EXPECT_EQ(m().GetCurSel(), c.sel) << c.name;
        EXPECT_FALSE(m().IsHeaderRow(m().GetCurSel())) << c.name;
        EXPECT_EQ(m().GetTopIndex(), c.newTop) << c.name;
    }
    // A move shows the item's caption, wholly selected.
    m().SetCurSel(2);
    m().KeyDown(kComboKeyDown);
    EXPECT_EQ(m().GetWindowText(), L"cherry");
    int s = 0, e = 0;
    m().GetEditSel(s, e);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(e, -1);
}

TEST_F(GroupComboKeys, OpenListKeepsTheSelectionInView) {
    m().DropDown();
    m().SetSelAndTopIndex(1, 0);
    for (int i = 0; i < 5; ++i) m().KeyDown(kComboKeyDown);
    EXPECT_EQ(m().GetCurSel(), 8);  // apple banana cherry date elder fig
    EXPECT_LE(m().GetTopIndex(), 8);
    EXPECT_GT(m().GetTopIndex() + m().GetMinVisible(), 8);
}

TEST_F(GroupComboKeys, TypeAheadKeepsTheTypedPartAndWraps) {
    m().SelectItem(8);  // fig
    m().DropDown();
    EXPECT_EQ(m().GetSavedText(), L"fig");
    // The first letters of the selected item keep it.
    EXPECT_TRUE(m().Char(L'f'));
    EXPECT_TRUE(m().Char(L'I'));
    EXPECT_EQ(m().GetCurSel(), 8);
    EXPECT_EQ(m().GetWindowText(), L"fig");
    int s = 0, e = 0;
    m().GetEditSel(s, e);
    EXPECT_EQ(s, 2);
    EXPECT_EQ(e, -1);
    // A new search wraps from the last rows to the first.
    m().SelectItem(9);  // grape
    EXPECT_TRUE(m().Char(L'b'));
    EXPECT_EQ(m().GetCurSel(), 2);
    EXPECT_EQ(m().GetWindowText(), L"banana");
    EXPECT_FALSE(m().Char(L'q')) << "no caption starts with bq";
    EXPECT_EQ(m().GetCurSel(), 2);
    // Closed, characters do nothing.
    m().CloseUp();
    EXPECT_FALSE(m().Char(L'a'));
}

TEST_F(GroupComboKeys, EscRestoresTheTextOfTheDropDown) {
    m().SelectItem(4);  // cherry
    m().DropDown();
    m().KeyDown(kComboKeyDown);
    m().KeyDown(kComboKeyDown);
    EXPECT_EQ(m().GetWindowText(), L"elder");
    EXPECT_TRUE(m().Char(kComboKeyEscape));
    EXPECT_FALSE(m().IsDropped());
    EXPECT_EQ(m().GetWindowText(), L"cherry");
    EXPECT_EQ(m().GetCurSel(), 4);
    // A saved text that no item has clears the selection.
    m().SetWindowText(L"gone");
    m().DropDown();
    m().SetCurSel(6);
    EXPECT_TRUE(m().Char(kComboKeyEscape));
    EXPECT_EQ(m().GetCurSel(), -1);
    // Without the option Esc is left to the list.
    m().SetEscRestores(false);
    m().DropDown();
    EXPECT_FALSE(m().Char(kComboKeyEscape));
}

TEST_F(GroupComboKeys, HeaderClicksChangeNothing) {
    m().SelectItem(1);
    m().DropDown();
    EXPECT_FALSE(m().ClickRow(3));
    EXPECT_EQ(m().GetCurSel(), 1);
    EXPECT_EQ(m().GetWindowText(), L"apple");
    EXPECT_TRUE(m().ClickRow(4));
    EXPECT_EQ(m().GetWindowText(), L"cherry");
    EXPECT_FALSE(m().ClickRow(42));
}

TEST_F(GroupComboKeys, WindowTextFindsItsItem) {
    m().SetWindowText(L"ELD");
    EXPECT_TRUE(m().KeyDown(kComboKeyDown));
    EXPECT_EQ(m().GetCurSel(), 7);
    EXPECT_EQ(m().GetWindowText(), L"elder");
    EXPECT_EQ(m().FindItemByCaption(7, L"ELDER"), 7) << "wraps round to the start row";
    EXPECT_EQ(m().FindItemByCaption(-1, L"G1"), -1) << "headers are never found";
    EXPECT_EQ(m().FindItemByPrefix(-1, L"applesauce"), -1);
}

TEST(GroupComboDropWidth, OnlyGrowsAndStaysInTheWorkArea) {
    const PixRect work{0, 0, 1280, 1000};
    const struct {
        const char* name;
        PixRect list;
        int widest, rows, visible;
        PixRect want;
    } cases[] = {
        {"wide enough", {100, 50, 200, 300}, 150, 5, 30, {100, 50, 200, 300}},
        {"grows right", {100, 50, 200, 300}, 300, 5, 30, {100, 50, 304, 300}},
        {"with a scroll bar", {100, 50, 200, 300}, 300, 40, 30, {100, 50, 321, 300}},
        {"moves left at the edge", {1100, 50, 150, 300}, 300, 5, 30, {976, 50, 304, 300}},
        {"wider than the screen", {10, 50, 150, 300}, 5000, 5, 30, {0, 50, 1280, 300}},
    };
    for (const auto& c : cases) EXPECT_EQ(AdjustDropRect(c.list, c.widest, c.rows, c.visible, work), c.want) << c.name;
}

}  // namespace
