#pragma once
// Proxy modes and their rules files. A mode decides which traffic goes
// through the tunnel: the three built-in modes, then one mode per ".rules"
// file in the program's "rules" folder. A rules file is UTF-8 text, plain or
// in the encrypted data-file container: a header line
//   #English,Chinese,route-all,rules-go-direct,type,encoded,built-in,DNS policy,remarks
// then one IPv4 network per line, "a.b.c.d/N" or "a.b.c.d\m.m.m.m".
//
// Rule lines are read strictly: dotted decimal addresses and masks only (no
// octal or short forms), prefix lengths 1 to 32, contiguous masks, no bits
// of the address outside the mask, no network twice. Every refused line is
// logged with file, line number and reason and kept on the mode; the rest
// apply.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/singleton.h"

enum ProxyModeType : int {
    ProxyModeGlobal = 0,  // everything through the tunnel
    ProxyModeRules = 1,   // 1 and 2: modes read from rules files, treated alike
    ProxyModeRulesAlt = 2,
    ProxyModeBrowser = 3,     // no tunnel; the system proxy points at the local HTTP proxy
    ProxyModeBrowserPac = 4,  // as 3, with the proxy auto-configuration file
};

// Which way the connect operation routes the DNS servers: 0 "Auto", 1 "Direct", 2 "Proxify".
enum ModeDnsPolicy : int {
    ModeDnsAuto = 0,
    ModeDnsDirect = 1,
    ModeDnsProxify = 2,
};

// One rule line.
struct CProxyModeRule {
    uint32_t network = 0;     // host order; the key of the mode's rule map
    std::string addressText;  // the address part as written
    uint32_t mask = 0;        // network order
    int prefixLength = 0;     // N of an address/N line; 0 for a line written with a mask
    std::string maskText;     // the mask, dotted
};

// A rule line that was refused, for the log and the mode editor.
struct RejectedRuleLine {
    int lineNumber = 0;
    std::string text;
    std::string reason;
};

// Where a rule line has its separator: 0 "/", 1 "\", -1 neither (the first one found counts).
int GetRuleForm(std::string_view line);
// The prefix length after "/": 1 to 32, or -1 when it is anything else.
int ParseRulePrefix(std::string_view line);
// The mask (network order) after "\": a contiguous, non-zero dotted mask, or 0.
uint32_t ParseRuleMask(std::string_view line);
// Parses one rule line (spaces and tabs at both ends ignored); false with
// the reason when it is refused.
bool ParseRuleLine(std::string_view line, CProxyModeRule* rule, std::string* reason);

class CProxyMode {
public:
    CProxyMode();  // takes the next id (the first mode made gets 1)
    CProxyMode(const CProxyMode&) = delete;
    CProxyMode& operator=(const CProxyMode&) = delete;

    // Reads the rules once from the mode's file and returns the number of
    // rules; 0 for built-in modes. The file is read only the first time,
    // also when it could not be read.
    int LoadRules();
    // Adds the rules of `text` (UTF-8 lines); returns the number added. Line
    // numbers in the log and the refused list count from `firstLine`.
    int ParseRules(std::string_view text, int firstLine = 1);
    // Appends every rule in map order, each followed by CR LF.
    void FormatRules(std::wstring& out) const;
    void ClearRules();
    int HasNetwork(uint32_t network) const { return rules.count(network) ? 1 : 0; }
    int IsGlobalMode() const { return type == ProxyModeGlobal; }
    int IsSystemProxyMode() const { return type == ProxyModeBrowser || type == ProxyModeBrowserPac; }
    int GetDnsPolicy() const { return dnsPolicy; }

