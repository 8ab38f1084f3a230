#include "dialogs/base/socks_proxy_core.h"

#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/node_mgr.h"

int SocksTypeRowToNodeType(int row) {
    switch (row) {
        case 0: return NodeTypeHttp;
        case 1: return NodeTypeSocks4;
        case 2: return NodeTypeSocks5;
        default: return -1;
    }
}

int NodeTypeToSocksTypeRow(int type) {
    if (type == NodeTypeHttp) return 0;
    if (type == NodeTypeSocks4) return 1;
    return 2;
}

SocksProxyForm CSocksProxyCore::InitialForm() const {
    SocksProxyForm form;
    if (!editNode_) return form;
    NodeFields f = CNodeMgr::GetInstance()->CopyNodeFields(*editNode_);
    form.typeRow = NodeTypeToSocksTypeRow(editNode_->type);
    form.server = Utf8ToWideString(f.host);
    form.port = std::to_wstring(f.port);
    form.user = Utf8ToWideString(f.user);
    form.password = Utf8ToWideString(f.password);
    form.remarks = Utf8ToWideString(f.remarks);
    form.group = Utf8ToWideString(f.group.empty() ? std::string(Translate("Default Group")) : f.group);
    form.route = Utf8ToWideString(editNode_->additionalRoute);
    form.countryRow = editNode_->countryIndex;
    return form;
}

NodeParams CSocksProxyCore::BuildParams(const SocksProxyForm& form, uint16_t port, const std::string& route) const {
    NodeParams p;
    p.originOrId = editNode_ ? editNode_->id : NodeOriginUser;
    p.type = SocksTypeRowToNodeType(form.typeRow);
    p.host = WideToUtf8String(TrimmedText(form.server));
    p.port = port;
    p.user = WideToUtf8String(form.user);
    p.password = WideToUtf8String(form.password);
    p.remarks = WideToUtf8String(form.remarks);
    p.serviceState = 1;
    p.countryIndex = form.countryRow;
    p.additionalRoute = route;
    p.spareFlag = 1;
    p.group = GroupToSave(form.group);
    return p;
}

NodeSaveResult CSocksProxyCore::Save(const SocksProxyForm& form, const RouteResolver& resolve) {
    NodeSaveResult result;
    uint16_t port = 0;
    if ((result.message = ParsePortText(form.port, &port))) return result;
    if (SocksTypeRowToNodeType(form.typeRow) < 0) {
        result.message = {N_("Select a proxy type please."), {}};
        return result;
    }
    if ((result.message = CheckNoControlCharacters({{N_("Server IP:"), &form.server},
                                                    {N_("Username:"), &form.user},
                                                    {N_("Password:"), &form.password},
                                                    {N_("Remarks:"), &form.remarks},
                                                    {N_("Group:"), &form.group},
                                                    {N_("Additional route"), &form.route}})))
        return result;
    if ((result.message = CheckServerText(WideToUtf8String(TrimmedText(form.server))))) return result;
    if ((result.message = CheckPortNotZero(port))) return result;
    if (WideToUtf8String(form.user).size() > kMaxSocksCredentialBytes) {
        result.message = {N_("The user name can not be longer than %1 bytes."), {"255"}};
        return result;
    }
    if (WideToUtf8String(form.password).size() > kMaxSocksCredentialBytes) {
        result.message = {N_("The password can not be longer than %1 bytes."), {"255"}};
        return result;
    }
    std::string route;
    if ((result.message = ResolveRouteText(form.route, resolve, &route))) return result;

    return SaveNodeParams(BuildParams(form, port, route), editNode_ != nullptr);
}
