#include "nodes/subscriptions.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "foundation/app_paths.h"
#include "foundation/ascii_case.h"
#include "foundation/base64.h"
#include "foundation/ini.h"
#include "foundation/program_log.h"
#include "foundation/text_convert.h"
#include "platform/atomic_file.h"

namespace {

constexpr const wchar_t* kFileName = L"ssrsubscriptions.ini";
constexpr const wchar_t* kSection = L"basic";

std::wstring NumberedKey(const wchar_t* name, int n) {
    return name + std::to_wstring(n);
}

// UTF-8 text as the file keeps it (ill-formed sequences become U+FFFD).
std::wstring FileText(const std::string& utf8) {
    return Utf8ToWideString(utf8);
}

std::wstring EncodedText(const std::string& bytes) {
    return Utf8ToWideString(Base64Encode(bytes.data(), bytes.size()));
}

void CopyUpdateProxy(SubscriptionGroup& group, const CNodeInfo* node) {
    if (!node) {
        group.proxyType = NodeTypeSocks5;
        group.proxyServer.clear();
        group.proxyPort = 0;
        group.proxyUser.clear();
        group.proxyPassword.clear();
        group.proxyMethod.clear();
        group.proxyProtocol.clear();
        group.proxyObfs.clear();
        group.proxyObfsParam.clear();
        group.proxyProtocolParam.clear();
        return;
    }
    group.proxyType = node->type;
    group.proxyServer = node->host;
    group.proxyPort = node->port;
    group.proxyUser = node->user;
    group.proxyPassword = node->password;
    group.proxyMethod = node->method;
    group.proxyProtocol = node->protocol;
    group.proxyObfs = node->obfs;
    group.proxyObfsParam = node->obfsParam;
    group.proxyProtocolParam = node->protocolParam;
}

// One record as read from the file; false when the walk ends here.
bool ReadRecord(const CIni& ini, int n, SubscriptionGroup& g) {
    auto key = [n](const wchar_t* name) { return NumberedKey(name, n); };
    auto text = [&](const wchar_t* name) { return ini.GetString(kSection, key(name).c_str(), L""); };
    auto narrow = [&](const wchar_t* name) { return WideToUtf8String(text(name)); };
    auto number = [&](const wchar_t* name, int fallback) {
        return ini.GetInt(kSection, key(name).c_str(), fallback);
    };

    // Only these two end the list; every other key has its fallback.
    std::wstring stop[2];
    const wchar_t* stopKeys[2] = {L"groupname", L"url"};
    for (int i = 0; i < 2; ++i) {
        stop[i] = ini.GetString(kSection, key(stopKeys[i]).c_str(), kIniSentinel);
        if (stop[i] == kIniSentinel) return false;
    }
    g.groupName = stop[0];
    g.url = stop[1];
    // An unsigned 32-bit number widened with its sign: 4294967295 reads as -1.
    g.recentlyUpdated = number(L"recently_updated", 0);
    g.frequency = number(L"frequency", 0);
    g.defaultObfsParams = text(L"default_params_of_obfs");

    std::string server = narrow(L"p_server");
    auto port = static_cast<uint32_t>(number(L"p_server_port", 0));
    // A port beyond 16 bits is no port at all rather than a wrapped one.
    if (server.empty() || port == 0 || port > 65535) return true;
    g.proxyType = number(L"p_type", NodeTypeSocks5);
    g.proxyServer = server;
    g.proxyPort = static_cast<uint16_t>(port);
    auto setText = [&](std::string& field, const wchar_t* name) {
        std::string value = narrow(name);
        if (!value.empty()) field = value;
    };
    auto setDecoded = [&](std::string& field, const wchar_t* name) {
        std::string value = narrow(name);
        if (!value.empty()) field = Base64Decode(value);
    };
    setText(g.proxyUser, L"p_username");
    setText(g.proxyMethod, L"p_method");
    setText(g.proxyProtocol, L"p_protocol");
    setText(g.proxyObfs, L"p_obfs");
    setDecoded(g.proxyPassword, L"p_password");
    setDecoded(g.proxyObfsParam, L"p_obfsparam");
    setDecoded(g.proxyProtocolParam, L"p_protocolparam");
    return true;
}

// The highest record number among the numbered keys of our section (0 when
// it has none), so that a load that stopped early can tell.
int HighestRecordNumber(const CIni& ini) {
    static const wchar_t* const kNames[] = {L"groupname", L"url", L"recently_updated", L"frequency",
                                            L"default_params_of_obfs", L"p_type", L"p_server", L"p_server_port",
                                            L"p_username", L"p_password", L"p_protocol", L"p_protocolparam",
                                            L"p_obfs", L"p_obfsparam", L"p_method"};
    int highest = 0;
    for (const std::wstring& key : ini.GetKeyNames(kSection)) {
        size_t digits = key.find_last_not_of(L"0123456789") + 1;
        if (digits == 0 || digits == key.size() || key.size() - digits > 9) continue;
        std::wstring name = key.substr(0, digits);
        for (const wchar_t* known : kNames) {
            if (AsciiEqualsNoCase(name, known)) highest = std::max(highest, std::stoi(key.substr(digits)));
        }
    }
    return highest;
}

void AppendRecord(std::vector<std::pair<std::wstring, std::wstring>>& out, const SubscriptionGroup& g,
                  int n) {
    auto put = [&](const wchar_t* name, std::wstring value) {
        out.emplace_back(NumberedKey(name, n), std::move(value));
    };
    auto number = [](auto value) { return std::to_wstring(value); };
    put(L"groupname", g.groupName);
    put(L"url", g.url);
    put(L"recently_updated", number(static_cast<uint32_t>(g.recentlyUpdated)));
    put(L"frequency", number(g.frequency));
    put(L"default_params_of_obfs", g.defaultObfsParams);
    put(L"p_type", number(g.proxyType));
    put(L"p_server", FileText(g.proxyServer));
    put(L"p_server_port", number(g.proxyPort));
    put(L"p_username", FileText(g.proxyUser));
    put(L"p_password", EncodedText(g.proxyPassword));
    put(L"p_protocol", FileText(g.proxyProtocol));
    put(L"p_protocolparam", EncodedText(g.proxyProtocolParam));
    put(L"p_obfs", FileText(g.proxyObfs));
    put(L"p_obfsparam", EncodedText(g.proxyObfsParam));
    put(L"p_method", FileText(g.proxyMethod));
}

}  // namespace

