#include "dialogs/base/additional_route_form.h"

#include <arpa/inet.h>

#include "foundation/message_box.h"
#include "foundation/string_util.h"
#include "foundation/system_helpers.h"
#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "netconfig/additional_route.h"
#include "netconfig/host_cache.h"

namespace {

const char* SaveFailed() { return Translate("The additional routes could not be saved."); }

// The refusal of an address (a typed one or a name's answer), or null.
const char* AddressRefusal(const std::string& address) {
    if (!IsValidIPv4(address)) return Translate("Invalid IP address");
    if (IsLoopbackInAddr(inet_addr(address.c_str()))) return Translate("You can not add a loopback IP address.");
    return nullptr;
}

}  // namespace

CDialogAdditionalRouteMgrCore::CDialogAdditionalRouteMgrCore()
    : resolver_([](std::string_view host, std::string* address) {
          *address = ResolveRouteAddress(host);
          return address->empty() ? 0 : 1;
      }) {}

std::wstring CDialogAdditionalRouteMgrCore::ActionText(int action) {
    const char* text = action == AdditionalRouteDirect    ? Translate("Direct")
                       : action == AdditionalRouteProxify ? Translate("Proxify")
                                                          : Translate("N/A");
    return Utf8ToWideString(text);
}

std::vector<AdditionalRouteRow> CDialogAdditionalRouteMgrCore::Rows() {
    std::vector<AdditionalRouteRow> rows;
    for (const auto& [address, action] : CAdditionalRouteMgr::GetInstance()->GetRoutes())
        rows.push_back({address, ActionText(action)});
    return rows;
}

int CDialogAdditionalRouteMgrCore::BeginAdd(const std::wstring& typed, int actionRow) {
    std::wstring text = typed;
    TrimStringW(text, L" \t\r\n");
    const char* refusal = nullptr;
    if (text.empty()) {
        refusal = Translate("IP Address can not be empty");
    } else if (IsAddressTextW(text)) {
        refusal = AddressRefusal(WideToUtf8String(text));
    }
    if (!refusal && (actionRow < 0 || actionRow > 1)) refusal = Translate("Please select action");
    if (!refusal && CAdditionalRouteMgr::GetInstance()->Exists(text)) refusal = Translate("This route already exists");
    if (refusal) {
        AppMessageBox(refusal, MB_OK);
        return 0;
    }
    pendingText_ = text;
    pendingAction_ = actionRow;
    return 1;
}

const char* CDialogAdditionalRouteMgrCore::ResolveAndAdd() {
    std::string address = WideToUtf8String(pendingText_);
    if (!IsAddressText(address.c_str())) {
        std::string resolved;
        if (!resolver_ || !resolver_(address, &resolved)) return Translate("Can not resolve your domain name.");
        // A name may answer with what a typed address may not be.
        if (const char* refusal = AddressRefusal(resolved)) return refusal;
        address = resolved;
    }
    CAdditionalRouteMgr* mgr = CAdditionalRouteMgr::GetInstance();
    const std::wstring key = Utf8ToWideString(address);
    if (mgr->Exists(key)) return Translate("This route already exists");
    mgr->Add(key, pendingAction_);
    if (!mgr->Exists(key)) return Translate("Invalid IP address");
    if (!mgr->Save()) {
        mgr->RemoveRoute(key);
        return SaveFailed();
    }
    return nullptr;
}

int CDialogAdditionalRouteMgrCore::Delete(const std::wstring& address) {
    CAdditionalRouteMgr* mgr = CAdditionalRouteMgr::GetInstance();
    const auto it = mgr->GetRoutes().find(address);
    if (address.empty() || it == mgr->GetRoutes().end()) return 0;
    const int action = it->second;
    mgr->RemoveRoute(address);
    if (mgr->Save()) return 1;
    mgr->Add(address, action);
    AppMessageBox(SaveFailed(), MB_OK);
    return 0;
}
