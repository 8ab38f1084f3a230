#include "dialogs/base/node_form.h"

#include <algorithm>
#include <set>

#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "netconfig/additional_route.h"
#include "nodes/node_info.h"
#include "nodes/node_mgr.h"

namespace {

constexpr const wchar_t* kBlank = L" \t\r\n";

bool IsLabelByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The label as a message names the field: its translation without the
// trailing colon.
std::string FieldName(const char* label) {
    std::string name = Translate(label);
    for (;;) {
        if (!name.empty() && (name.back() == ':' || name.back() == ' ')) {
            name.pop_back();
        } else if (name.size() >= 3 && name.compare(name.size() - 3, 3, "\xEF\xBC\x9A") == 0) {
            name.resize(name.size() - 3);  // full-width colon
        } else {
            return name;
        }
    }
}

}  // namespace

std::wstring TrimmedText(std::wstring text) {
    TrimStringW(text, kBlank);
    return text;
}

bool IsHostNameText(std::string_view text) {
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);
    if (text.empty() || text.size() > 253) return false;
    size_t label = 0;
    for (char c : text) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        if (!IsLabelByte(c) || ++label > 63) return false;
    }
    return label > 0;
}

DialogMessage CheckServerText(const std::string& server) {
    if (server.empty()) return {N_("Input server IP please."), {}};
    if (IsValidIPv4(server)) return {};
    // Text that reads as an address (10.1, 0x7f.1, 0.1.2.3) is not a name either.
    if (IsHostNameText(server) && !IsAddressText(server.c_str())) return {};
    return {N_("The server must be an IPv4 address or a host name."), {}};
}

DialogMessage ParsePortText(const std::wstring& typed, uint16_t* port) {
    const std::wstring text = TrimmedText(typed);
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return {N_("Enter an integer."), {}};
    const size_t digits = text.find_first_not_of(L'0');
    if (digits != std::wstring::npos && (text.size() - digits > 5 || std::stoul(text.substr(digits)) > 65535))
        return {N_("Enter an integer between %1 and %2."), {"0", "65535"}};
    *port = static_cast<uint16_t>(digits == std::wstring::npos ? 0 : std::stoul(text.substr(digits)));
    return {};
}

DialogMessage CheckPortNotZero(uint16_t port) {
    if (port == 0) return {N_("Port must be in 0-65535."), {}};
    return {};
}

bool HasControlCharacter(std::wstring_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](wchar_t c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0); });
}

DialogMessage CheckNoControlCharacters(const std::vector<NamedText>& fields) {
    for (const NamedText& field : fields) {
        if (field.text && HasControlCharacter(*field.text))
            return {N_("The field \"%1\" holds a control character."), {FieldName(field.label)}};
    }
    return {};
}

DialogMessage ResolveRouteText(const std::wstring& route, const RouteResolver& resolve, std::string* address) {
    address->clear();
    const std::string text = WideToUtf8String(TrimmedText(route));
    if (text.empty()) return {};
    if (IsAddressText(text.c_str()) && !IsValidIPv4(text))
        return {N_("An invalid IP was entered in the additional route form"), {}};
    // An address needs no resolver; a name goes to it.
    std::string resolved = IsValidIPv4(text) ? text : resolve ? resolve(text) : std::string();
    // Only a strict address is registered; anything else would be dropped.
    if (resolved.empty() || !IsValidIPv4(resolved))
        return {N_("Unable to resolve the additional route domain name you entered"), {}};
    if (IsLoopbackText(Utf8ToWideString(resolved))) return {N_("You can not add a loopback IP address."), {}};
    *address = resolved;
    return {};
}

std::vector<std::wstring> NodeGroupChoices(const std::vector<CNodeInfo*>& nodes) {
    std::set<std::string> groups;
    const std::string fallback = Translate("Default Group");
    for (const CNodeInfo* node : nodes) {
        if (node) groups.insert(node->group.empty() ? fallback : node->group);
    }
    std::vector<std::wstring> out;
    for (const std::string& g : groups) out.push_back(Utf8ToWideString(g));
    return out;
}

std::string GroupToSave(std::wstring group) {
    group = TrimmedText(std::move(group));
    return group.empty() ? std::string("Default Group") : WideToUtf8String(group);
}

void RegisterDirectRoute(const std::string& address) {
    if (address.empty()) return;
    const std::wstring wide = Utf8ToWideString(address);
    CAdditionalRouteMgr* routes = CAdditionalRouteMgr::GetInstance();
    if (routes->Exists(wide)) return;
    routes->Add(wide, AdditionalRouteDirect);
    routes->Save();
}

NodeSaveResult SaveNodeParams(const NodeParams& params, bool edit) {
    NodeSaveResult result;
    CNodeMgr* mgr = CNodeMgr::GetInstance();
    CNodeInfo* node = edit ? mgr->EditNode(params) : mgr->AddNode(params);
    if (!node) {
        // The route belongs to the node: nothing is registered for a refused one.
        result.message = {N_("The node list did not take this node; nothing was saved."), {}};
        return result;
    }
    result.nodeId = node->id;
    RegisterDirectRoute(params.additionalRoute);
    return result;
}
