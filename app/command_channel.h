#pragma once
// The local command channel: other programs of the same user drive the
// running client through a Unix socket.
//
// Transport: the socket "channel.sock" in a folder of ours (0700, checked
// with lstat) under $XDG_RUNTIME_DIR, else /tmp/cendrow-<uid>; the socket is
// 0600 and only peers of our uid (SO_PEERCRED) are served. A request is a
// command byte, a 32-bit little-endian length and at most 64 KiB of data,
// read within 5 s; the command runs on the main loop. A reply is the command
// byte, a 32-bit little-endian length and the payload "<status>\r\n<text>"
// enciphered with RC4 under a key derived from the run's random password,
// which lies in "channel.key" (0600) beside the socket.
//
// Request data is UTF-8 text whose fields are separated by CR LF; empty
// fields count. A request that is refused or would change nothing (an
// unknown node or mode, a field with a control character, a DNS address
// that is no dotted IPv4 address, another node while connected) gets status
// 1 with the reason and changes nothing.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

class CMainLoop;
class DialogOstrelBase;
class IConnectSystem;

enum NSCommand : int {
    NSCMD_QUIT = 1,
    NSCMD_SETPROXY = 2,
    NSCMD_GETPROXYMODES = 3,
    NSCMD_SETCURRENTPROXYMODE = 4,
    NSCMD_CONNECT = 5,
    NSCMD_DISCONNECT = 6,
    NSCMD_ADDSSRSUBSCRIPTION = 7,
    NSCMD_ADDADDITIONALROUTE = 8,
    CMD_SHOW_HIDE_WINDOW = 9,
    CMD_SET_CURRENT_PROXY = 10,
    NSCMD_GETSTATE = 11,
    NSCMD_CLEARPROXIES = 12,
    NSCMD_NOP = 13,
    NSCMD_UPDATESUBSCRIPTIONS = 14,
    NSCMD_GETPROXIES = 15,
    NSCMD_LOADPROXYMODE = 16,
    NSCMD_INSTALLDRIVER = 17,
    NSCMD_REMOVEDRIVER = 18,
    NSCMD_GETTAPADDRESS = 19,
    NSCMD_SETCURDNS = 20,
    NSCMD_SETPROXYDNS = 21,
};

inline constexpr size_t kChannelMaxRequest = 64 * 1024;
inline constexpr const char* kChannelSalt = "qvmex4827";

struct NSReply {
    int status = 0;
    std::string text;
};

class CNS {
public:
    CNS() = default;
    virtual ~CNS();
    CNS(const CNS&) = delete;
    CNS& operator=(const CNS&) = delete;

    // Runs the command of the byte and sends its reply on `client`; any
    // other byte does nothing and returns 0.
    int ParseRecvCommand(int client, int command, const char* data, int length);
    // The command's reply; called on the main loop.
    virtual NSReply RunCommand(int command, const std::string& data) = 0;
    static int IsValidCommand(int command);
    // Sends one reply frame; 0 when the password is empty (nothing is sent)
    // or the whole frame could not be sent within 5 s.
    int MakeReply(int client, int command, int status, const char* text);
    // The 16-character RC4 key text.
    std::string DeriveKey() const;
    // RC4 under the derived key; false when the password is empty.
    bool Encipher(const void* data, size_t length, std::string* out) const;

    void SetPassword(const std::string& password) { password_ = password; }
    const std::string& GetPassword() const { return password_; }

    // Opens the socket in `folder` with a fresh password and serves it on a
    // thread of its own, running commands on `loop`. 0 when the folder is
    // unsafe or the socket cannot be made.
    int Start(CMainLoop* loop, const std::filesystem::path& folder);
    void Stop();
    bool IsRunning() const { return running_.load(); }

    // $XDG_RUNTIME_DIR/cendrow, else /tmp/cendrow-<uid>.
    static std::filesystem::path DefaultFolder();
    // The same for a process whose XDG_RUNTIME_DIR is `runtimeDir` (null: unset).
    static std::filesystem::path FolderFor(const char* runtimeDir);
    // Creates the folder 0700 when missing; 1 when it is a real folder of
    // ours that nobody else can enter.
    static int PrepareFolder(const std::filesystem::path& folder);

private:
    void ServeLoop();
    void ServeClient(int client);

    CMainLoop* loop_ = nullptr;
    std::filesystem::path folder_;
    std::string password_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::atomic<bool> running_{false};
    std::thread worker_;
};

class CNSTAP : public CNS {
public:
    CNSTAP(DialogOstrelBase* mainWnd, IConnectSystem* system) : wnd_(mainWnd), system_(system) {}
    ~CNSTAP() override;
    NSReply RunCommand(int command, const std::string& data) override;

private:
    NSReply SetCurrentProxy(const std::vector<std::string>& f);
    NSReply SelectNode(const std::string& idText);
    NSReply SetCurrentDns(const std::vector<std::string>& f);

    DialogOstrelBase* wnd_;
    IConnectSystem* system_;
};

// The client side: sends one request to the channel in `folder` and reads
// the reply, deciphered with the password of that folder. 1 with the reply,
// 0 when there is no channel or no valid reply within `timeoutMs`.
int SendChannelRequest(const std::filesystem::path& folder, int command, const std::string& data, NSReply* reply,
                       int timeoutMs = 10000);
// The plain reply payload of a frame's enciphered bytes.
bool DecodeChannelReply(const std::string& password, const std::string& cipher, NSReply* reply);
