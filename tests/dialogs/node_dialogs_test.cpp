// The node dialogs without their windows: the form of a node to edit, the
// record handed to the node list, and every refusal of the OK handler, none
// of which reaches the node list or the route list.

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "dialogs/base/geolocation_worker.h"
#include "dialogs/base/socks_proxy_core.h"
#include "dialogs/base/ssr_proxy_core.h"
#include "foundation/app_paths.h"
#include "foundation/text_convert.h"
#include "netconfig/additional_route.h"
#include "netconfig/host_cache.h"
#include "nodes/account/service_config.h"
#include "nodes/node_mgr.h"
#include "nodes/share_link.h"
#include "tests/support/temp_dir.h"

namespace {

// Route names the tests may type; everything else does not resolve.
std::string FakeResolve(std::string_view name) {
    if (name == "route.test") return "192.0.2.80";
    if (name == "loop.test") return "127.0.0.5";
    return {};
}

class NodeDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir.path() / "cendrow");
        CreateAppFolders();
        CNodeMgr::ReleaseInstance();
        CAdditionalRouteMgr::ReleaseInstance();
    }
    void TearDown() override {
        CNodeMgr::ReleaseInstance();
        CAdditionalRouteMgr::ReleaseInstance();
    }
    static size_t NodeCount() { return CNodeMgr::GetInstance()->GetNodeCount(); }
    static size_t RouteCount() { return CAdditionalRouteMgr::GetInstance()->GetRoutes().size(); }
    static std::string Id(const DialogMessage& m) { return m.id ? m.id : "(none)"; }

    static SocksProxyForm SocksForm() {
        SocksProxyForm f;
        f.typeRow = 0;
        f.server = L"1.2.3.4";
        f.port = L"8080";
        return f;
    }
    static SsrProxyForm SsrForm() {
        SsrProxyForm f;
        f.server = L"ss.example";
        f.port = L"8388";
        f.password = L"secret";
        return f;
    }

    testsupport::TempDir dir{"cendrow-node-dialogs"};
};

TEST_F(NodeDialogTest, HttpNodeIsAddedWithTheDialogsRecord) {
    CSocksProxyCore core;
    EXPECT_EQ(core.InitialForm().typeRow, 2);
    NodeSaveResult r = core.Save(SocksForm(), FakeResolve);
    ASSERT_TRUE(r.Saved()) << Id(r.message);
    CNodeInfo* node = CNodeMgr::GetInstance()->FindNode(r.nodeId);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type, NodeTypeHttp);
    EXPECT_EQ(node->host, "1.2.3.4");
    EXPECT_EQ(node->port, 8080);
    EXPECT_EQ(node->serviceState, 1);
    EXPECT_EQ(node->countryIndex, -1);
    EXPECT_EQ(node->group, "Default Group");
    EXPECT_EQ(node->udpPort, 0);
    EXPECT_TRUE(node->additionalRoute.empty());
    NodeParams p = core.BuildParams(SocksForm(), 8080, "");
    EXPECT_TRUE(p.method.empty() && p.protocol.empty() && p.obfs.empty());
    EXPECT_EQ(p.spareFlag, 1);
    EXPECT_EQ(RouteCount(), 0u);
}

TEST_F(NodeDialogTest, SocksFourNodeIsEditedInPlace) {
    NodeParams p;
    p.type = NodeTypeSocks4;
    p.host = "socks.example";
    p.port = 1080;
    p.user = "u";
    p.remarks = "\xE4\xB8\x9C\xE4\xBA\xAC";
    p.group = "G";
    p.additionalRoute = "10.0.0.9";
    CNodeInfo* node = CNodeMgr::GetInstance()->AddNode(p);
    ASSERT_NE(node, nullptr);
    CSocksProxyCore core;
    core.SetEditNode(node);
    SocksProxyForm f = core.InitialForm();
    EXPECT_EQ(f.typeRow, 1);
    EXPECT_EQ(f.server, L"socks.example");
    EXPECT_EQ(f.port, L"1080");
    EXPECT_EQ(f.user, L"u");
    EXPECT_EQ(f.remarks, L"\u4e1c\u4eac");
    EXPECT_EQ(f.group, L"G");
    EXPECT_EQ(f.route, L"10.0.0.9");
    f.port = L"1081";
    f.route = L"route.test";
    NodeSaveResult r = core.Save(f, FakeResolve);
    ASSERT_TRUE(r.Saved()) << Id(r.message);
    EXPECT_EQ(r.nodeId, node->id);
    EXPECT_EQ(NodeCount(), 1u);
    EXPECT_EQ(node->port, 1081);
    EXPECT_EQ(node->additionalRoute, "192.0.2.80");
    // The new route is registered as Direct and written to the route file.
    EXPECT_EQ(CAdditionalRouteMgr::GetInstance()->Exists(L"192.0.2.80"), 1);
    CAdditionalRouteMgr::ReleaseInstance();
    EXPECT_EQ(CAdditionalRouteMgr::GetInstance()->Load(), 1);
}

