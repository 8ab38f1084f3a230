// The node dialogs, the link popup, the batch dialog and the subscription
// dialog in the dialog gallery on the virtual display: typed input saved or
// refused, Show password on the same field, the busy picture during a slow
// country lookup, the popup's place, the row buttons following the list's
// selection, and the Chinese texts.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/e2e/gallery/tests/gallery_driver.h"
#include "tests/support/http_server.h"

using namespace gallerytest;

namespace {

const Rgb kButtonNormal{226, 232, 242}, kButtonDisabled{214, 214, 214}, kWhite{255, 255, 255};
const char* kChineseLanguage = "[basic]\nselected=1\nlang1=Chinese,2052\n";

bool Click(const Rect& r) {
    return Xdo({"mousemove", std::to_string(r.cx()), std::to_string(r.cy()), "click", "1"});
}

// Clicks into the field and types the text until the state shows it.
bool TypeInto(Gallery& g, const std::string& id, const std::string& text) {
    Click(g.rect(id));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Xdo({"key", "ctrl+a", "BackSpace"});
    return Xdo({"type", "--delay", "40", text});
}

std::string BoxText(Gallery& g) {
    const std::string s = g.State("boxes");
    const size_t at = s.find("text=");
    return at == std::string::npos ? std::string() : s.substr(at + 5);
}

std::string Services(const std::string& geoBase, int timeoutSeconds = 20) {
    return "[basic]\ngeo_json_c_url=" + geoBase + "\ngeo_timeout=" + std::to_string(timeoutSeconds) + "\n";
}

TEST(NodeDialogs, TypedSocksNodeIsSavedAndBadPortsArePrompted) {
    REQUIRE_DISPLAY();
    Gallery g({"socks_dialog"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(TypeInto(g, "1114", "10.0.0.7"));
    ASSERT_TRUE(TypeInto(g, "1005", "u1"));
    ASSERT_TRUE(TypeInto(g, "1125", "p1"));
    struct Case {
        const char* port;
        const char* box;
    } cases[] = {{"70000", "Enter an integer between 0 and 65535."}, {"8o", "Enter an integer."}};
    int boxes = 0;
    for (const Case& c : cases) {
        ASSERT_TRUE(TypeInto(g, "1120", c.port));
        Click(g.rect("1"));
        ++boxes;
        ASSERT_TRUE(WaitFor([&] { return g.StateHas("boxes", "count=" + std::to_string(boxes)); }))
            << g.State("boxes");
        EXPECT_EQ(BoxText(g), c.box);
        EXPECT_TRUE(g.StateHas("socks", "result=0")) << g.State("socks");
    }
    ASSERT_TRUE(TypeInto(g, "1120", "1080"));
    Click(g.rect("1"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("socks", "result=1"); })) << g.State("socks") << g.State("boxes");
    EXPECT_NE(g.State("socks").find(" record=5|10.0.0.7|1080|u1|p1||Default Group|"), std::string::npos) << g.State("socks");
}

TEST(NodeDialogs, ShowPasswordChangesOnlyThePasswordField) {
    REQUIRE_DISPLAY();
    Gallery g({"socks_dialog"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(TypeInto(g, "1125", "secret7"));
    MoveTo(5, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Screenshot hidden = TakeScreenshot();
    Click(g.rect("1159"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("socks", "plain=1"); })) << g.State("socks");
    MoveTo(5, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Screenshot plain = TakeScreenshot();
    const Rect field = g.rect("1125"), box = g.rect("1159");
    int inField = 0;
    for (auto [x, y] : hidden.Differences(plain, 8)) {
        if (field.Contains(x, y)) {
            ++inField;
        } else {
            EXPECT_TRUE(box.Contains(x, y)) << "changed at " << x << "," << y;
        }
    }
    EXPECT_GT(inField, 20);
}

// A slow geolocation service: the busy picture plays in its place, the
// country of the answer is selected, and the spot is white afterwards.
TEST(NodeDialogs, BusyPicturePlaysDuringASlowLookup) {
    REQUIRE_DISPLAY();
    testsupport::HttpTestServer geo;
    geo.Handle("GET", "/service/getIpInfo.php", [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        r.delay = std::chrono::milliseconds(4000);
        r.body = R"({"code":0,"data":{"country_id":"JP","country":"Japan","region":"Tokyo"}})";
    });
    Gallery g({"socks_dialog"}, {{"config/services.ini", Services(geo.Url(""))}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(TypeInto(g, "1114", "127.0.0.1"));
    g.Command("act socks.geo");
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("socks", "busy=1"); })) << g.State("socks");
    g.RefreshRects();
    const Rect busy = g.rect("1065");
    ASSERT_GT(busy.w, 0);
    // Shots apart show different frames inside the picture's rectangle; a
    // loaded machine may leave one frame up longer, so a few pairs are tried.
    const Screenshot a = TakeScreenshot();
    int changed = 0;
    for (int round = 0; round < 10 && changed == 0; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Screenshot b = TakeScreenshot();
        for (auto [x, y] : a.Differences(b, 8)) {
            if (busy.Contains(x, y)) ++changed;
        }
    }
    EXPECT_GT(changed, 0) << "the picture does not play";
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("socks", "idle=1"); }, std::chrono::seconds(10)));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("socks", "busy=0"); })) << g.State("socks");
    EXPECT_FALSE(g.StateHas("socks", "country=-1")) << g.State("socks");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(TakeScreenshot().Count(busy, kWhite, 4), busy.w * busy.h);
    ASSERT_EQ(geo.RequestCount(), 1u);
    EXPECT_EQ(geo.Requests()[0].query, "ip=127.0.0.1");
}

