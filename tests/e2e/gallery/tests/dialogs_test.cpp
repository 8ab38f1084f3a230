// The program's start-up windows in the dialog gallery on the virtual
// display: the login window against the account service's stand-in, the
// loading panel over an owner window, the node, mode and country choosers,
// and every text of them in Simplified Chinese.

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/account_service.h"
#include "tests/support/test_ca.h"

using namespace gallerytest;
using testsupport::AccountServiceStandIn;

namespace {

const Rgb kButtonNormal{226, 232, 242}, kButtonDisabled{214, 214, 214};
const Rgb kHeader{214, 232, 254}, kHighlight{0, 120, 215}, kFaceGrey{100, 100, 100}, kWhite{255, 255, 255};
const Rgb kLatency[6] = {{255, 255, 255}, {50, 255, 56},  {159, 255, 162},
                         {255, 210, 174}, {255, 164, 91}, {255, 134, 74}};
const Rgb kLogoOrange{240, 120, 20};
const Rgb kThemeFocusBlue{53, 132, 228};

// "user" in Chinese, a password with characters that need encoding.
const std::string kChineseUser = "\xE7\x94\xA8\xE6\x88\xB7\xE7\x94\xB2";
const std::string kPassword = "pa ss&1";

// A 24-bit bottom-up bitmap of the build's pictures.
class Bitmap {
public:
    explicit Bitmap(const std::string& name) {
        std::ifstream in(std::string(GALLERY_PROGRAM_DIR) + "/res/bitmap/" + name, std::ios::binary);
        data_.assign(std::istreambuf_iterator<char>(in), {});
        if (data_.size() < 54) return;
        auto u32 = [this](size_t at) {
            return static_cast<unsigned char>(data_[at]) | static_cast<unsigned char>(data_[at + 1]) << 8 |
                   static_cast<unsigned char>(data_[at + 2]) << 16 |
                   static_cast<unsigned>(static_cast<unsigned char>(data_[at + 3])) << 24;
        };
        offset_ = u32(10);
        w_ = static_cast<int>(u32(18));
        h_ = static_cast<int>(u32(22));
    }
    Rgb At(int x, int y) const {
        if (x < 0 || y < 0 || x >= w_ || y >= h_) return {-1, -1, -1};
        const size_t stride = (static_cast<size_t>(w_) * 3 + 3) & ~size_t{3};
        const size_t at = offset_ + static_cast<size_t>(h_ - 1 - y) * stride + static_cast<size_t>(x) * 3;
        return {static_cast<unsigned char>(data_[at + 2]), static_cast<unsigned char>(data_[at + 1]),
                static_cast<unsigned char>(data_[at])};
    }
    int width() const { return w_; }

private:
    std::string data_;
    size_t offset_ = 0;
    int w_ = 0, h_ = 0;
};

// Chinese as the program's language.
const char* kChineseLanguage = "[basic]\nselected=1\nlang1=Chinese,2052\n";

class LoginWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ca.WriteCertificate(caFile.path() / "ca.pem");
        service.SetAccount(kChineseUser, kPassword);
    }
    std::map<std::string, std::string> Files(const std::string& settings = "") {
        std::map<std::string, std::string> files = {
            {"config/services.ini", "[basic]\naccount_url=" + service.BaseUrl() + "\nca_file=" +
                                        (caFile.path() / "ca.pem").string() + "\naccount_timeout=20\n"}};
        if (!settings.empty()) files["config/config.ini"] = "[basic]\n" + settings;
        return files;
    }
    std::string Remembered(bool autologin) { return testsupport::RememberedLogin(kChineseUser, kPassword, autologin); }
    // Holds the login reply until Release (or 30 s).
    void HoldLogin() {
        service.Override("login", [this](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
            std::unique_lock<std::mutex> lock(m);
            arrived = true;
            cv.notify_all();
            cv.wait_for(lock, std::chrono::seconds(30), [this] { return released; });
            answered = true;
            r.body = R"({"errcode":1,"errmsg":"late"})";
        });
    }
    bool WaitArrived() {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(20), [this] { return arrived; });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m);
            released = true;
        }
        cv.notify_all();
    }
    void TearDown() override { Release(); }

    testsupport::TempDir caFile{"cendrow-gallery-ca"};
    testsupport::TestCertificateAuthority ca;
    AccountServiceStandIn service{ca.Issue({"127.0.0.1"})};
    std::mutex m;
    std::condition_variable cv;
    bool arrived = false, released = false, answered = false;
};

