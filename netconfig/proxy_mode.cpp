#include "netconfig/proxy_mode.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <system_error>

#include "foundation/file_builder.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "netconfig/ipv4_text.h"
#include "netconfig/netconfig_log.h"
#include "netconfig/route_table.h"

namespace {

// Rule lines longer than this are refused.
constexpr size_t kMaxRuleLine = 99;

std::atomic<int> g_nextModeId{1};

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

size_t SeparatorAt(std::string_view line) {
    return line.find_first_of("/\\");
}

// The whole text of a mode file, plain or from its container; false when it
// cannot be read or decoded, or is empty.
bool ReadModeText(const std::filesystem::path& path, int encoded, std::string* text) {
    CFileBuilderCompressBase64 file(path);
    file.SetPlainMode(encoded ? 0 : 1);
    if (!file.Open(1, 0)) return false;
    const char* data = file.Read();
    if (!data || !*data) return false;
    *text = data;
    return true;
}

bool HasHeaderBreakers(const std::wstring& text) {
    return text.find_first_of(L",\r\n") != std::wstring::npos;
}

bool IsPlainFileName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find(L'/') == std::wstring::npos &&
           name.find(L'\0') == std::wstring::npos;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && ToLowerW(a) == ToLowerW(b);
}

}  // namespace

int GetRuleForm(std::string_view line) {
    size_t at = SeparatorAt(line);
    if (at == std::string_view::npos) return -1;
    return line[at] == '/' ? 0 : 1;
}

int ParseRulePrefix(std::string_view line) {
    size_t at = line.find('/');
    if (at == std::string_view::npos) return -1;
    std::string_view digits = TrimBlanks(line.substr(at + 1));
    if (digits.empty() || digits.size() > 2 || digits[0] == '0') return -1;
    int value = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9') return -1;
        value = value * 10 + (ch - '0');
    }
    return value >= 1 && value <= 32 ? value : -1;
}

uint32_t ParseRuleMask(std::string_view line) {
    size_t at = line.find('\\');
    if (at == std::string_view::npos) return 0;
    uint32_t mask = 0;
    if (!ParseDottedIPv4(TrimBlanks(line.substr(at + 1)), &mask)) return 0;
    return MaskToPrefixLength(mask) > 0 ? mask : 0;
}

bool ParseRuleLine(std::string_view line, CProxyModeRule* rule, std::string* reason) {
    line = TrimBlanks(line);
    if (line.size() > kMaxRuleLine) {
        *reason = "line longer than 99 characters";
        return false;
    }
    int form = GetRuleForm(line);
    if (form < 0) {
        *reason = "neither address/prefix nor address\\mask";
        return false;
    }
    std::string_view addressText = TrimBlanks(line.substr(0, SeparatorAt(line)));
    uint32_t address = 0;
    if (!ParseDottedIPv4(addressText, &address)) {
        *reason = "address is not four decimal numbers 0-255 without leading zeros";
        return false;
    }
    int prefix = 0;
    uint32_t mask = 0;
    if (form == 0) {
        prefix = ParseRulePrefix(line);
        if (prefix < 0) {
            *reason = "prefix length is not 1 to 32";
            return false;
        }
        mask = PrefixToNetmask(prefix);
    } else {
        mask = ParseRuleMask(line);
        if (mask == 0) {
            *reason = "mask is not a dotted, contiguous, non-zero mask";
            return false;
        }
    }
    if ((address & ~mask) != 0) {
        *reason = "address has bits set outside the mask";
        return false;
    }
    rule->network = ntohl(address);
    rule->addressText.assign(addressText);
    rule->mask = mask;
    rule->prefixLength = prefix;
    rule->maskText = DottedIPv4(mask);
    return true;
}

CProxyMode::CProxyMode() : id(g_nextModeId.fetch_add(1)) {}

