// The login window's logic: the checks of the OK handler, what is stored of
// the credentials, the automatic login, and the job against the account
// service's stand-in on loopback HTTPS, with the window side recorded.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "dialogs/base/login_core.h"
#include "foundation/app_paths.h"
#include "foundation/ini.h"
#include "foundation/message_box.h"
#include "foundation/settings.h"
#include "foundation/text_convert.h"
#include "nodes/account/agent_download_proxy.h"
#include "nodes/account/service_config.h"
#include "nodes/node_mgr.h"
#include "tests/support/account_service.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_ca.h"

using testsupport::AccountServiceStandIn;

namespace {

// The login logic with its window side recorded.
class RecordingLogin : public CDialogLoginCore {
public:
    ~RecordingLogin() override { StopWork(1); }

    void EnableInputs(int enable) override {
        std::lock_guard<std::mutex> lock(m);
        inputs.push_back(enable);
    }
    void SetStatusText(const std::wstring& text) override {
        CDialogLoginCore::SetStatusText(text);
        std::lock_guard<std::mutex> lock(m);
        statuses.push_back(WideToUtf8String(text));
    }
    void PostLoginFinished() override { closes++; }

    // Waits until the job has ended.
    bool WaitEnded(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (IsWorking()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        StopWork(0);
        return true;
    }
    std::vector<int> Inputs() {
        std::lock_guard<std::mutex> lock(m);
        return inputs;
    }
    std::vector<std::string> Statuses() {
        std::lock_guard<std::mutex> lock(m);
        return statuses;
    }

    std::mutex m;
    std::vector<int> inputs;
    std::vector<std::string> statuses;
    std::atomic<int> closes{0};
};

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitAppPaths(dir.path() / "cendrow");
        CreateAppFolders();
        GetSettings()->SetDefaults();
        GetSettings()->username.clear();
        GetSettings()->password.clear();
        GetSettings()->rememberuser = false;
        GetSettings()->autologin = false;
        ca.WriteCertificate(caFile);
        CNodeMgr::ReleaseInstance();
        CAgentDownloadProxy::ReleaseInstance();
        SetMessageBoxSink([this](const std::wstring& text, const std::wstring&, unsigned) {
            std::lock_guard<std::mutex> lock(boxMutex);
            boxes.push_back(WideToUtf8String(text));
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxSink(nullptr);
        CAgentDownloadProxy::ReleaseInstance();
        CNodeMgr::ReleaseInstance();
        SetServiceConfig(ServiceConfig());
    }
    void UseService(const AccountServiceStandIn& service) {
        ServiceConfig config;
        config.accountBaseUrl = service.BaseUrl();
        config.caFile = caFile.string();
        config.accountTimeout = 20;
        SetServiceConfig(config);
    }
    std::string ConfigText() {
        std::ifstream in(GetSettingsFilePath());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    unsigned ConfigMode() {
        struct stat st {};
        return stat(GetSettingsFilePath().c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
    }

    testsupport::TempDir dir{"cendrow-login"};
    std::filesystem::path caFile = dir / "ca.pem";
    testsupport::TestCertificateAuthority ca;
    std::mutex boxMutex;
    std::vector<std::string> boxes;
};

const std::string kEmail = "user+tag@example.com";
const std::string kPassword = "p&ss+w rd=\xC3\xBC";

LoginFields Fields(const std::string& user, const std::string& password, int remember) {
    return {Utf8ToWideString(user), Utf8ToWideString(password), remember};
}

TEST_F(LoginTest, MissingFieldsGiveTheirBoxAndNoRequest) {
    AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
    UseService(service);
    struct Case {
        std::string user, password;
        const char* box;
    } cases[] = {
        {"", "pw", "Input username please!"},
        {"", "", "Input username please!"},
        {"user", "", "Input password please!"},
    };
    for (const Case& c : cases) {
        boxes.clear();
        RecordingLogin login;
        EXPECT_EQ(login.OnLoginOK(Fields(c.user, c.password, 1)), 0) << c.user << "/" << c.password;
        EXPECT_EQ(boxes, std::vector<std::string>{c.box});
        EXPECT_FALSE(login.IsWorking());
        EXPECT_TRUE(login.Inputs().empty()) << "inputs left as they were";
    }
    EXPECT_TRUE(service.Posts().empty());
    EXPECT_FALSE(std::filesystem::exists(GetSettingsFilePath())) << "nothing stored for a refused input";
}

TEST_F(LoginTest, UserNameOfSpacesGoesUnchanged) {
    AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
    service.SetAccount("   ", kPassword);
    UseService(service);
    RecordingLogin login;
    ASSERT_EQ(login.OnLoginOK(Fields("   ", kPassword, 0)), 1);
    ASSERT_TRUE(login.WaitEnded());
    EXPECT_TRUE(boxes.empty());
    const auto posts = service.Posts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts[0].FormField("email"), "   ");
    EXPECT_EQ(login.closes.load(), 1);
}

TEST_F(LoginTest, RememberMeDecidesWhatTheSettingsFileKeeps) {
    AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
    UseService(service);
    {
        RecordingLogin login;
        ASSERT_EQ(login.OnLoginOK(Fields(kEmail, kPassword, 1)), 1);
        ASSERT_TRUE(login.WaitEnded());
    }
    std::string text = ConfigText();
    EXPECT_NE(text.find("username="), std::string::npos);
    EXPECT_NE(text.find("password="), std::string::npos);
    EXPECT_NE(text.find("rememberuser=1"), std::string::npos);
    EXPECT_EQ(ConfigMode(), 0600u);
    // The next window starts filled in.
    LoadSettings();
    LoginFields next = CDialogLoginCore::InitialFields();
    EXPECT_EQ(WideToUtf8String(next.username), kEmail);
    EXPECT_EQ(WideToUtf8String(next.password), kPassword);
    EXPECT_EQ(next.remember, 1);

    // A file left readable by others is tightened by the next save.
    chmod(GetSettingsFilePath().c_str(), 0644);
    {
        RecordingLogin login;
        ASSERT_EQ(login.OnLoginOK(Fields(kEmail, kPassword, 0)), 1);
        ASSERT_TRUE(login.WaitEnded());
        EXPECT_EQ(login.closes.load(), 1) << "the login itself still works";
    }
    text = ConfigText();
    EXPECT_EQ(text.find("username="), std::string::npos) << text;
    EXPECT_EQ(text.find("password="), std::string::npos) << text;
    EXPECT_NE(text.find("rememberuser=0"), std::string::npos);
    EXPECT_EQ(ConfigMode(), 0600u);
    LoadSettings();
    next = CDialogLoginCore::InitialFields();
    EXPECT_TRUE(next.username.empty());
    EXPECT_TRUE(next.password.empty());
    EXPECT_EQ(next.remember, 0);
}

TEST_F(LoginTest, AutoLoginNeedsRememberAndBothStoredValues) {
    struct Case {
        bool autologin, remember;
        const wchar_t* user;
        const wchar_t* password;
        bool expected;
    } cases[] = {
        {true, true, L"u", L"p", true}, {true, false, L"u", L"p", false}, {false, true, L"u", L"p", false},
        {true, true, L"", L"p", false}, {true, true, L"u", L"", false},
    };
    for (const Case& c : cases) {
        AppSettings* s = GetSettings();
        s->autologin = c.autologin;
        s->rememberuser = c.remember;
        s->username = c.user;
        s->password = c.password;
        EXPECT_EQ(CDialogLoginCore::WantsAutoLogin(), c.expected)
            << c.autologin << c.remember << WideToUtf8String(c.user) << WideToUtf8String(c.password);
    }
}

TEST_F(LoginTest, SuccessPostsTheCloseAndKeepsTheInputsDisabled) {
    AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
    UseService(service);
    RecordingLogin login;
    ASSERT_EQ(login.OnLoginOK(Fields(kEmail, kPassword, 1)), 1);
    ASSERT_TRUE(login.WaitEnded());
    EXPECT_EQ(login.closes.load(), 1);
    EXPECT_EQ(login.Inputs(), std::vector<int>{0});
    EXPECT_GT(CNodeMgr::GetInstance()->GetNodeCount(), 0u);
    const auto statuses = login.Statuses();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), "Please wait while logging in...");
    EXPECT_EQ(statuses.back(), "Ready!");
    EXPECT_EQ(service.Commands(), (std::vector<std::string>{"login", "allproxylist"}));
    EXPECT_TRUE(service.Problems().empty());
}

TEST_F(LoginTest, FailuresShowTheirTextAndGiveTheInputsBack) {
    struct Case {
        const char* name;
        std::string password;
        std::string command;  // whose reply is replaced; empty for none
        std::string reply;
        std::string status;
    } cases[] = {
        {"refused", "wrong", "", "", "Login failed: Wrong e-mail or password."},
        {"no nodes", kPassword, "allproxylist", R"({"errcode":0,"errmsg":"","proxylist":[]})",
         "You have not purchased any packages yet."},
    };
    for (const Case& c : cases) {
        CNodeMgr::ReleaseInstance();
        AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
        if (!c.command.empty()) {
            const std::string reply = c.reply;
            service.Override(c.command,
                             [reply](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
                                 r.status = 200;
                                 r.body = reply;
                             });
        }
        UseService(service);
        RecordingLogin login;
        ASSERT_EQ(login.OnLoginOK(Fields(kEmail, c.password, 0)), 1) << c.name;
        ASSERT_TRUE(login.WaitEnded()) << c.name;
        EXPECT_EQ(login.closes.load(), 0) << c.name;
        EXPECT_EQ(login.Inputs(), (std::vector<int>{0, 1})) << c.name;
        ASSERT_FALSE(login.Statuses().empty());
        EXPECT_EQ(login.Statuses().back(), c.status) << c.name;
    }
}

TEST_F(LoginTest, StopRequestEndsAHeldReplyBeforeTheServiceAnswers) {
    AccountServiceStandIn service(ca.Issue({"127.0.0.1"}));
    std::mutex m;
    std::condition_variable cv;
    bool arrived = false, release = false, answered = false;
    service.Override("login", [&](const testsupport::HttpRequest&, testsupport::HttpResponse& r) {
        std::unique_lock<std::mutex> lock(m);
        arrived = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
        answered = true;
        r.status = 200;
        r.body = R"({"errcode":1,"errmsg":"late"})";
    });
    UseService(service);
    auto login = std::make_unique<RecordingLogin>();
    ASSERT_EQ(login->OnLoginOK(Fields(kEmail, kPassword, 0)), 1);
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return arrived; }));
    }
    login->CancelLogin();
    EXPECT_FALSE(login->IsWorking());
    {
        std::lock_guard<std::mutex> lock(m);
        EXPECT_FALSE(answered) << "the job waited for the service's answer";
        release = true;
    }
    cv.notify_all();
    EXPECT_EQ(login->closes.load(), 0);
    // A cancelled job says nothing more and leaves no retry behind.
    for (const std::string& s : login->Statuses()) EXPECT_EQ(s.find("Login failed"), std::string::npos) << s;
    EXPECT_EQ(service.Commands(), std::vector<std::string>{"login"});
}

}  // namespace
