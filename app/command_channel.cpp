#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include "app/command_channel.h"

#include <cryptopp/arc4.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "app/halvern_app.h"
#include "app/main_core.h"
#include "app/main_loop.h"
#include "app/socket_wait.h"
#include "foundation/ascii_case.h"
#include "foundation/base64.h"
#include "foundation/hex_digest.h"
#include "foundation/program_log.h"
#include "foundation/settings.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "netconfig/additional_route.h"
#include "netconfig/dns_manager.h"
#include "netconfig/proxy_mode.h"
#include "netconfig/unbound_controller.h"
#include "nodes/node_mgr.h"
#include "nodes/subscriptions.h"
#include "proxy/socket_base.h"

namespace {

constexpr const char* kSocketName = "channel.sock";
constexpr const char* kKeyName = "channel.key";
constexpr int kRequestSeconds = 5;

const NSReply kWrongPacket{1, "received wrong packet."};
const NSReply kParametersError{1, "Parameters error."};

// A decimal number with nothing before or after it.
bool ParseWholeNumber(const std::string& text, long min, long max, long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || !end || *end != '\0' || value < min || value > max) return false;
    *out = value;
    return true;
}

// A field with a NUL, a line break or another control character would be
// cut or misread wherever it is stored or shown.
bool HasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// Up to `count` DNS server addresses split at "/"; the failure reply when one
// is not a dotted IPv4 address or the count is wrong.
bool SplitDnsAddresses(const std::string& text, size_t count, std::vector<std::string>* out, NSReply* failure) {
    SplitString(text, "/", *out, false);
    if (out->size() != count) {
        *failure = kWrongPacket;
        return false;
    }
    for (const std::string& address : *out) {
        if (!IsValidIPv4(address)) {
            *failure = {1, "DNS server address \"" + address + "\" refused: not a dotted IPv4 address."};
            return false;
        }
    }
    return true;
}

std::string RandomPassword() {
    std::random_device rd;
    std::string out;
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) out += hex[rd() & 15];
    return out;
}

std::string Rc4(const std::string& key, const void* data, size_t length) {
    std::string out(length, '\0');
    CryptoPP::Weak::ARC4::Encryption rc4(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
    if (length)
        rc4.ProcessData(reinterpret_cast<CryptoPP::byte*>(out.data()), static_cast<const CryptoPP::byte*>(data),
                        length);
    return out;
}

std::string KeyFromPassword(const std::string& password) {
    std::string salted = password + kChannelSalt;
    return Md5Hex(salted.data(), salted.size()).substr(0, 16);
}

sockaddr_un SocketAddress(const std::filesystem::path& folder, bool* ok) {
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::string path = (folder / kSocketName).string();
    *ok = path.size() < sizeof sa.sun_path;
    if (*ok) std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    return sa;
}

}  // namespace

// ---- Replies ----

CNS::~CNS() {
    Stop();
}

int CNS::IsValidCommand(int command) {
    return command >= 1 && command <= 21;
}

std::string CNS::DeriveKey() const {
    return KeyFromPassword(password_);
}

bool CNS::Encipher(const void* data, size_t length, std::string* out) const {
    if (password_.empty() || !data) return false;
    *out = Rc4(DeriveKey(), data, length);
    return true;
}

int CNS::MakeReply(int client, int command, int status, const char* text) {
    std::string plain = std::to_string(status) + "\r\n";
    if (text) plain += text;
    std::string cipher;
    if (!Encipher(plain.data(), plain.size(), &cipher)) return 0;
    uint32_t n = static_cast<uint32_t>(cipher.size());
    std::string frame;
    frame += static_cast<char>(command);
    for (int i = 0; i < 4; ++i) frame += static_cast<char>((n >> (8 * i)) & 0xFF);
    frame += cipher;
    int len = static_cast<int>(frame.size());
    return TimedSendAll(client, frame.data(), len, kRequestSeconds) == len ? 1 : 0;
}