int CProxyMode::ParseRules(std::string_view text, int firstLine) {
    int added = 0;
    int lineNumber = firstLine;
    std::string source = path.empty() ? std::string("rule text") : WideToUtf8String(path);
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        int number = lineNumber++;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (TrimBlanks(line).empty()) continue;
        CProxyModeRule rule;
        std::string reason;
        if (ParseRuleLine(line, &rule, &reason) && rules.count(rule.network)) reason = "network repeated";
        if (!reason.empty()) {
            NetconfigLog(source + ":" + std::to_string(number) + ": rule refused (" + reason + ")");
            rejectedRules.push_back(RejectedRuleLine{number, std::string(line.substr(0, 200)), reason});
            continue;
        }
        rules.emplace(rule.network, std::move(rule));
        ++added;
    }
    return added;
}

void CProxyMode::FormatRules(std::wstring& out) const {
    for (const auto& [network, rule] : rules) {
        std::string line = rule.prefixLength != 0 ? rule.addressText + "/" + std::to_string(rule.prefixLength)
                                                  : rule.addressText + "\\" + rule.maskText;
        out += Utf8ToWideString(line);
        out += L"\r\n";
    }
}

void CProxyMode::ClearRules() {
    rules.clear();
    rejectedRules.clear();
}

int CProxyMode::LoadRules() {
    if (rulesLoaded) return static_cast<int>(rules.size());
    if (path.empty() || IsGlobalMode() || IsSystemProxyMode()) return 0;
    std::string text;
    if (ReadModeText(WideToPath(path), encoded, &text)) {
        size_t lf = text.find('\n');
        // The header is line 1; a text without one is all rules.
        if (lf != std::string::npos) {
            ParseRules(std::string_view(text).substr(lf + 1), 2);
        } else {
            ParseRules(text, 1);
        }
    } else {
        NetconfigLog("Proxy mode " + WideToUtf8String(path) + ": rules could not be read");
    }
    rulesLoaded = 1;
    return static_cast<int>(rules.size());
}

CProxyModeMgr::CProxyModeMgr() {
    struct BuiltIn {
        const wchar_t* name;
        int type;
        int routeAll;
    } builtIns[] = {{L"Global wide", ProxyModeGlobal, 1},
                    {L"Web Browser only(Global)", ProxyModeBrowser, 0},
                    {L"Web Browser only(Skip Chinese sites)", ProxyModeBrowserPac, 0}};
    for (const BuiltIn& b : builtIns) {
        auto mode = std::make_unique<CProxyMode>();
        mode->nameEn = b.name;
        mode->nameCn = b.name;
        mode->type = b.type;
        mode->routeAll = b.routeAll;
        mode->rulesDirect = 0;
        mode->builtIn = 1;
        mode->remarks = L"Built-in rule";
        modes_.push_back(std::move(mode));
    }
}

int CProxyModeMgr::LoadModes(const std::filesystem::path& folder, int loadRules) {
    if (folder.empty() || loaded_) return 0;
    folder_ = folder;
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder / "rules", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_directory(ec)) continue;
        std::string name = it->path().filename().string();
        if (name.size() > 6 && ToLower(name.substr(name.size() - 6)) == ".rules") files.push_back(it->path());
    }
    // The saved current mode is an index, so the order must not depend on the file system.
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
        std::string la = ToLower(a.filename().string()), lb = ToLower(b.filename().string());
        return la != lb ? la < lb : a.filename() < b.filename();
    });
    int count = 0;
    for (const auto& file : files) count += LoadModeFile(file, loadRules);
    if (count > 0) loaded_ = 1;
    return static_cast<int>(modes_.size());
}

int CProxyModeMgr::LoadModeFile(const std::filesystem::path& path, int loadRules) {
    CProxyMode* mode = ReadModeFile(path);
    if (mode && loadRules) mode->LoadRules();
    return 1;
}

int CProxyModeMgr::IsEncodedModeFile(const std::filesystem::path& path) {
    std::string text;
    if (!ReadModeText(path, 0, &text)) return 1;
    size_t lf = text.find('\n');
    if (lf == std::string::npos || text[0] != '#') return 1;
    std::vector<std::string> fields;
    int pieces = SplitString(std::string_view(text).substr(1, lf - 1), ",", fields, true);
    return pieces > 5 ? 0 : 1;
}

