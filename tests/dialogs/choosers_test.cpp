// The node and mode choosers without their windows: captions and face
// texts, latency classes, the fill's selection rule and the saved mode.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dialogs/base/node_row_item.h"
#include "dialogs/base/node_rows.h"
#include "foundation/app_paths.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"
#include "tests/support/temp_dir.h"

namespace {

class ChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir.path() / "cendrow");
        CreateAppFolders();
        CNodeMgr::ReleaseInstance();
    }
    void TearDown() override { CNodeMgr::ReleaseInstance(); }

    CNodeInfo* Add(const std::string& host, int port, const std::string& remarks = "",
                   const std::string& group = "", int type = NodeTypeSocks5) {
        NodeParams p;
        p.type = type;
        p.host = host;
        p.port = static_cast<uint16_t>(port);
        p.remarks = remarks;
        p.group = group;
        p.method = "aes-256-gcm";  // a Shadowsocks node needs a known cipher
        return CNodeMgr::GetInstance()->AddNode(p);
    }
    int Fill(GroupComboModel& model, int id) {
        return FillNodeRows(model, id, [](const std::wstring& caption, int icon, CNodeInfo* node) {
            return new CProxyListGroupComboBoxItemWithIcon(caption, icon, nullptr, node);
        });
    }
    std::vector<std::string> Rows(const GroupComboModel& model) {
        std::vector<std::string> out;
        for (int r = 0; r < model.GetCount(); ++r)
            out.push_back((model.IsHeaderRow(r) ? "# " : "") + WideToUtf8String(model.GetItem(r)->caption()));
        return out;
    }

    testsupport::TempDir dir{"cendrow-choosers"};
};

TEST_F(ChooserTest, CaptionsAndFaceTexts) {
    struct Case {
        const char* name;
        std::string host, remarks, group;
        int type;
        bool hide;
        std::string caption, face;
    } cases[] = {
        {"remarks", "h.example", "Tokyo 1", "Gold", NodeTypeSSR, false, "[SR] Tokyo 1",
         "[SR] Gold -> Tokyo 1"},
        {"address", "h.example", "", "Gold", NodeTypeHttp, false, "[HTTP] h.example:8080",
         "[HTTP] Gold -> h.example:8080"},
        {"hidden address", "h.example", "", "Gold", NodeTypeSocks5, true, "[-] -:-", "[-] -:-"},
        {"hidden, remarks shown", "h.example", "R", "", NodeTypeSocks5, true, "[S5] R",
         "[S5] Default Group -> R"},
        {"default group", "h.example", "", "", NodeTypeSocks4, false, "[S4] h.example:8080",
         "[S4] Default Group -> h.example:8080"},
    };
    for (const Case& c : cases) {
        CNodeInfo* node = Add(c.host, 8080, c.remarks, c.group, c.type);
        ASSERT_NE(node, nullptr) << c.name;
        EXPECT_EQ(NodeListCaption(*node, c.hide), c.caption) << c.name;
        EXPECT_EQ(NodeFaceText(*node, c.hide), c.face) << c.name;
    }
}

TEST_F(ChooserTest, LongTextsAreCutOnACharacterBoundary) {
    // A 4-byte character across the limit goes whole.
    const std::string emoji = "\xF0\x9F\x98\x80";
    const std::string remarks = std::string(999 - 5 - 2, 'a') + emoji + "tail";  // "[S5] " is 5 bytes
    CNodeInfo* node = Add("h", 1, remarks);
    const std::string caption = NodeListCaption(*node, false);
    EXPECT_EQ(caption.size(), 997u);
    EXPECT_EQ(caption.back(), 'a');
    // A group of 120 two-byte characters: the prefix keeps 49 of them ("é" twice
    // is 4 bytes; 99 bytes end inside the 50th), then " -> " is cut off too.
    std::string group;
    for (int i = 0; i < 120; ++i) group += "\xC3\xA9";
    CNodeInfo* grouped = Add("h", 1, "r", group);
    const std::string face = NodeFaceText(*grouped, false);
    std::string expected = "[S5] ";
    for (int i = 0; i < 49; ++i) expected += "\xC3\xA9";
    EXPECT_EQ(face, expected + "r");

    struct Cut {
        std::string in;
        size_t max;
        std::string out;
    } cuts[] = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc"},
        {"a" + emoji, 4, "a"},
        {"a" + emoji, 5, "a" + emoji},
        {emoji + emoji, 7, emoji},
        {"\xC3\xA9\xC3\xA9", 3, "\xC3\xA9"},
        {"", 0, ""},
    };
    for (const Cut& c : cuts) {
        std::string s = c.in;
        CutUtf8(s, c.max);
        EXPECT_EQ(s, c.out) << c.in << " " << c.max;
    }
}