int CNS::ParseRecvCommand(int client, int command, const char* data, int length) {
    if (!IsValidCommand(command)) return 0;
    std::string request = data && length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
    NSReply reply = RunCommand(command, request);
    return MakeReply(client, command, reply.status, reply.text.c_str());
}

bool DecodeChannelReply(const std::string& password, const std::string& cipher, NSReply* reply) {
    std::string plain = Rc4(KeyFromPassword(password), cipher.data(), cipher.size());
    size_t crlf = plain.find("\r\n");
    if (crlf == std::string::npos || crlf == 0) return false;
    for (size_t i = 0; i < crlf; ++i)
        if (plain[i] < '0' || plain[i] > '9') return false;
    reply->status = std::atoi(plain.c_str());
    reply->text = plain.substr(crlf + 2);
    return true;
}

// ---- Commands ----

CNSTAP::~CNSTAP() {
    Stop();
}

NSReply CNSTAP::RunCommand(int command, const std::string& data) {
    std::vector<std::string> f;
    if (!data.empty()) SplitString(data, "\r\n", f, true);
    for (const std::string& field : f)
        if (HasControlCharacter(field)) return {1, "Parameters error: a field holds a control character."};
    auto needs = [&](size_t count) { return !data.empty() && f.size() == count; };
    DialogOstrelBase* wnd = wnd_;
    switch (command) {
        case NSCMD_QUIT:
            if (!wnd) return {1, "Internal error."};
            // Posted, so that the reply goes out before the exit ends the loop.
            wnd->PostExit();
            return {};
        case NSCMD_SETPROXY:
            if (!needs(1)) return kWrongPacket;
            if (!wnd) return {1, "Internal error."};
            return SelectNode(f[0]);
        case NSCMD_GETPROXYMODES: {
            std::string text;
            int i = 0;
            for (const auto& mode : CProxyModeMgr::GetInstance()->GetModes()) {
                std::string entry;
                FormatString(entry, "%d,%s|", i++, WideToUtf8String(mode->nameCn).c_str());
                text += entry;
            }
            return {0, text};
        }
        case NSCMD_SETCURRENTPROXYMODE: {
            if (!needs(1)) return kWrongPacket;
            if (!wnd) return {1, "Internal error."};
            long index = 0;
            long count = static_cast<long>(CProxyModeMgr::GetInstance()->GetModes().size());
            if (!ParseWholeNumber(f[0], 0, count - 1, &index)) return {1, "No such proxy mode."};
            wnd->SelectModeIndex(static_cast<int>(index));
            return {};
        }
        case NSCMD_CONNECT:
            if (!wnd) return {1, "Internal error."};
            wnd->Connect();
            return {};
        case NSCMD_DISCONNECT:
            if (!wnd) return {1, "Internal error."};
            wnd->Disconnect();
            return {};
        case NSCMD_ADDSSRSUBSCRIPTION: {
            if (!needs(3)) return kWrongPacket;
            if (f[0].empty() || f[1].empty()) return {1, "Parameters error."};
            int frequency = f[0] == "every time" ? 0 : f[0] == "1 day" ? 1 : f[0] == "2 days" ? 2 : f[0] == "3 days" ? 3 : 0;
            AddSubscriptionGroup(nullptr, Utf8ToWideString(f[1]), frequency, Utf8ToWideString(f[2]));
            return {};
        }
        case NSCMD_ADDADDITIONALROUTE: {
            if (!needs(3) || f[0].empty() || f[1].empty() || f[2].empty()) return kWrongPacket;
            std::string action = f[2];
            for (char& c : action) c = AsciiToLower(c);
            int act = action == "proxify" ? 1 : 0;
            // The manager would drop anything else without a word.
            if (!IsValidIPv4(f[0]) || IsLoopbackText(Utf8ToWideString(f[0])))
                return {1, "Parameters error: not an IPv4 address outside the loopback network."};
            CAdditionalRouteMgr* routes = CAdditionalRouteMgr::GetInstance();
            std::wstring address = Utf8ToWideString(f[0]);
            if (!routes->Exists(address)) {
                routes->Add(address, act);
                routes->Save();
            }
            return {};
        }
        case CMD_SHOW_HIDE_WINDOW: {
            if (!needs(1)) return kWrongPacket;
            std::string word = f[0];
            for (char& c : word) c = AsciiToLower(c);
            if (word == "on") {
                if (wnd) wnd->ShowMainWindow();
            } else if (word == "off") {
                if (wnd) wnd->GetView()->HideToTray();
            } else {
                return kWrongPacket;
            }
            return {};
        }
        case CMD_SET_CURRENT_PROXY:
            if (!needs(10)) return kWrongPacket;
            return SetCurrentProxy(f);
        case NSCMD_GETSTATE: {
            CHalvernApp& app = GetApp();
            return {0, app.IsConnected() ? "connected" : app.IsConnecting() ? "connecting" : "disconnected"};
        }
        case NSCMD_CLEARPROXIES:
            if (wnd) wnd->ClearNodes();
            return {};
        case NSCMD_NOP:
            return {};
        case NSCMD_UPDATESUBSCRIPTIONS:
            if (wnd) wnd->ReloadSubscriptionNodes();
            return {};
        case NSCMD_GETPROXIES: {
            std::string text;
            CNodeMgr* nodes = CNodeMgr::GetInstance();
            for (CNodeInfo* node : nodes->GetNodes()) {
                NodeFields nf = nodes->CopyNodeFields(*node);
                std::string entry, remarks = Base64Encode(node->remarks.data(), node->remarks.size());
                FormatString(entry, "%d,%s,%d,%s|", nf.id, nf.host.c_str(), static_cast<int>(node->latency.load()),
                             remarks.c_str());
                text += entry;
            }
            return {0, text};
        }
        case NSCMD_LOADPROXYMODE:
            if (!needs(1)) return kWrongPacket;
        {
            // The mode itself tells whether the file was taken.
            CProxyMode* mode = CProxyModeMgr::GetInstance()->ReadModeFile(std::filesystem::path(f[0]));
            if (!mode) return {1, "can not load proxy mode file"};
            mode->LoadRules();
        }
            if (wnd) wnd->FillModeCombo();
            return {};
        case NSCMD_INSTALLDRIVER: {
            AdapterSettings& a = GetSettings()->adapter;
            auto present = [&](int count) {
                return !a.tap_connection_name.empty() && !a.tap_connection_guid.empty() && count > 0;
            };
            int count = system_->DetectNetworkAdapters();
            if (present(count)) return {};
            system_->InstallTapDriver();
            count = system_->DetectNetworkAdapters();
            GetApp().SetTapAdapterCount(count);
            if (!present(count)) return {1, "install driver failed."};
            return {};
        }
        case NSCMD_REMOVEDRIVER:
            system_->RemoveTapDriver();
            return {};
        case NSCMD_GETTAPADDRESS: {
            AdapterSettings& a = GetSettings()->adapter;
            return {0, WideToUtf8String(a.tap_address) + "," + WideToUtf8String(a.tunnel_gateway)};
        }
        case NSCMD_SETCURDNS:
            if (!needs(2)) return kWrongPacket;
            return SetCurrentDns(f);
        case NSCMD_SETPROXYDNS:
            if (!needs(1)) return kWrongPacket;
            CDNSManager::GetInstance()->SetProxifyCurrentDNS(std::atoi(f[0].c_str()));
            return {};
        default:
            return kWrongPacket;
    }
}