// Each refusal names its field; the node list and the route list stay as they were.
TEST_F(NodeDialogTest, SocksRefusals) {
    struct Case {
        const char* what;
        void (*change)(SocksProxyForm&);
        const char* message;
    } cases[] = {
        {"empty port", [](SocksProxyForm& f) { f.port = L""; }, "Enter an integer."},
        {"letter in port", [](SocksProxyForm& f) { f.port = L"8o"; }, "Enter an integer."},
        {"signed port", [](SocksProxyForm& f) { f.port = L"+80"; }, "Enter an integer."},
        {"port above range", [](SocksProxyForm& f) { f.port = L"70000"; }, "Enter an integer between %1 and %2."},
        {"long port", [](SocksProxyForm& f) { f.port = L"99999999999999999999"; },
         "Enter an integer between %1 and %2."},
        {"port 0", [](SocksProxyForm& f) { f.port = L"000"; }, "Port must be in 0-65535."},
        {"no type", [](SocksProxyForm& f) { f.typeRow = -1; }, "Select a proxy type please."},
        {"no server", [](SocksProxyForm& f) { f.server = L"  "; }, "Input server IP please."},
        {"short address", [](SocksProxyForm& f) { f.server = L"10.1"; },
         "The server must be an IPv4 address or a host name."},
        {"space in name", [](SocksProxyForm& f) { f.server = L"a b.example"; },
         "The server must be an IPv4 address or a host name."},
        {"empty label", [](SocksProxyForm& f) { f.server = L"a..example"; },
         "The server must be an IPv4 address or a host name."},
        {"label of 64", [](SocksProxyForm& f) { f.server = std::wstring(64, L'a') + L".example"; },
         "The server must be an IPv4 address or a host name."},
        {"IPv6", [](SocksProxyForm& f) { f.server = L"::1"; },
         "The server must be an IPv4 address or a host name."},
        {"CR LF in server", [](SocksProxyForm& f) { f.server = L"a.example\r\nX: y"; },
         "The field \"%1\" holds a control character."},
        {"LF in password", [](SocksProxyForm& f) { f.password = L"pw\n"; },
         "The field \"%1\" holds a control character."},
        {"tab in group", [](SocksProxyForm& f) { f.group = L"g\tx"; }, "The field \"%1\" holds a control character."},
        {"user of 256", [](SocksProxyForm& f) { f.user = std::wstring(256, L'u'); },
         "The user name can not be longer than %1 bytes."},
        {"password of 256 bytes", [](SocksProxyForm& f) { f.password = std::wstring(128, L'\u00e9'); },
         "The password can not be longer than %1 bytes."},
        {"route 0.1.2.3", [](SocksProxyForm& f) { f.route = L"0.1.2.3"; },
         "An invalid IP was entered in the additional route form"},
        {"route 10.1", [](SocksProxyForm& f) { f.route = L"10.1"; },
         "An invalid IP was entered in the additional route form"},
        {"unknown route name", [](SocksProxyForm& f) { f.route = L"nowhere.test"; },
         "Unable to resolve the additional route domain name you entered"},
        {"loopback route", [](SocksProxyForm& f) { f.route = L"127.0.0.1"; }, "You can not add a loopback IP address."},
        {"name of a loopback", [](SocksProxyForm& f) { f.route = L"loop.test"; },
         "You can not add a loopback IP address."},
    };
    for (const Case& c : cases) {
        CSocksProxyCore core;
        SocksProxyForm f = SocksForm();
        c.change(f);
        const SocksProxyForm typed = f;
        NodeSaveResult r = core.Save(f, FakeResolve);
        EXPECT_EQ(Id(r.message), c.message) << c.what;
        EXPECT_EQ(r.nodeId, -1) << c.what;
        EXPECT_EQ(NodeCount(), 0u) << c.what;
        EXPECT_EQ(RouteCount(), 0u) << c.what;
        EXPECT_EQ(f.server, typed.server) << c.what;
    }
    // The limits themselves pass.
    CSocksProxyCore core;
    SocksProxyForm f = SocksForm();
    f.user = std::wstring(255, L'u');
    f.password = std::wstring(255, L'p');
    f.server = std::wstring(63, L'a') + L".b_c-d.example.";
    EXPECT_TRUE(core.Save(f, FakeResolve).Saved());
}