CSubscriptionStore::CSubscriptionStore(std::filesystem::path programFolder)
    : programFolder_(std::move(programFolder)) {}

std::filesystem::path CSubscriptionStore::GetFilePath() const {
    return CIniNembril(programFolder_.empty() ? GetAppDir() : programFolder_, kFileName).GetPathName();
}

SubscriptionGroupList::iterator CSubscriptionStore::FindUrl(const std::wstring& url) {
    for (auto it = groups_.begin(); it != groups_.end(); ++it) {
        if (AsciiEqualsNoCase((*it)->url, url)) return it;
    }
    return groups_.end();
}

int CSubscriptionStore::HasUrl(const std::wstring& url) const {
    for (const auto& g : groups_) {
        if (AsciiEqualsNoCase(g->url, url)) return 1;
    }
    return 0;
}

void CSubscriptionStore::Load() {
    std::filesystem::path file = GetFilePath();
    if (file.empty()) return;
    std::error_code ec;
    bool exists = std::filesystem::exists(file, ec);
    if (ec) return;
    if (exists) {
        // A file we cannot read must survive until it can be read again.
        std::string bytes;
        if (!ReadWholeFile(file, &bytes)) return;
    }
    syncedFile_ = file;

    CIni ini(file);
    int n = 1;
    int dropped = 0;
    for (;; ++n) {
        auto group = std::make_unique<SubscriptionGroup>();
        if (!ReadRecord(ini, n, *group)) break;
        if (group->url.empty() || HasUrl(group->url)) {
            ++dropped;
            continue;
        }
        groups_.push_back(std::move(group));
    }
    changed_ = false;
    int highest = exists ? HighestRecordNumber(ini) : 0;
    // A rewrite would lose what the list does not hold: the file is kept
    // aside first (Save).
    needsBackup_ = highest >= n || dropped > 0;
    if (highest >= n)
        AppendToProgramLogOrStderr("Subscriptions: " + file.string() + " ends its list at record " +
                                   std::to_string(n) + " but has keys up to record " + std::to_string(highest) +
                                   "; those records are not loaded");
    if (dropped > 0)
        AppendToProgramLogOrStderr("Subscriptions: " + std::to_string(dropped) +
                                   " records without a URL or with a repeated one are not loaded");
}

std::filesystem::path CSubscriptionStore::GetBackupPath() const {
    std::filesystem::path file = GetFilePath();
    return file.empty() ? file : std::filesystem::path(file.string() + ".bak");
}