    int builtIn = 0;
    int id = 0;
    int rulesLoaded = 0;
    std::wstring path;  // empty for the built-in modes
    int encoded = 1;    // 1: stored in the compressed, encrypted container; 0: plain text
    int type = ProxyModeRules;
    std::wstring nameEn;
    std::wstring nameCn;
    int routeAll = 1;     // route 0.0.0.0/0, 0.0.0.0/1 and 128.0.0.0/1 through the tunnel
    int rulesDirect = 0;  // rule routes through the local gateway instead of the tunnel
    int dnsPolicy = ModeDnsAuto;
    std::wstring remarks;
    std::map<uint32_t, CProxyModeRule> rules;
    std::vector<RejectedRuleLine> rejectedRules;
};

// The list of modes.
class CProxyModeMgr : public CSingleton<CProxyModeMgr> {
public:
    const std::vector<std::unique_ptr<CProxyMode>>& GetModes() const { return modes_; }

    // Reads every "*.rules" file of "<folder>/rules" once per process, in
    // the order of their names without regard to case, and, with
    // `loadRules`, their rules. Returns the number of modes (built-in ones
    // included); 0 when the folder is empty or the list was already loaded.
    int LoadModes(const std::filesystem::path& folder, int loadRules);
    // Reads one file into the list (and its rules with `loadRules`); 1.
    int LoadModeFile(const std::filesystem::path& path, int loadRules);
    // 0 when the file is plain text (its first line is a header of more than
    // five fields), else 1.
    int IsEncodedModeFile(const std::filesystem::path& path);
    // The mode of one file, added to the list; null when the file cannot be
    // read or decoded, its header is not valid, or a mode of the same names
    // is already listed (each logged).
    CProxyMode* ReadModeFile(const std::filesystem::path& path);
    // 1 when a mode has both names (without regard to case).
    int HasModeNamed(const std::wstring& nameEn, const std::wstring& nameCn) const;
    // Takes the mode unless HasModeNamed; returns it then, else null (the mode is dropped).
    CProxyMode* AddModeIfNew(std::unique_ptr<CProxyMode> mode);
    CProxyMode* FindModeByPath(const std::wstring& path) const;

    // Makes a mode of "<folder>/rules/<fileName>" from the arguments (folder
    // empty: the one LoadModes kept) and, with `write`, writes its file. A
    // mode already listed with that path is updated in place (keeping its id);
    // otherwise the new mode is added. Returns 0, and changes nothing, when a
    // name is empty, a name or the remarks hold a comma, CR or LF (they would
    // break the header), the file name is no plain name, no folder is known,
    // or the file cannot be written; else 1.
    int SaveMode(const std::wstring& fileName, int type, const std::wstring& nameEn,
                 const std::wstring& nameCn, int routeAll, int rulesDirect, const std::wstring& ruleText,
                 int write, int encoded, int dnsPolicy, const std::wstring& remarks, int builtIn,
                 const std::filesystem::path& folder = {});
    // Deletes the mode's file and removes it from the list; 1 when found.
    int DeleteMode(int id);
    // Saves a mode as SaveMode does in place of mode `id`, which leaves the
    // list only once the new file is written; its own file is deleted unless
    // it is the file just written. The saved mode comes last, with a new id.
    // 0 when `id` is not listed, another mode has both names or the save
    // fails: then the list and the files are as they were.
    int ReplaceMode(int id, const std::wstring& fileName, int type, const std::wstring& nameEn,
                    const std::wstring& nameCn, int routeAll, int rulesDirect, const std::wstring& ruleText,
                    int encoded, int dnsPolicy, const std::wstring& remarks);

    // Taken when 0 <= index < number of modes.
    void SetCurrentIndex(int index);
    int GetCurrentIndex() const { return currentIndex_; }
    // The mode at the current index (an index outside the list becomes 0);
    // null for an empty list.
    CProxyMode* GetCurrentMode();

private:
    friend class CSingleton<CProxyModeMgr>;
    CProxyModeMgr();
    ~CProxyModeMgr() override = default;

    int loaded_ = 0;
    int currentIndex_ = 0;
    std::vector<std::unique_ptr<CProxyMode>> modes_;
    std::filesystem::path folder_;
};