bool Type(const std::string& text) {
    return Xdo({"type", "--delay", "60", text});
}

// The value of `word=` in a state line ("" when absent); it may hold
// spaces and ends where the next " name=" begins.
std::string StateWord(const std::string& state, const std::string& word) {
    const std::string line = " " + state + " ";
    const size_t at = line.find(" " + word + "=");
    if (at == std::string::npos) return {};
    const size_t from = at + word.size() + 2;
    size_t end = from;
    for (; end + 1 < line.size(); ++end) {
        if (line[end] != ' ') continue;
        size_t name = end + 1;
        while (name < line.size() && line[name] >= 'a' && line[name] <= 'z') ++name;
        if (name > end + 1 && name < line.size() && line[name] == '=') break;
    }
    return line.substr(from, end - from);
}

// Clicks into a field, waits for its focus and types `text` a character at
// a time until the field holds it: xdotool maps a character missing from
// the keyboard map onto a spare key first, and a busy display may still read
// that key with the map of the character before, so a wrong character is
// taken back and typed again.
bool TypeInto(Gallery& g, const std::string& id, const std::string& text, const std::string& stateWord) {
    const Rect r = g.rect(id);
    Xdo({"mousemove", std::to_string(r.cx()), std::to_string(r.cy()), "click", "1"});
    if (!WaitFor([&] { return g.StateHas("focus", "id=" + id); })) return false;
    Xdo({"key", "ctrl+a", "BackSpace"});
    if (!WaitFor([&] { return StateWord(g.State("login"), stateWord).empty(); })) return false;
    std::string typed;
    for (size_t i = 0; i < text.size();) {
        size_t len = 1;
        while (i + len < text.size() && (static_cast<unsigned char>(text[i + len]) & 0xC0) == 0x80) ++len;
        const std::string ch = text.substr(i, len);
        bool done = false;
        for (int attempt = 0; attempt < 5 && !done; ++attempt) {
            if (!Type(ch)) return false;
            WaitFor([&] { return StateWord(g.State("login"), stateWord).size() > typed.size(); }, std::chrono::seconds(2));
            const std::string now = StateWord(g.State("login"), stateWord);
            done = now == typed + ch;
            if (!done && now.size() > typed.size()) Xdo({"key", "BackSpace"});
            if (!done) WaitFor([&] { return StateWord(g.State("login"), stateWord) == typed; }, std::chrono::seconds(2));
        }
        if (!done) return false;
        typed += ch;
        i += len;
    }
    return StateWord(g.State("login"), stateWord) == text;
}

TEST_F(LoginWindow, TypedChineseUserNameAndPasswordLogIn) {
    REQUIRE_DISPLAY();
    Gallery g({"login"}, Files(), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    EXPECT_TRUE(g.StateHas("login", "recharge=0"));
    EXPECT_NE(g.State("links").find("register=" + service.BaseUrl() + "//auth/aff"), std::string::npos);
    ASSERT_TRUE(TypeInto(g, "1111", kChineseUser, "user")) << g.State("login");
    // One border, the skin's: no focus ring of the theme (its blue) inside it.
    EXPECT_EQ(TakeScreenshot().Count(g.rect("1111"), kThemeFocusBlue, 40), 0);
    ASSERT_TRUE(TypeInto(g, "1118", kPassword, "password")) << g.State("login");
    Xdo({"key", "Return"});
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("login", "result=1"); }, std::chrono::seconds(20)))
        << g.State("login");
    const auto posts = service.Posts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts[0].FormField("email"), kChineseUser);
    EXPECT_EQ(posts[0].FormField("password"), kPassword);
    EXPECT_NE(posts[0].body.find("email=%E7%94%A8%E6%88%B7%E7%94%B2&"), std::string::npos) << posts[0].body;
    EXPECT_TRUE(service.Problems().empty());
}