TEST_F(NodeDialogTest, PortMessageCarriesTheRange) {
    uint16_t port = 0;
    DialogMessage m = ParsePortText(L"65536", &port);
    EXPECT_EQ(m.Text(), "Enter an integer between 0 and 65535.");
    EXPECT_FALSE(ParsePortText(L" 065535 ", &port));
    EXPECT_EQ(port, 65535);
}

TEST_F(NodeDialogTest, NodeTheListRefusesRegistersNothing) {
    NodeParams p;
    p.host = "gone.example";
    p.port = 1080;
    CNodeInfo* node = CNodeMgr::GetInstance()->AddNode(p);
    ASSERT_NE(node, nullptr);
    CSocksProxyCore core;
    core.SetEditNode(node);
    SocksProxyForm f = core.InitialForm();
    f.route = L"10.0.0.1";
    ASSERT_EQ(CNodeMgr::GetInstance()->RemoveNode(node->id), 1);
    NodeSaveResult r = core.Save(f, FakeResolve);
    EXPECT_EQ(Id(r.message), "The node list did not take this node; nothing was saved.");
    EXPECT_EQ(r.nodeId, -1);
    EXPECT_EQ(RouteCount(), 0u);
}

TEST_F(NodeDialogTest, ShadowsocksAddModeAndParameterRules) {
    CSSRProxyCore core;
    SsrProxyForm f = core.InitialForm();
    EXPECT_EQ(f.cipherRow, 0);
    EXPECT_EQ(core.ProtocolNames()[0].name, "origin");
    EXPECT_EQ(core.ObfsNames()[0].name, "plain");
    EXPECT_FALSE(core.ProtocolTakesParam(f.protocolRow));
    EXPECT_FALSE(core.ObfsTakesParam(f.obfsRow));
    for (const char* name : {"auth_aes128_md5", "auth_aes128_sha1", "auth_chain_a", "auth_chain_b"})
        EXPECT_TRUE(core.ProtocolTakesParam(GetProtocolIndex(name))) << name;
    for (const char* name : {"http_simple", "http_post", "tls1.2_ticket_auth", "tls1.2_ticket_fastauth"})
        EXPECT_TRUE(core.ObfsTakesParam(GetObfsIndex(name))) << name;
    EXPECT_FALSE(core.ProtocolTakesParam(-1));

    // A parameter typed while enabled is still sent after "origin" is chosen.
    f = SsrForm();
    f.protocolParam = L"42:key";
    NodeSaveResult r = core.Save(f, FakeResolve);
    ASSERT_TRUE(r.Saved()) << Id(r.message);
    CNodeInfo* node = CNodeMgr::GetInstance()->FindNode(r.nodeId);
    EXPECT_EQ(node->protocolParam, "42:key");
    EXPECT_EQ(node->method, core.CipherNames()[0]);
    EXPECT_EQ(node->protocol, "origin");
    EXPECT_EQ(node->obfs, "plain");
}

TEST_F(NodeDialogTest, ShadowsocksRefusals) {
    struct Case {
        const char* what;
        void (*change)(SsrProxyForm&);
        const char* message;
    } cases[] = {
        {"empty password", [](SsrProxyForm& f) { f.password.clear(); }, "Input SS server password please."},
        {"no cipher", [](SsrProxyForm& f) { f.cipherRow = -1; }, "Choose an encryption method please."},
        {"no protocol", [](SsrProxyForm& f) { f.protocolRow = -1; }, "Choose a protocol please."},
        {"no obfuscation", [](SsrProxyForm& f) { f.obfsRow = 99; }, "Choose an obfuscation please."},
        {"LF in obfuscation parameter", [](SsrProxyForm& f) { f.obfsParam = L"a\nb"; },
         "The field \"%1\" holds a control character."},
        {"bad server", [](SsrProxyForm& f) { f.server = L"ss/example"; },
         "The server must be an IPv4 address or a host name."},
        {"port 0", [](SsrProxyForm& f) { f.port = L"0"; }, "Port must be in 0-65535."},
        {"loopback route", [](SsrProxyForm& f) { f.route = L"127.8.0.1"; }, "You can not add a loopback IP address."},
    };
    for (const Case& c : cases) {
        CSSRProxyCore core;
        SsrProxyForm f = SsrForm();
        c.change(f);
        NodeSaveResult r = core.Save(f, FakeResolve);
        EXPECT_EQ(Id(r.message), c.message) << c.what;
        EXPECT_EQ(NodeCount(), 0u) << c.what;
        EXPECT_EQ(RouteCount(), 0u) << c.what;
    }
}

