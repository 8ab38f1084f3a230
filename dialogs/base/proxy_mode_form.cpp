#include "dialogs/base/proxy_mode_form.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "foundation/app_paths.h"
#include "foundation/ascii_case.h"
#include "foundation/message_box.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "netconfig/proxy_mode.h"

namespace {

constexpr const wchar_t* kBlanks = L" \t\r\n";
constexpr const wchar_t* kRulesSuffix = L".rules";
// Refused rule lines the box lists; the rest are counted only by the log.
constexpr size_t kShownRefusals = 5;

std::wstring Trimmed(std::wstring text) {
    TrimStringW(text, kBlanks);
    return text;
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool HasHeaderBreakers(const std::wstring& text) { return text.find_first_of(L",\r\n") != std::wstring::npos; }

std::filesystem::path RulesFile(const std::wstring& fileName) {
    return GetAppDir() / "rules" / WideToPath(fileName);
}

// "line N: text (reason)" for the first refused lines of the text, or empty
// when every non-empty line is a rule.
std::string RefusedLines(const std::wstring& rules) {
    CProxyMode probe;
    probe.ParseRules(WideToUtf8String(rules));
    std::string lines;
    const size_t shown = std::min(probe.rejectedRules.size(), kShownRefusals);
    for (size_t i = 0; i < shown; ++i) {
        const RejectedRuleLine& r = probe.rejectedRules[i];
        char number[32];
        std::snprintf(number, sizeof number, "%d", r.lineNumber);
        std::string line = Translate("line %s: %s (%s)");
        for (const std::string& part : {std::string(number), r.text, std::string(Translate(r.reason.c_str()))}) {
            const size_t at = line.find("%s");
            if (at != std::string::npos) line.replace(at, 2, part);
        }
        lines += "\n" + line;
    }
    return lines;
}

}  // namespace

std::wstring ModeFileName(const std::wstring& nameEn) {
    std::wstring name = nameEn;
    std::replace_if(
        name.begin(), name.end(), [](wchar_t c) { return std::wstring_view(L" \\/:?\"<>|").find(c) != std::wstring_view::npos; },
        L'-');
    if (!EndsWith(name, kRulesSuffix)) name += kRulesSuffix;
    return name;
}

const char* CheckModeFileName(const std::wstring& fileName) {
    if (!fileName.empty() && fileName[0] == L'.') return Translate("The file name of the rule can not start with a dot.");
    if (WideToUtf8String(fileName).size() > 255) return Translate("The file name of the rule is longer than 255 bytes.");
    return nullptr;
}

std::wstring LineCounterText(int lines) {
    char text[128];
    std::snprintf(text, sizeof text, Translate("[%d] lines"), lines);
    return Utf8ToWideString(text);
}

int ActionRowOfMode(const CProxyMode& mode) { return mode.routeAll && mode.rulesDirect ? 0 : 1; }

void ActionRowFlags(int row, int* routeAll, int* rulesDirect) {
    *routeAll = row == 0 ? 1 : 0;
    *rulesDirect = row == 0 ? 1 : 0;
}

ProxyModeForm CDialogAddNewProxyModeCore::InitialForm() const {
    ProxyModeForm form;
    if (!editMode_ || editMode_->builtIn) return form;
    form.nameEn = editMode_->nameEn;
    form.nameCn = editMode_->nameCn;
    form.remarks = editMode_->remarks;
    form.actionRow = ActionRowOfMode(*editMode_);
    const int policy = editMode_->GetDnsPolicy();
    form.dnsRow = policy >= 0 && policy <= 2 ? policy : 0;
    editMode_->FormatRules(form.rules);
    return form;
}

int CDialogAddNewProxyModeCore::Refuse(const std::string& message) const {
    AppMessageBox(message.c_str(), MB_OK);
    return 0;
}

void CDialogAddNewProxyModeCore::CheckNameOnLeave(const std::wstring& nameEn) const {
    if (editMode_) return;
    const std::wstring name = Trimmed(nameEn);
    if (!name.empty() && !CheckModeFileName(ModeFileName(name)) && FileExists(RulesFile(ModeFileName(name))))
        Refuse(Translate("Rule already exists, please choose a new name."));
}

bool CDialogAddNewProxyModeCore::NamesTaken(const std::wstring& nameEn, const std::wstring& nameCn) const {
    for (const auto& mode : CProxyModeMgr::GetInstance()->GetModes()) {
        if (mode.get() == editMode_) continue;
        if (AsciiEqualsNoCase(mode->nameEn, nameEn) && AsciiEqualsNoCase(mode->nameCn, nameCn)) return true;
    }
    return false;
}

int CDialogAddNewProxyModeCore::Save(const ProxyModeForm& form) {
    const std::wstring nameEn = Trimmed(form.nameEn);
    std::wstring nameCn = Trimmed(form.nameCn);
    const std::wstring rules = Trimmed(form.rules);
    const std::wstring remarks = Trimmed(form.remarks);
    if (nameEn.empty()) return Refuse(Translate("English name of rule can not be empty."));
    if (rules.empty()) return Refuse(Translate("Rules list can not be empty."));
    if (form.actionRow < 0 || form.actionRow > 1) return Refuse(Translate("Please select action type."));
    if (form.dnsRow < 0 || form.dnsRow > 2) return Refuse(Translate("Please tell me how to process DNS reuqest."));
    // Each of these would split the file's header line.
    if (HasHeaderBreakers(nameEn))
        return Refuse(Translate("English name of rule can not contain a comma or a line break."));
    if (HasHeaderBreakers(nameCn))
        return Refuse(Translate("Chinese name of rule can not contain a comma or a line break."));
    if (HasHeaderBreakers(remarks)) return Refuse(Translate("Remarks can not contain a comma or a line break."));

    const std::wstring fileName = ModeFileName(nameEn);
    if (const char* refused = CheckModeFileName(fileName)) return Refuse(refused);
    const std::filesystem::path file = RulesFile(fileName);
    const bool ownFile = editMode_ && WideToPath(editMode_->path) == file;
    if (nameCn.empty()) nameCn = nameEn;
    if ((!ownFile && FileExists(file)) || NamesTaken(nameEn, nameCn))
        return Refuse(Translate("Rule already exists, please choose a new name."));
    // The text as typed, so that line numbers match the editor's.
    const std::string refusedLines = RefusedLines(form.rules);
    if (!refusedLines.empty()) return Refuse(Translate("Some rules are not valid:") + refusedLines);

    int routeAll = 0;
    int rulesDirect = 0;
    ActionRowFlags(form.actionRow, &routeAll, &rulesDirect);
    CProxyModeMgr* mgr = CProxyModeMgr::GetInstance();
    const int saved =
        editMode_ ? mgr->ReplaceMode(editMode_->id, fileName, ProxyModeRules, nameEn, nameCn, routeAll, rulesDirect,
                                     rules, 0, form.dnsRow, remarks)
                  : mgr->SaveMode(fileName, ProxyModeRules, nameEn, nameCn, routeAll, rulesDirect, rules, 1, 0,
                                  form.dnsRow, remarks, 0);
    if (!saved) return Refuse(Translate("Add proxy mode failed."));
    // The edited mode is gone from the list now.
    editMode_ = nullptr;
    return 1;
}

std::vector<ProxyModeRow> CDialogProxyModeManagementCore::Rows() {
    std::vector<ProxyModeRow> rows;
    const bool chinese = IsChineseUiLocale() != 0;
    for (const auto& mode : CProxyModeMgr::GetInstance()->GetModes())
        rows.push_back({chinese ? mode->nameCn : mode->nameEn, mode->remarks, mode.get()});
    return rows;
}

bool CDialogProxyModeManagementCore::CanChange(const CProxyMode* mode) { return mode && !mode->builtIn; }

int CDialogProxyModeManagementCore::Delete(CProxyMode* mode) {
    if (!CanChange(mode) || !CProxyModeMgr::GetInstance()->DeleteMode(mode->id)) return 0;
    changed_ = 1;
    return 1;
}