TEST_F(LoginWindow, HeldReplyDisablesTheButtonAndEscEndsTheDialogFirst) {
    REQUIRE_DISPLAY();
    HoldLogin();
    Gallery g({"login"}, Files(Remembered(false)), DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const Rect button = g.rect("1");
    EXPECT_GT(TakeScreenshot().Count({button.x + 4, button.y + 4, 20, 6}, kButtonNormal, 6), 100);
    Xdo({"mousemove", std::to_string(button.cx()), std::to_string(button.cy()), "click", "1"});
    ASSERT_TRUE(WaitArrived());
    MoveTo(1270, 1010);
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("login", "ok=0"); }));
    EXPECT_TRUE(WaitFor([&] {
        return TakeScreenshot().Count({button.x + 4, button.y + 4, 20, 6}, kButtonDisabled, 4) > 100;
    })) << "the disabled row";
    // No window manager: keys go to the window under the pointer.
    MoveTo(g.rect("1071").cx(), g.rect("1071").cy());
    Xdo({"key", "Escape"});
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("login", "result=2"); }, std::chrono::seconds(10)))
        << g.State("login");
    std::lock_guard<std::mutex> lock(m);
    EXPECT_FALSE(answered) << "the dialog waited for the service";
}

TEST_F(LoginWindow, WrongPasswordEmptyUserAndAutomaticLogin) {
    REQUIRE_DISPLAY();
    {
        // A wrong password: the service's text in the status line, inputs back.
        service.SetAccount(kChineseUser, "other");
        Gallery g({"login"}, Files(Remembered(false)), DIALOG_GALLERY_EXE);
        g.Command("act login.ok");
        ASSERT_TRUE(WaitFor(
            [&] {
                return g.State("login").find("status=Login failed: Wrong e-mail or password.") !=
                       std::string::npos;
            },
            std::chrono::seconds(20)))
            << g.State("login");
        EXPECT_TRUE(g.StateHas("login", "inputs=1"));
        EXPECT_TRUE(g.StateHas("login", "ok=1"));
        EXPECT_TRUE(g.StateHas("login", "result=0"));
    }
    {
        // No user name: its box; the typed password stays.
        const size_t postsBefore = service.Posts().size();
        Gallery g({"login"}, Files(), DIALOG_GALLERY_EXE);
        ASSERT_TRUE(TypeInto(g, "1118", "secret", "password")) << g.State("login");
        Xdo({"key", "Return"});
        ASSERT_TRUE(WaitFor([&] { return g.StateHas("boxes", "count=1"); }));
        EXPECT_NE(g.State("boxes").find("text=Input username please!"), std::string::npos);
        EXPECT_TRUE(g.StateHas("login", "password=secret"));
        EXPECT_TRUE(g.StateHas("login", "result=0"));
        EXPECT_EQ(service.Posts().size(), postsBefore) << "no request";
    }
    {
        // Automatic login: closes with no input.
        service.SetAccount(kChineseUser, kPassword);
        Gallery g({"login"}, Files(Remembered(true)), DIALOG_GALLERY_EXE);
        ASSERT_TRUE(WaitFor([&] { return g.StateHas("login", "result=1"); }, std::chrono::seconds(20)))
            << g.State("login");
    }
}

// ---------------------------------------------------------------------------

int StateNumber(const std::string& state, const std::string& key) {
    const size_t at = (" " + state).find(" " + key + "=");
    return at == std::string::npos ? -1 : std::atoi(state.c_str() + at + key.size() + 1);
}