TEST_F(NodeDialogTest, EditKeepsUdpPortAndUnknownNamesMustBeChosen) {
    NodeParams p;
    p.type = NodeTypeSSR;
    p.host = "ss.example";
    p.port = 8388;
    p.password = "pw";
    p.method = "aes-256-gcm";
    p.protocol = "auth_chain_a";
    p.obfs = "http_simple";
    p.udpPort = 53;
    p.udpOverTcp = 1;
    CNodeInfo* node = CNodeMgr::GetInstance()->AddNode(p);
    ASSERT_NE(node, nullptr);
    CSSRProxyCore core;
    core.SetEditNode(node);
    SsrProxyForm f = core.InitialForm();
    EXPECT_EQ(core.CipherNames()[static_cast<size_t>(f.cipherRow)], "aes-256-gcm");
    EXPECT_EQ(core.ProtocolNames()[static_cast<size_t>(f.protocolRow)].name, "auth_chain_a");
    f.remarks = L"edited";
    ASSERT_TRUE(core.Save(f, FakeResolve).Saved());
    EXPECT_EQ(node->udpPort, 53);
    EXPECT_EQ(node->udpOverTcp, 1);
    EXPECT_EQ(node->remarks, "edited");

    // A name the tables lack shows no row and must be chosen before saving.
    node->obfs = "no_such_obfs";
    core.SetEditNode(node);
    f = core.InitialForm();
    EXPECT_EQ(f.obfsRow, -1);
    NodeSaveResult r = core.Save(f, FakeResolve);
    EXPECT_EQ(Id(r.message), "Choose an obfuscation please.");
    EXPECT_EQ(node->obfs, "no_such_obfs");
}

TEST_F(NodeDialogTest, FormFilledFromALinkKeepsItsUdpPort) {
    CSSRProxyCore core;
    SsrProxyForm f = core.InitialForm();
    f.group = L"Mine";
    f.countryRow = 3;
    auto link = ParseShareLink("ssr://1.2.3.4:443:auth_sha1_v4:rc4-md5:http_simple:eA/?udpport=53&uot=1");
    ASSERT_NE(link, nullptr);
    core.FillFromNode(*link, &f);
    EXPECT_EQ(core.CipherNames()[static_cast<size_t>(f.cipherRow)], "rc4-md5");
    EXPECT_EQ(core.ProtocolNames()[static_cast<size_t>(f.protocolRow)].name, "auth_sha1_v4");
    EXPECT_EQ(core.ObfsNames()[static_cast<size_t>(f.obfsRow)].name, "http_simple");
    EXPECT_EQ(f.server, L"1.2.3.4");
    EXPECT_EQ(f.port, L"443");
    EXPECT_EQ(f.password, L"x");
    EXPECT_EQ(f.group, L"Mine");
    EXPECT_EQ(f.countryRow, 3);
    NodeSaveResult r = core.Save(f, FakeResolve);
    ASSERT_TRUE(r.Saved()) << Id(r.message);
    CNodeInfo* node = CNodeMgr::GetInstance()->FindNode(r.nodeId);
    EXPECT_EQ(node->udpPort, 53);
    EXPECT_EQ(node->udpOverTcp, 1);
    EXPECT_EQ(node->group, "Mine");
    EXPECT_EQ(node->countryIndex, 3);
}

TEST_F(NodeDialogTest, GroupChoicesAreDistinctInByteOrder) {
    for (const char* g : {"b", "", "a", "b", "\xE9\xBB\x84"}) {
        NodeParams p;
        p.host = "h.example";
        p.port = 1;
        p.group = g;
        ASSERT_NE(CNodeMgr::GetInstance()->AddNode(p), nullptr);
    }
    EXPECT_EQ(NodeGroupChoices(CNodeMgr::GetInstance()->GetNodes()),
              (std::vector<std::wstring>{L"Default Group", L"a", L"b", L"\u9ec4"}));
}

}  // namespace

namespace {

TEST(GeolocationWorkerTest, WithoutACountryServiceNothingIsLookedUp) {
    const ServiceConfig saved = GetServiceConfig();
    SetServiceConfig(ServiceConfig());
    std::promise<GeolocationResult> done;
    {
        CGeolocationWorker worker([&done](const GeolocationResult& r) { done.set_value(r); });
        ASSERT_TRUE(worker.Start(L"localhost"));
        const GeolocationResult r = done.get_future().get();
        EXPECT_FALSE(r.answered);
        EXPECT_EQ(r.message.id, nullptr) << "no box without a service";
    }
    // Not even the name: the form stays as it was, with no box.
    EXPECT_EQ(HostCacheContains("localhost"), 0);
    SetServiceConfig(saved);
}

}  // namespace