NSReply CNSTAP::SetCurrentProxy(const std::vector<std::string>& f) {
    // Fields: host, port, user, password, type, method, protocol, protocol
    // parameter, obfuscation, obfuscation parameter. Port and type are
    // checked whole, never cut to their width.
    long port = 0, type = 0;
    if (f[0].empty() || !ParseWholeNumber(f[1], 1, 65535, &port) || !ParseWholeNumber(f[4], 0, 255, &type))
        return kParametersError;
    if (type == NodeTypeSSR && (f[3].empty() || f[5].empty())) return kParametersError;
    if (!IsAcceptedNodeCipher(static_cast<int32_t>(type), f[5]))
        return {1, "Unknown cipher method: the node would send its traffic unencrypted."};
    NodeParams p;
    p.originOrId = NodeOriginUser;
    p.type = static_cast<int32_t>(type);
    p.host = f[0];
    p.port = static_cast<uint16_t>(port);
    p.user = f[2];
    p.password = f[3];
    p.method = f[5];
    p.serviceState = 1;
    p.countryIndex = -1;
    p.spareFlag = 1;
    p.protocol = f[6];
    p.protocolParam = f[7];
    p.obfs = f[8];
    p.obfsParam = f[9];
    CNodeInfo* node = CNodeMgr::GetInstance()->AddNode(p);
    if (!node) return {1, "add proxy failed."};
    if (wnd_) wnd_->FillNodeList(-1);
    return {0, std::to_string(node->id)};
}