TEST(LoadingPanel, HidesTheOwnersControlsPlaysAndComesBack) {
    REQUIRE_DISPLAY();
    Gallery g({"loading"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const int threadsBefore = StateNumber(g.State("panel"), "threads");
    g.Command("act loading.start");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("panel", "playing=1"); })) << g.State("panel");
    const std::string during = g.State("panel");
    for (const char* word :
         {"shown=1", "working=1", "still=1", "button=0", "label=0", "hiddenbefore=0", "hidden=2"})
        EXPECT_TRUE(g.StateHas("panel", word)) << word << ": " << during;
    g.RefreshRects();
    const Rect still = g.rect("1021"), anim = g.rect("1129"), panel = g.rect("panel");
    EXPECT_EQ(still.w, 128);
    EXPECT_EQ(still.h, 128);
    // Picture 137 in its square: the orange core in the middle, the card's blue at a corner.
    const Screenshot a = TakeScreenshot();
    EXPECT_TRUE(Near(a.At(still.cx(), still.cy()), kLogoOrange, 12))
        << ToString(a.At(still.cx(), still.cy()));
    EXPECT_TRUE(Near(a.At(still.x + 2, still.y + 2), Rgb{60, 110, 200}, 12))
        << ToString(a.At(still.x + 2, still.y + 2));
    // The GIF plays: two shots differ, and only inside it.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const Screenshot b = TakeScreenshot();
    int inside = 0, outside = 0;
    for (const auto& [x, y] : a.Differences(b, 8)) {
        if (!panel.Contains(x, y)) continue;
        (anim.Contains(x, y) ? inside : outside)++;
    }
    EXPECT_GT(inside, 0);
    EXPECT_EQ(outside, 0);

    g.Command("act loading.release");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("panel", "shown=0"); })) << g.State("panel");
    for (const char* word :
         {"working=0", "anim=0", "still=0", "button=1", "label=1", "hiddenbefore=0", "done=1"})
        EXPECT_TRUE(g.StateHas("panel", word)) << word << ": " << g.State("panel");
    EXPECT_NE(g.State("panel").find("message=Loading proxy mode rules..."), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return StateNumber(g.State("panel"), "threads") <= threadsBefore; }))
        << "threads left: " << g.State("panel") << " before: " << threadsBefore;
}

TEST(LoadingPanel, DestroyedMidJobLeavesNoThread) {
    REQUIRE_DISPLAY();
    Gallery g({"loading"}, {}, DIALOG_GALLERY_EXE);
    const int threadsBefore = StateNumber(g.State("panel"), "threads");
    g.Command("act loading.start");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("panel", "working=1"); }));
    g.Command("act loading.destroy");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("panel", "exists=0"); }));
    EXPECT_TRUE(WaitFor([&] { return StateNumber(g.State("panel"), "threads") <= threadsBefore; }))
        << g.State("panel") << " before: " << threadsBefore;
    // The gallery's clean exit (checked when it quits) includes ASan's leak check.
}

// ---------------------------------------------------------------------------

// The pixel of an icon cell drawn at x = 4 and y = top + 1 of a 20-pixel row.
Rgb IconPixel(const Screenshot& s, const Rect& row, int x, int y) {
    return s.At(row.x + 4 + x, row.y + 1 + y);
}

// Opens a chooser's list, waits until row `lastRow` is laid out, and shoots
// the display with the pointer away from every row.
Screenshot OpenList(Gallery& g, const std::string& name, size_t lastRow) {
    g.Command("act " + name + ".open");
    EXPECT_TRUE(WaitFor([&] {
        g.RefreshRects();
        return g.rect(name + ".row" + std::to_string(lastRow)).h > 0;
    })) << name;
    MoveTo(1270, 1010);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return TakeScreenshot();
}