// Answers that select nothing (404, an empty body, a service that stays
// silent until the request gives up) leave the selection; an unknown code
// clears it.
TEST(NodeDialogs, LookupAnswersThatChangeNothing) {
    REQUIRE_DISPLAY();
    testsupport::HttpTestServer geo;
    std::atomic<int> mode{0};
    geo.Handle("GET", "/service/getIpInfo.php", [&mode](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        switch (mode.load()) {
            case 0: r.body = R"({"code":0,"data":{"country_id":"JP"}})"; break;
            case 1: r.status = 404; break;
            case 2: r.body = ""; break;
            case 4: r.mode = testsupport::HttpResponse::Mode::kSilent; break;
            default: r.body = R"({"code":0,"data":{"country_id":"ZZ"}})"; break;
        }
    });
    // A short time-out, so that the silent service's lookup ends well inside the wait.
    Gallery g({"socks_dialog"}, {{"config/services.ini", Services(geo.Url(""), 2)}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(TypeInto(g, "1114", "127.0.0.1"));
    auto lookup = [&](int m) {
        mode = m;
        const size_t before = geo.RequestCount();
        g.Command("act socks.geo");
        EXPECT_TRUE(WaitFor([&] { return geo.RequestCount() > before && g.StateHas("socks", "idle=1") &&
                                         g.StateHas("socks", "busy=0"); }));
    };
    lookup(0);
    const std::string selected = g.State("socks");
    ASSERT_EQ(selected.find("country=-1"), std::string::npos) << selected;
    const std::string country = selected.substr(selected.find("country="), selected.find(' ', selected.find("country=")) - selected.find("country="));
    for (int m : {1, 2, 4}) {
        lookup(m);
        EXPECT_TRUE(g.StateHas("socks", country)) << m << ": " << g.State("socks");
    }
    lookup(3);
    EXPECT_TRUE(g.StateHas("socks", "country=-1")) << g.State("socks");
}

// Closing the dialog while the service keeps silent ends the request at once.
TEST(NodeDialogs, ClosingDuringASilentLookupAbortsAndJoins) {
    REQUIRE_DISPLAY();
    testsupport::HttpTestServer geo;
    geo.Handle("GET", "/service/getIpInfo.php", [](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        r.mode = testsupport::HttpResponse::Mode::kSilent;
    });
    Gallery g({"socks_dialog"}, {{"config/services.ini", Services(geo.Url(""))}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(TypeInto(g, "1114", "127.0.0.1"));
    g.Command("act socks.geo");
    ASSERT_TRUE(WaitFor([&] { return geo.RequestCount() == 1; }));
    const auto start = std::chrono::steady_clock::now();
    g.Command("act socks.close");
    // The gallery answers again once the dialog is gone (the join is over).
    EXPECT_TRUE(g.StateHas("alive", "yes"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(NodeDialogs, LinkPopupOpensAtTheButtonAndFillsTheForm) {
    REQUIRE_DISPLAY();
    Gallery g({"ssr_dialog"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const Rect button = g.rect("1017");
    Click(button);
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("popup", "shown=1"); }));
    g.RefreshRects();
    const Rect popup = g.rect("popup");
    EXPECT_EQ(popup.x, button.x + button.w);
    EXPECT_EQ(popup.y, button.y + button.h);
    Click(g.rect("popup.edit"));
    Xdo({"type", "--delay", "20", "ssr://1.2.3.4:443:auth_sha1_v4:rc4-md5:http_simple:eA/?udpport=53"});
    Xdo({"key", "Return"});
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("popup", "shown=0"); })) << g.State("boxes");
    EXPECT_TRUE(g.StateHas("ssr.form", "port=443")) << g.State("ssr.form");
    EXPECT_TRUE(g.StateHas("ssr", "server=1.2.3.4")) << g.State("ssr");
    EXPECT_FALSE(g.StateHas("ssr.form", "cipher=-1")) << g.State("ssr.form");
    EXPECT_TRUE(g.StateHas("ssr.form", "obfsparam=1")) << "http_simple takes a parameter";
    // A press anywhere in the dialog hides the popup.
    Click(button);
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("popup", "shown=1"); }));
    Click(g.rect("1120"));
    EXPECT_TRUE(WaitFor([&] { return g.StateHas("popup", "shown=0"); }));
}