TEST_F(ChooserTest, LatencyClassesAtEveryBoundary) {
    struct Case {
        int ms, cls;
        COLORREF colour;
    } cases[] = {
        {-5, 0, RGB(255, 255, 255)},  {0, 0, RGB(255, 255, 255)},   {1, 5, RGB(50, 255, 56)},
        {100, 5, RGB(50, 255, 56)},   {101, 4, RGB(159, 255, 162)}, {200, 4, RGB(159, 255, 162)},
        {201, 3, RGB(255, 210, 174)}, {300, 3, RGB(255, 210, 174)}, {301, 2, RGB(255, 164, 91)},
        {400, 2, RGB(255, 164, 91)},  {401, 1, RGB(255, 134, 74)},  {100000, 1, RGB(255, 134, 74)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LatencyToClass(c.ms), c.cls) << c.ms;
        EXPECT_EQ(LatencyToColor(c.ms), c.colour) << c.ms;
    }
    for (int cls : {-1, 0, 6, 99}) EXPECT_EQ(LatencyClassToColor(cls), RGB(255, 255, 255)) << cls;
    // The stored figure is unsigned; the cell reads it as int.
    CNodeInfo* node = Add("h", 1);
    node->latency = 0;
    EXPECT_EQ(LatencyText(*node), "0 ms");
    node->latency = 0xFFFFFFFFu;
    EXPECT_EQ(LatencyText(*node), "-1 ms");
}

TEST_F(ChooserTest, FillGroupsAndSelects) {
    CNodeInfo* a = Add("a", 1, "", "");
    CNodeInfo* b = Add("b", 2, "", "Gold");
    CNodeInfo* c = Add("c", 3, "", "default group");  // the default header's caption apart from case
    CNodeInfo* d = Add("d", 4, "", "Gold");
    ASSERT_TRUE(a && b && c && d);
    GroupComboModel model;
    struct Case {
        const char* name;
        int id;
        int current;  // -1: none
        int selectedId;
    } cases[] = {
        {"-1 means id 0", -1, -1, a->id},
        {"a known id", d->id, -1, d->id},
        {"unknown id, no current node", 999, -1, -1},
        {"unknown id, current node", 999, b->id, b->id},
    };
    ASSERT_EQ(a->id, 0);
    for (const Case& cs : cases) {
        // The list has no way back to "no current node": the cases run in this order.
        if (cs.current >= 0)
            CNodeMgr::GetInstance()->SelectNode(CNodeMgr::GetInstance()->FindNode(cs.current));
        ASSERT_EQ(CNodeMgr::GetInstance()->GetCurrentNodeId(), cs.current) << cs.name;
        const int row = Fill(model, cs.id);
        const CNodeInfo* chosen = NodeAtRow(model, model.GetCurSel());
        EXPECT_EQ(chosen ? chosen->id : -1, cs.selectedId) << cs.name;
        EXPECT_EQ(row, model.GetCurSel()) << cs.name;
        EXPECT_EQ(Rows(model), (std::vector<std::string>{"# Default Group", "[S5] a:1", "[S5] c:3", "# Gold",
                                                         "[S5] b:2", "[S5] d:4"}))
            << cs.name;
    }
    EXPECT_EQ(NodeAtRow(model, 0), nullptr) << "a header holds no node";
    EXPECT_EQ(NodeAtRow(model, 99), nullptr);
    EXPECT_EQ(FaceTextOfRow(model, 3, false), "Gold") << "a header's face is its caption";
    EXPECT_EQ(FaceTextOfRow(model, 4, false), "[S5] Gold -> b:2");

    // A refill after the first group's nodes are gone keeps the headers' order.
    CNodeMgr::GetInstance()->RemoveNode(a->id);
    CNodeMgr::GetInstance()->RemoveNode(c->id);
    Add("e", 5, "", "");
    Fill(model, -1);
    EXPECT_EQ(Rows(model),
              (std::vector<std::string>{"# Default Group", "[S5] e:5", "# Gold", "[S5] b:2", "[S5] d:4"}));
    // An empty list leaves no rows.
    CNodeMgr::ReleaseInstance();
    EXPECT_EQ(Fill(model, -1), -1);
    EXPECT_EQ(model.GetCount(), 0);
}

TEST_F(ChooserTest, HostsAreTrimmedWhenFilled) {
    Add("  spaced.example  ", 1);
    GroupComboModel model;
    Fill(model, -1);
    EXPECT_EQ(Rows(model).back(), "[S5] spaced.example:1");
}

TEST_F(ChooserTest, SavedModeOutsideTheListSelectsTheFirstAndIsSaved) {
    struct Case {
        int saved, count, expected;
        bool rewritten;
    } cases[] = {{7, 5, 0, true}, {-1, 5, 0, true}, {5, 5, 0, true}, {4, 5, 4, false}, {0, 5, 0, false}};
    for (const Case& c : cases) {
        std::filesystem::remove(GetSettingsFilePath());
        GetSettings()->last_proxymode_index = c.saved;
        EXPECT_EQ(ResolveSavedModeIndex(c.count), c.expected) << c.saved;
        EXPECT_EQ(std::filesystem::exists(GetSettingsFilePath()), c.rewritten) << c.saved;
        if (c.rewritten) {
            std::ifstream in(GetSettingsFilePath());
            std::stringstream s;
            s << in.rdbuf();
            EXPECT_NE(s.str().find("last_proxymode_index=0"), std::string::npos);
        }
    }
}

}  // namespace