CProxyMode* CProxyModeMgr::ReadModeFile(const std::filesystem::path& path) {
    std::string where = "Proxy mode file " + path.string() + ": ";
    int encoded = IsEncodedModeFile(path);
    std::string text;
    if (!ReadModeText(path, encoded, &text)) {
        NetconfigLog(where + (encoded ? "cannot be read or decoded" : "cannot be read"));
        return nullptr;
    }
    size_t lf = text.find('\n');
    std::string_view header =
        lf == std::string::npos ? std::string_view() : std::string_view(text).substr(0, lf);
    if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
    std::vector<std::string> fields;
    if (header.size() < 2 || header[0] != '#' || SplitString(header.substr(1), ",", fields, true) < 6 ||
        fields[0].empty() || fields[1].empty()) {
        NetconfigLog(where + "no valid header line");
        return nullptr;
    }
    auto mode = std::make_unique<CProxyMode>();
    mode->path = PathToWide(path);
    mode->encoded = encoded;
    mode->nameEn = Utf8ToWideString(fields[0]);
    mode->nameCn = Utf8ToWideString(fields[1]);
    mode->routeAll = fields[2] == "1" ? 1 : 0;
    mode->rulesDirect = fields[3] == "1" ? 1 : 0;
    int type = std::atoi(fields[4].c_str());
    mode->type = type == 1 || type == 2 ? type : ProxyModeRules;
    if (fields.size() == 9) {
        mode->builtIn = std::atoi(fields[6].c_str()) == 1 ? 1 : 0;
        int policy = std::atoi(fields[7].c_str());
        mode->dnsPolicy = policy >= 0 && policy <= 2 ? policy : ModeDnsAuto;
        mode->remarks = Utf8ToWideString(fields[8]);
    }
    CProxyMode* added = AddModeIfNew(std::move(mode));
    if (!added) NetconfigLog(where + "a mode of the same names is already listed");
    return added;
}

int CProxyModeMgr::HasModeNamed(const std::wstring& nameEn, const std::wstring& nameCn) const {
    for (const auto& mode : modes_) {
        if (EqualsNoCase(mode->nameEn, nameEn) && EqualsNoCase(mode->nameCn, nameCn)) return 1;
    }
    return 0;
}

CProxyMode* CProxyModeMgr::AddModeIfNew(std::unique_ptr<CProxyMode> mode) {
    if (!mode || HasModeNamed(mode->nameEn, mode->nameCn)) return nullptr;
    modes_.push_back(std::move(mode));
    return modes_.back().get();
}

CProxyMode* CProxyModeMgr::FindModeByPath(const std::wstring& path) const {
    if (path.empty()) return nullptr;
    for (const auto& mode : modes_) {
        if (mode->path == path) return mode.get();
    }
    return nullptr;
}