TEST(NodeDialogs, SubscriptionRowButtonsFollowTheSelection) {
    REQUIRE_DISPLAY();
    Gallery g({"subscriptions"}, {}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    ASSERT_TRUE(TypeInto(g, "1113", "https://sub.example/a"));
    Click(g.rect("1175"));
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("subs", "rows=1"); })) << g.State("subs") << g.State("boxes");
    EXPECT_TRUE(g.StateHas("subs", "changed=1"));
    const Rect del = g.rect("1058"), edit = g.rect("1059");
    auto face = [](const Rect& r) { return Rect{r.x + 4, r.y + 4, 20, 6}; };
    MoveTo(5, 5);
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(face(del), kButtonDisabled, 4) > 100; }));
    const Rect rows = g.rect("rows");
    const std::string h = g.State("rowheight");
    const int rowHeight = std::atoi(h.substr(h.find("h=") + 2).c_str());
    ASSERT_GT(rowHeight, 0);
    Xdo({"mousemove", std::to_string(rows.x + 40), std::to_string(rows.y + rowHeight / 2), "click", "1"});
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("subs", "sel=0"); })) << g.State("subs");
    EXPECT_TRUE(g.StateHas("subs", "delete=1") && g.StateHas("subs", "edit=1")) << g.State("subs");
    MoveTo(5, 5);
    EXPECT_TRUE(WaitFor([&] {
        const Screenshot s = TakeScreenshot();
        return s.Count(face(del), kButtonNormal, 4) > 100 && s.Count(face(edit), kButtonNormal, 4) > 100;
    }));
    Xdo({"mousemove", std::to_string(rows.x + 40), std::to_string(rows.y + rows.h - 6), "click", "1"});
    ASSERT_TRUE(WaitFor([&] { return g.StateHas("subs", "sel=-1"); })) << g.State("subs");
    EXPECT_TRUE(g.StateHas("subs", "delete=0") && g.StateHas("subs", "edit=0")) << g.State("subs");
    MoveTo(5, 5);
    EXPECT_TRUE(WaitFor([&] { return TakeScreenshot().Count(face(edit), kButtonDisabled, 4) > 100; }));
}

TEST(NodeDialogs, ChineseTextsHaveTheirGlyphs) {
    REQUIRE_DISPLAY();
    Gallery g({"socks_dialog", "ssr_dialog", "batch_add", "subscriptions"},
              {{"config/language.ini", kChineseLanguage}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    for (const char* scene : {"socks", "ssr", "batch", "subs"}) {
        const std::string state = g.State(std::string(scene) + ".glyphs");
        EXPECT_TRUE(g.StateHas(std::string(scene) + ".glyphs", "unknown=0")) << scene << ": " << state;
    }
}

// Labels of the Shadowsocks dialog in Chinese: translated, the four template
// texts as they stand, and each with ink.
TEST(NodeDialogs, ChineseShadowsocksLabels) {
    REQUIRE_DISPLAY();
    Gallery g({"ssr_dialog"}, {{"config/language.ini", kChineseLanguage}}, DIALOG_GALLERY_EXE);
    ASSERT_TRUE(g.running());
    const std::string labels = " " + g.State("ssr.labels") + " ";
    // Translated labels, and the four template texts as they stand.
    for (const char* expect : {" 1026=\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8 IP\xEF\xBC\x9A ", " 1027=\xE7\xAB\xAF\xE5\x8F\xA3\xEF\xBC\x9A ",
                               " 1034=\xE5\x8D\x8F\xE8\xAE\xAE: ", " 1036=\xE6\xB7\xB7\xE6\xB7\x86: "})
        EXPECT_NE(labels.find(expect), std::string::npos) << expect << " in " << labels;
    EXPECT_NE(labels.find(" 1035=\xE5\x8D\x8F\xE8\xAE\xAE\xE5\x8F\x82\xE6\x95\xB0: "), std::string::npos) << labels;
    EXPECT_NE(labels.find(" 1037=\xE6\xB7\xB7\xE6\xB7\x86\xE5\x8F\x82\xE6\x95\xB0: "), std::string::npos) << labels;
    // Each label has ink.
    const Screenshot shot = TakeScreenshot();
    for (const char* id : {"1034", "1035", "1036", "1037"}) {
        const Rect r = g.rect(id);
        ASSERT_GT(r.w, 0) << id;
        EXPECT_LT(shot.Count(r, kWhite, 30), r.w * r.h) << id << " has no ink";
    }
}

}  // namespace