NSReply CNSTAP::SelectNode(const std::string& idText) {
    long id = -1;
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    if (!ParseWholeNumber(idText, 0, INT32_MAX, &id) || !nodes->HasNode(static_cast<int32_t>(id)))
        return {1, "No such proxy."};
    // The connection keeps its node until it ends; the chooser is locked meanwhile.
    if (!GetApp().IsDisconnected() && id != nodes->GetCurrentNodeId())
        return {1, "The proxy can not be changed while connected; disconnect first."};
    wnd_->SelectNodeById(static_cast<int>(id));
    return {};
}

NSReply CNSTAP::SetCurrentDns(const std::vector<std::string>& f) {
    long kind = -1;
    if (!ParseWholeNumber(f[0], 0, 1, &kind)) return {1, "Unknown DNS kind."};
    std::vector<std::string> a;
    NSReply failure;
    if (!SplitDnsAddresses(f[1], kind == 0 ? 4 : 2, &a, &failure)) return failure;
    CDNSManager* dns = CDNSManager::GetInstance();
    if (kind == 0) {
        dns->SetCurrentDNS(kSmartDnsPresetId, Utf8ToWideString(a[0]), Utf8ToWideString(a[2]));
        CUnboundController::GetInstance()->SetForwardAddresses(Utf8ToWideString(a[0]), Utf8ToWideString(a[1]),
                                                               Utf8ToWideString(a[2]), Utf8ToWideString(a[3]));
    } else {
        dns->SetCurrentDNS(kOwnDnsPresetId, Utf8ToWideString(a[0]), Utf8ToWideString(a[1]));
    }
    return {};
}

// ---- Transport ----

std::filesystem::path CNS::DefaultFolder() {
    return FolderFor(std::getenv("XDG_RUNTIME_DIR"));
}

std::filesystem::path CNS::FolderFor(const char* runtimeDir) {
    if (runtimeDir && *runtimeDir == '/') return std::filesystem::path(runtimeDir) / "cendrow";
    return std::filesystem::path("/tmp") / ("cendrow-" + std::to_string(getuid()));
}

int CNS::PrepareFolder(const std::filesystem::path& folder) {
    mkdir(folder.c_str(), 0700);
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) return 0;
    // A link, a foreign owner or any access for others would let someone
    // else take the socket's place.
    if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 0077) != 0) return 0;
    return 1;
}