int CProxyModeMgr::SaveMode(const std::wstring& fileName, int type, const std::wstring& nameEn,
                            const std::wstring& nameCn, int routeAll, int rulesDirect,
                            const std::wstring& ruleText, int write, int encoded, int dnsPolicy,
                            const std::wstring& remarks, int builtIn, const std::filesystem::path& folder) {
    const std::filesystem::path& base = folder.empty() ? folder_ : folder;
    if (base.empty() || !IsPlainFileName(fileName)) return 0;
    // A comma, CR or LF would split the header into other fields; an empty
    // name would make the file unreadable next time.
    if (nameEn.empty() || nameCn.empty() || HasHeaderBreakers(nameEn) || HasHeaderBreakers(nameCn) ||
        HasHeaderBreakers(remarks)) {
        return 0;
    }
    if (dnsPolicy < 0 || dnsPolicy > 2) dnsPolicy = ModeDnsAuto;
    std::filesystem::path file = base / "rules" / WideToPath(fileName);

    auto mode = std::make_unique<CProxyMode>();
    mode->path = PathToWide(file);
    mode->type = type;
    mode->nameEn = nameEn;
    mode->nameCn = nameCn;
    mode->routeAll = routeAll;
    mode->rulesDirect = rulesDirect;
    mode->encoded = encoded;
    mode->builtIn = builtIn;
    mode->remarks = remarks;
    mode->dnsPolicy = dnsPolicy;
    if (!ruleText.empty()) mode->ParseRules(WideToUtf8String(ruleText));

    if (write) {
        std::wstring rulesText;
        mode->FormatRules(rulesText);
        std::wstring whole = L"#" + nameEn + L"," + nameCn + L"," + std::to_wstring(routeAll) + L"," +
                             std::to_wstring(rulesDirect) + L"," + std::to_wstring(type) + L"," +
                             std::to_wstring(encoded) + L"," + std::to_wstring(builtIn) + L"," +
                             std::to_wstring(dnsPolicy) + L"," + remarks + L"\n" + rulesText;
        std::string utf8 = WideToUtf8String(whole);
        ReplaceAll(utf8, "\r\n", "\n");
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        CFileBuilderCompressBase64 writer(file);
        writer.SetPlainMode(encoded ? 0 : 1);
        if (!writer.Open(0, 0) || writer.Write(utf8.data(), utf8.size()) != FB_SUCCESS) {
            NetconfigLog("Proxy mode file " + file.string() + ": could not be written");
            return 0;
        }
    }

    if (CProxyMode* old = FindModeByPath(mode->path)) {
        old->routeAll = mode->routeAll;
        old->rulesDirect = mode->rulesDirect;
        old->nameEn = mode->nameEn;
        old->nameCn = mode->nameCn;
        old->rules = std::move(mode->rules);
        old->rejectedRules = std::move(mode->rejectedRules);
        old->type = mode->type;
        old->encoded = mode->encoded;
        old->builtIn = mode->builtIn;
        old->dnsPolicy = mode->dnsPolicy;
        old->remarks = mode->remarks;
    } else {
        AddModeIfNew(std::move(mode));
    }
    return 1;
}

int CProxyModeMgr::DeleteMode(int id) {
    for (auto it = modes_.begin(); it != modes_.end(); ++it) {
        if ((*it)->id != id) continue;
        if (!(*it)->path.empty()) {
            std::error_code ec;
            std::filesystem::remove(WideToPath((*it)->path), ec);
        }
        modes_.erase(it);
        return 1;
    }
    return 0;
}

int CProxyModeMgr::ReplaceMode(int id, const std::wstring& fileName, int type, const std::wstring& nameEn,
                               const std::wstring& nameCn, int routeAll, int rulesDirect,
                               const std::wstring& ruleText, int encoded, int dnsPolicy,
                               const std::wstring& remarks) {
    auto it = std::find_if(modes_.begin(), modes_.end(), [id](const auto& m) { return m->id == id; });
    if (it == modes_.end()) return 0;
    // Out of the list while the new one is saved, so that its own file and
    // names are no clash; back in its place when the save fails or another
    // mode has the names (the saved one would be dropped).
    const auto index = it - modes_.begin();
    std::unique_ptr<CProxyMode> old = std::move(*it);
    modes_.erase(it);
    if (HasModeNamed(nameEn, nameCn) || !SaveMode(fileName, type, nameEn, nameCn, routeAll, rulesDirect, ruleText, 1, encoded, dnsPolicy,
                  remarks, 0)) {
        modes_.insert(modes_.begin() + index, std::move(old));
        return 0;
    }
    CProxyMode* saved = FindModeByPath(PathToWide(folder_ / "rules" / WideToPath(fileName)));
    if (!old->path.empty() && (!saved || saved->path != old->path)) {
        std::error_code ec;
        std::filesystem::remove(WideToPath(old->path), ec);
    }
    return 1;
}

void CProxyModeMgr::SetCurrentIndex(int index) {
    if (index >= 0 && index < static_cast<int>(modes_.size())) currentIndex_ = index;
}

CProxyMode* CProxyModeMgr::GetCurrentMode() {
    if (modes_.empty()) return nullptr;
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<int>(modes_.size())) currentIndex_ = 0;
    return modes_[currentIndex_].get();
}