bool CSubscriptionStore::KeepAsideBeforeRewrite(const std::filesystem::path& file) {
    if (!needsBackup_) return true;
    std::filesystem::path backup = GetBackupPath();
    std::error_code ec;
    if (std::filesystem::exists(backup, ec) || ec) {
        // An earlier copy stays: it is the older, fuller one.
        AppendToProgramLogOrStderr("Subscriptions: " + backup.string() + " already exists; rewriting " +
                                   file.string() + " without a new copy");
        needsBackup_ = false;
        return true;
    }
    std::string bytes;
    if (!ReadWholeFile(file, &bytes) || !WriteFileAtomically(backup, bytes)) {
        AppendToProgramLogOrStderr("Subscriptions: " + file.string() + " could not be copied to " +
                                   backup.string() + "; it is not rewritten");
        return false;
    }
    AppendToProgramLogOrStderr("Subscriptions: " + file.string() + " copied to " + backup.string() +
                               " before its first rewrite");
    needsBackup_ = false;
    return true;
}

int CSubscriptionStore::Save() {
    std::filesystem::path file = GetFilePath();
    if (file.empty()) return 0;
    std::error_code ec;
    if (file != syncedFile_) {
        bool exists = std::filesystem::exists(file, ec);
        if (ec || exists) return 0;  // its records were never loaded: keep them
    }
    if (file == syncedFile_ && !KeepAsideBeforeRewrite(file)) return 0;
    bool written;
    if (groups_.empty()) {
        std::filesystem::remove(file, ec);
        written = !ec;
    } else {
        std::vector<std::pair<std::wstring, std::wstring>> values;
        int n = 0;
        for (const auto& g : groups_) AppendRecord(values, *g, ++n);
        written = CIni(file).WriteSectionFile(kSection, values) == 1;
    }
    if (!written) return 0;
    syncedFile_ = file;
    changed_ = false;
    return 1;
}

int CSubscriptionStore::SaveIfChanged() {
    return changed_ ? Save() : 1;
}

// Each change is saved at once; a change the file did not take is undone,
// so that the list never claims what the next start would not find.
int CSubscriptionStore::Add(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
                            const std::wstring& defaultObfsParams) {
    if (HasUrl(url)) return 1;
    auto group = std::make_unique<SubscriptionGroup>();
    group->url = url;
    group->frequency = frequency;
    group->defaultObfsParams = defaultObfsParams;
    if (node) CopyUpdateProxy(*group, node);
    const bool wasChanged = changed_;
    groups_.push_back(std::move(group));
    changed_ = true;
    if (Save()) return 1;
    groups_.pop_back();
    changed_ = wasChanged;
    return 0;
}

int CSubscriptionStore::Edit(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
                             const std::wstring& defaultObfsParams) {
    if (url.empty()) return 0;
    auto it = FindUrl(url);
    if (it == groups_.end()) return 0;
    SubscriptionGroup& group = **it;
    const SubscriptionGroup before = group;
    const bool wasChanged = changed_;
    group.defaultObfsParams = defaultObfsParams;
    group.frequency = frequency;
    CopyUpdateProxy(group, node);
    changed_ = true;
    if (Save()) return 1;
    group = before;
    changed_ = wasChanged;
    return 0;
}

int CSubscriptionStore::Remove(const std::wstring& url) {
    auto it = FindUrl(url);
    if (it == groups_.end()) return 0;
    std::unique_ptr<SubscriptionGroup> removed = std::move(*it);
    auto next = groups_.erase(it);
    const bool wasChanged = changed_;
    changed_ = true;
    if (Save()) return 1;
    groups_.insert(next, std::move(removed));
    changed_ = wasChanged;
    return 0;
}

CSubscriptionStore& ProgramSubscriptionStore() {
    static CSubscriptionStore store;
    return store;
}

namespace {

CSubscriptionStore& ProgramStore() {
    return ProgramSubscriptionStore();
}

}  // namespace

void LoadSubscriptions() {
    ProgramStore().Load();
}

int SaveSubscriptions() {
    return ProgramStore().SaveIfChanged();
}

const SubscriptionGroupList& GetSubscriptionGroups() {
    return ProgramStore().GetGroups();
}

int HasSubscriptionUrl(const std::wstring& url) {
    return ProgramStore().HasUrl(url);
}

int AddSubscriptionGroup(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
                         const std::wstring& defaultObfsParams) {
    return ProgramStore().Add(node, url, frequency, defaultObfsParams);
}

int EditSubscriptionGroup(const CNodeInfo* node, const std::wstring& url, int32_t frequency,
                          const std::wstring& defaultObfsParams) {
    return ProgramStore().Edit(node, url, frequency, defaultObfsParams);
}

int RemoveSubscriptionGroup(const std::wstring& url) {
    return ProgramStore().Remove(url);
}