TEST(Choosers, NodeListColoursFlagsAndSelection) {
    REQUIRE_DISPLAY();
    Gallery g({"choosers"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_NE(g.State("nodes").find("rows=9 sel=2 face=[SR] Default Group -> b.example:8388"),
              std::string::npos)
        << g.State("nodes");
    const Screenshot s = OpenList(g, "nodes", 8);
    const Bitmap flags("139.bmp");
    // Rows: header, a (0 ms), b (selected), header, c, d, header, e, f.
    const int nodeRows[6] = {1, 2, 4, 5, 7, 8};
    for (int header : {0, 3, 6}) {
        const Rect r = g.rect("nodes.row" + std::to_string(header));
        EXPECT_TRUE(Near(s.At(r.x + 6, r.cy()), kHeader, 4)) << "header row " << header;
    }
    for (int n = 0; n < 6; ++n) {
        const Rect r = g.rect("nodes.row" + std::to_string(nodeRows[n]));
        EXPECT_TRUE(Near(s.At(r.x + r.w - 3, r.y + 2), kLatency[n], 4))
            << "latency cell of node " << n << ": " << ToString(s.At(r.x + r.w - 3, r.y + 2));
        // Flag n at x 4-19.
        for (const auto& [x, y] : {std::pair{3, 4}, std::pair{8, 7}, std::pair{12, 10}})
            EXPECT_TRUE(Near(IconPixel(s, r, x, y), flags.At(n * 16 + x, y), 6))
                << "flag " << n << " at " << x << "," << y;
        const Rgb text = s.At(r.x + 34, r.y + 2);
        if (n == 1)
            EXPECT_TRUE(Near(text, kHighlight, 4)) << "the selected row: " << ToString(text);
        else
            EXPECT_TRUE(Near(text, kWhite, 4)) << "row " << n << ": " << ToString(text);
    }
    g.Command("act nodes.close");
}

TEST(Choosers, ModeIconsAndCountryFlags) {
    REQUIRE_DISPLAY();
    Gallery g({"choosers"}, {}, DIALOG_GALLERY_EXE);
    const Bitmap modeIcons("156.bmp"), flags("139.bmp");
    // The built-in modes, then one of each type 0 to 4, as the chooser lists them.
    std::vector<int> types;
    {
        const std::string state = g.State("modes");
        std::istringstream in(state.substr(state.find("types=") + 6));
        for (std::string t; std::getline(in, t, ',');) types.push_back(std::atoi(t.c_str()));
    }
    ASSERT_GE(types.size(), 5u);
    for (int t = 0; t < 5; ++t)
        EXPECT_NE(std::find(types.begin(), types.end(), t), types.end()) << "type " << t;
    Screenshot s = OpenList(g, "modes", types.size() - 1);
    for (size_t row = 0; row < types.size(); ++row) {
        const Rect r = g.rect("modes.row" + std::to_string(row));
        for (const auto& [x, y] : {std::pair{3, 7}, std::pair{7, 7}, std::pair{6, 5}})
            EXPECT_TRUE(Near(IconPixel(s, r, x, y), modeIcons.At(types[row] * 16 + x, y), 6))
                << "mode row " << row << " at " << x << "," << y << ": " << ToString(IconPixel(s, r, x, y));
    }
    // The selection bar covers the whole row, the icon's margin too.
    const Rect first = g.rect("modes.row0");
    EXPECT_TRUE(Near(s.At(first.x + 1, first.y + 2), kFaceGrey, 4))
        << ToString(s.At(first.x + 1, first.y + 2));
    g.Command("act modes.close");
    s = OpenList(g, "countries", 11);
    for (int n = 0; n < 12; ++n) {
        const Rect r = g.rect("countries.row" + std::to_string(n));
        for (const auto& [x, y] : {std::pair{3, 4}, std::pair{8, 7}, std::pair{12, 10}})
            EXPECT_TRUE(Near(IconPixel(s, r, x, y), flags.At(n * 16 + x, y), 6))
                << "country row " << n << " at " << x << "," << y;
    }
    g.Command("act countries.close");
}

// ---------------------------------------------------------------------------

TEST(DialogsInChinese, EveryTextHasItsGlyphs) {
    REQUIRE_DISPLAY();
    Gallery g({"login", "loading", "choosers"}, {{"config/language.ini", kChineseLanguage}},
              DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    g.Command("act loading.start");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("panel", "playing=1"); }));
    for (const char* scene : {"login", "loading", "choosers"}) {
        const std::string state = g.State(std::string(scene) + ".glyphs");
        EXPECT_TRUE(g.StateHas(std::string(scene) + ".glyphs", "unknown=0")) << scene << ": " << state;
        EXPECT_GE(StateNumber(state, "texts"), 2) << scene;
    }
    // The texts are Chinese: "Log in" is translated.
    EXPECT_NE(g.State("login").find("status=\xE5\xB0\xB1\xE7\xBB\xAA"), std::string::npos)
        << g.State("login");
    EXPECT_NE(g.State("nodes").find("\xE9\xBB\x98\xE8\xAE\xA4\xE5\x88\x86\xE7\xBB\x84"), std::string::npos)
        << "the default group's caption: " << g.State("nodes");
    g.Command("act loading.release");
}

}  // namespace