int CNS::Start(CMainLoop* loop, const std::filesystem::path& folder) {
    if (running_) return 1;
    if (!PrepareFolder(folder)) {
        AppendToProgramLog("channel: the folder " + folder.string() + " is not safe");
        return 0;
    }
    bool ok = false;
    sockaddr_un sa = SocketAddress(folder, &ok);
    if (!ok) return 0;
    std::string password = RandomPassword();
    std::filesystem::path keyFile = folder / kKeyName;
    unlink(keyFile.c_str());
    int kf = open(keyFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (kf < 0) return 0;
    bool written = write(kf, password.data(), password.size()) == static_cast<ssize_t>(password.size());
    close(kf);
    if (!written) return 0;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    unlink(sa.sun_path);  // a socket a crashed run left
    mode_t old = umask(0177);
    int bound = bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    umask(old);
    if (bound != 0 || chmod(sa.sun_path, 0600) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return 0;
    }
    loop_ = loop;
    folder_ = folder;
    password_ = password;
    listenFd_ = fd;
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    running_ = true;
    worker_ = std::thread(&CNS::ServeLoop, this);
    return 1;
}

void CNS::Stop() {
    if (!running_) return;
    running_ = false;
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
    }
    if (worker_.joinable()) worker_.join();
    close(listenFd_);
    close(stopFd_);
    listenFd_ = stopFd_ = -1;
    unlink((folder_ / kSocketName).c_str());
    unlink((folder_ / kKeyName).c_str());
}

void CNS::ServeLoop() {
    while (running_) {
        int client = AcceptUnlessStopped(listenFd_, stopFd_);
        if (client == -2) return;
        if (client < 0) continue;
        ucred cred{};
        socklen_t len = sizeof cred;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == getuid())
            ServeClient(client);
        else
            AppendToProgramLog("channel: a peer of another user was refused");
        close(client);
    }
}

void CNS::ServeClient(int client) {
    // One deadline for the whole request.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRequestSeconds);
    auto readExact = [&](void* buf, size_t n) {
        auto* out = static_cast<char*>(buf);
        while (n > 0) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count());
            if (left <= 0) return false;
            pollfd p[2] = {{client, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (poll(p, 2, left) <= 0 || p[1].revents) return false;
            ssize_t r = recv(client, out, n, 0);
            if (r <= 0) return false;
            out += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    };
    uint8_t header[5];
    if (!readExact(header, sizeof header)) return;
    int command = header[0];
    uint32_t length = header[1] | (header[2] << 8) | (header[3] << 16) | (static_cast<uint32_t>(header[4]) << 24);
    if (!IsValidCommand(command) || length > kChannelMaxRequest) return;
    std::string data(length, '\0');
    if (length && !readExact(data.data(), length)) return;
    NSReply reply;
    bool ran = loop_->Invoke([&] { reply = RunCommand(command, data); });
    if (!ran) return;
    MakeReply(client, command, reply.status, reply.text.c_str());
}

int SendChannelRequest(const std::filesystem::path& folder, int command, const std::string& data, NSReply* reply,
                       int timeoutMs) {
    bool ok = false;
    sockaddr_un sa = SocketAddress(folder, &ok);
    if (!ok) return 0;
    std::string password;
    {
        std::ifstream key(folder / kKeyName);
        std::getline(key, password);
    }
    if (password.empty()) return 0;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    int result = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        std::string frame;
        frame += static_cast<char>(command);
        uint32_t n = static_cast<uint32_t>(data.size());
        for (int i = 0; i < 4; ++i) frame += static_cast<char>((n >> (8 * i)) & 0xFF);
        frame += data;
        int seconds = std::max(1, timeoutMs / 1000);
        uint8_t header[5];
        if (TimedSendAll(fd, frame.data(), static_cast<int>(frame.size()), seconds) ==
                static_cast<int>(frame.size()) &&
            TimedRecvExact(fd, header, 5, seconds) == 5 && header[0] == command) {
            uint32_t len = header[1] | (header[2] << 8) | (header[3] << 16) | (static_cast<uint32_t>(header[4]) << 24);
            std::string cipher(len, '\0');
            if (len <= kChannelMaxRequest && (len == 0 || TimedRecvExact(fd, cipher.data(), static_cast<int>(len),
                                                                         seconds) == static_cast<int>(len))) {
                NSReply r;
                if (DecodeChannelReply(password, cipher, &r)) {
                    if (reply) *reply = r;
                    result = 1;
                }
            }
        }
    }
    close(fd);
    return result;
}
