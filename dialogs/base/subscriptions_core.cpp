#include "dialogs/base/subscriptions_core.h"

#include <cwctype>

#include "dialogs/base/node_form.h"
#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "foundation/translate.h"
#include "nodes/node_info.h"

namespace {

const char* FrequencyId(int frequency) {
    switch (frequency) {
        case 0: return N_("Every time");
        case 2: return N_("2 days");
        case 3: return N_("3 days");
        default: return N_("1 day");
    }
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (static_cast<wchar_t>(towlower(static_cast<wint_t>(text[i]))) != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::string GetFrequencyText(int frequency) {
    return Translate(FrequencyId(frequency));
}

bool SubscriptionHasProxy(const SubscriptionGroup& group) {
    return !group.proxyServer.empty() && group.proxyPort != 0;
}

std::wstring ProxyAddressText(const std::string& server, int port) {
    return Utf8ToWideString(server) + L":" + std::to_wstring(port);
}

std::vector<std::wstring> SubscriptionRowTexts(const SubscriptionGroup& group) {
    return {group.groupName,
            group.url,
            Utf8ToWideString(GetFrequencyText(group.frequency)),
            group.recentlyUpdated <= 0 ? std::wstring(L"-") : FormatLocalTime(L"%Y-%m-%d %H:%M:%S", group.recentlyUpdated),
            group.defaultObfsParams,
            SubscriptionHasProxy(group) ? ProxyAddressText(group.proxyServer, group.proxyPort) : std::wstring()};
}

DialogMessage CheckSubscriptionUrl(const std::wstring& url) {
    const DialogMessage bad{N_("Enter an http or https address with a host name."), {}};
    size_t hostStart = 0;
    if (StartsWithNoCase(url, L"http://")) {
        hostStart = 7;
    } else if (StartsWithNoCase(url, L"https://")) {
        hostStart = 8;
    } else {
        return bad;
    }
    for (wchar_t c : url) {
        if (c == L' ' || c == 0x3000 || c == 0xA0 || HasControlCharacter(std::wstring_view(&c, 1))) return bad;
    }
    // The host ends at the path, query or fragment; user info and port may precede it.
    std::wstring authority = url.substr(hostStart, url.find_first_of(L"/?#", hostStart) - hostStart);
    if (size_t at = authority.rfind(L'@'); at != std::wstring::npos) authority.erase(0, at + 1);
    if (size_t colon = authority.rfind(L':'); colon != std::wstring::npos && authority.find(L']') == std::wstring::npos)
        authority.erase(colon);
    if (authority.empty()) return bad;
    return {};
}

std::wstring ProxyChooserRowText(const CNodeInfo& node, bool hideAddresses) {
    std::string label;
    node.GetTypeLabel(label);
    const std::wstring group = Utf8ToWideString(node.group.empty() ? std::string(Translate("Default Group")) : node.group);
    const std::wstring head = L"[" + Utf8ToWideString(label) + L"] " + group + L" -> ";
    if (!node.remarks.empty()) return head + Utf8ToWideString(node.remarks);
    if (hideAddresses) return L"[-] -:-";
    return head + ProxyAddressText(node.host, node.port);
}

CEditSubscriptionCore::CEditSubscriptionCore(const SubscriptionGroup& group)
    : url_(group.url),
      name_(group.groupName),
      params_(group.defaultObfsParams),
      frequency_(group.frequency),
      server_(group.proxyServer),
      port_(group.proxyPort) {}

std::wstring CEditSubscriptionCore::UrlText() const {
    return name_.empty() ? url_ : L"[" + name_ + L"] " + url_;
}

void CEditSubscriptionCore::OnParamsEdited(const std::wstring& text) {
    if (TrimmedText(text) != params_) changed_ = 1;
}

void CEditSubscriptionCore::OnProxyChosen(CNodeInfo* node) {
    if (!node) return;
    chosen_ = node;
    changed_ = 1;
}

void CEditSubscriptionCore::OnRemoveProxy() {
    chosen_ = nullptr;
    server_.clear();
    port_ = 0;
    changed_ = 1;
}

void CEditSubscriptionCore::OnSave(int frequencyRow, const std::wstring& params) {
    frequency_ = frequencyRow >= 0 && frequencyRow < kFrequencyCount ? frequencyRow : 1;
    params_ = TrimmedText(params);
}

CSubscriptionsCore::Outcome CSubscriptionsCore::Add(const std::wstring& typed, int frequencyRow,
                                                    const std::wstring& params) {
    Outcome out;
    const std::wstring url = TrimmedText(typed);
    if (url.empty()) return out;
    if ((out.message = CheckSubscriptionUrl(url))) return out;
    const int frequency = frequencyRow >= 0 && frequencyRow < kFrequencyCount ? frequencyRow : 1;
    if (!store_.Add(chosen_, url, frequency, TrimmedText(params))) {
        out.message = {N_("The subscriptions could not be saved; nothing was changed."), {}};
        return out;
    }
    chosen_ = nullptr;
    changed_ = 1;
    out.done = true;
    return out;
}

CSubscriptionsCore::Outcome CSubscriptionsCore::Remove(const std::wstring& url) {
    Outcome out;
    if (url.empty()) return out;
    if (!store_.Remove(url)) {
        out.message = {N_("The subscriptions could not be saved; nothing was changed."), {}};
        return out;
    }
    changed_ = 1;
    out.done = true;
    return out;
}

CSubscriptionsCore::Outcome CSubscriptionsCore::ApplyEdit(const SubscriptionGroup& group,
                                                          const CEditSubscriptionCore& edit) {
    Outcome out;
    int saved;
    if (edit.GetChosenProxy()) {
        saved = store_.Edit(edit.GetChosenProxy(), group.url, edit.GetFrequency(), edit.GetObfsParams());
    } else if (edit.HasProxy()) {
        // The kept update proxy, from the group's own stored values.
        CNodeInfo proxy;
        proxy.type = group.proxyType;
        proxy.host = group.proxyServer;
        proxy.port = group.proxyPort;
        proxy.user = group.proxyUser;
        proxy.password = group.proxyPassword;
        proxy.method = group.proxyMethod;
        proxy.protocol = group.proxyProtocol;
        proxy.protocolParam = group.proxyProtocolParam;
        proxy.obfs = group.proxyObfs;
        proxy.obfsParam = group.proxyObfsParam;
        saved = store_.Edit(&proxy, group.url, edit.GetFrequency(), edit.GetObfsParams());
    } else {
        saved = store_.Edit(nullptr, group.url, edit.GetFrequency(), edit.GetObfsParams());
    }
    if (!saved) {
        out.message = {N_("The subscriptions could not be saved; nothing was changed."), {}};
        return out;
    }
    changed_ = 1;
    out.done = true;
    return out;
}
