#include "dialogs/base/ssr_proxy_core.h"

#include "foundation/text_convert.h"
#include "foundation/translate.h"
#include "nodes/node_mgr.h"

namespace {

template <typename Rows>
bool ValidRow(const Rows& rows, int row) {
    return row >= 0 && static_cast<size_t>(row) < rows.size();
}

std::string NameAt(const std::vector<std::string>& rows, int row) {
    return ValidRow(rows, row) ? rows[static_cast<size_t>(row)] : std::string();
}

std::string NameAt(const std::vector<SSRNameEntry>& rows, int row) {
    return ValidRow(rows, row) ? rows[static_cast<size_t>(row)].name : std::string();
}

}  // namespace

CSSRProxyCore::CSSRProxyCore() {
    GetCipherNames(ciphers_);
    GetProtocolNames(protocols_);
    GetObfsNames(obfs_);
    // The tables may end with an empty row that no chooser shows.
    while (!protocols_.empty() && protocols_.back().name.empty()) protocols_.pop_back();
    while (!obfs_.empty() && obfs_.back().name.empty()) obfs_.pop_back();
    while (!ciphers_.empty() && ciphers_.back().empty()) ciphers_.pop_back();
}

bool CSSRProxyCore::ProtocolTakesParam(int row) const {
    return ValidRow(protocols_, row) && protocols_[static_cast<size_t>(row)].hasParam != 0;
}

bool CSSRProxyCore::ObfsTakesParam(int row) const {
    return ValidRow(obfs_, row) && obfs_[static_cast<size_t>(row)].hasParam != 0;
}

void CSSRProxyCore::SetEditNode(CNodeInfo* node) {
    editNode_ = node;
    udpPort_ = 0;
    udpOverTcp_ = 0;
    if (!node) return;
    NodeFields f = CNodeMgr::GetInstance()->CopyNodeFields(*node);
    udpPort_ = f.udpPort;
    udpOverTcp_ = f.udpOverTcp;
}

SsrProxyForm CSSRProxyCore::InitialForm() const {
    SsrProxyForm form;
    if (!editNode_) return form;
    NodeFields f = CNodeMgr::GetInstance()->CopyNodeFields(*editNode_);
    form.server = Utf8ToWideString(f.host);
    form.port = std::to_wstring(f.port);
    form.password = Utf8ToWideString(f.password);
    form.cipherRow = GetCipherIndex(f.method);
    form.protocolRow = GetProtocolIndex(f.protocol);
    form.obfsRow = GetObfsIndex(f.obfs);
    form.protocolParam = Utf8ToWideString(f.protocolParam);
    form.obfsParam = Utf8ToWideString(f.obfsParam);
    form.remarks = Utf8ToWideString(f.remarks);
    form.group = Utf8ToWideString(f.group.empty() ? std::string(Translate("Default Group")) : f.group);
    form.route = Utf8ToWideString(editNode_->additionalRoute);
    form.countryRow = editNode_->countryIndex;
    return form;
}

void CSSRProxyCore::FillFromNode(const CNodeInfo& node, SsrProxyForm* form) {
    form->server = Utf8ToWideString(node.host);
    form->port = std::to_wstring(node.port);
    form->password = Utf8ToWideString(node.password);
    form->protocolParam = Utf8ToWideString(node.protocolParam);
    form->obfsParam = Utf8ToWideString(node.obfsParam);
    form->remarks = Utf8ToWideString(node.remarks);
    form->cipherRow = GetCipherIndex(node.method);
    form->protocolRow = GetProtocolIndex(node.protocol);
    form->obfsRow = GetObfsIndex(node.obfs);
    udpPort_ = node.udpPort;
    udpOverTcp_ = node.udpOverTcp;
}

NodeParams CSSRProxyCore::BuildParams(const SsrProxyForm& form, uint16_t port, const std::string& route) const {
    NodeParams p;
    p.originOrId = editNode_ ? editNode_->id : NodeOriginUser;
    p.type = NodeTypeSSR;
    p.host = WideToUtf8String(TrimmedText(form.server));
    p.port = port;
    p.password = WideToUtf8String(form.password);
    p.method = NameAt(ciphers_, form.cipherRow);
    p.remarks = WideToUtf8String(form.remarks);
    p.serviceState = 1;
    p.countryIndex = form.countryRow;
    p.additionalRoute = route;
    p.spareFlag = 1;
    p.protocol = NameAt(protocols_, form.protocolRow);
    p.obfs = NameAt(obfs_, form.obfsRow);
    p.obfsParam = WideToUtf8String(form.obfsParam);
    p.protocolParam = WideToUtf8String(form.protocolParam);
    p.group = GroupToSave(form.group);
    p.udpPort = udpPort_;
    p.udpOverTcp = udpOverTcp_;
    return p;
}

NodeSaveResult CSSRProxyCore::Save(const SsrProxyForm& form, const RouteResolver& resolve) {
    NodeSaveResult result;
    uint16_t port = 0;
    if ((result.message = ParsePortText(form.port, &port))) return result;
    if ((result.message = CheckNoControlCharacters({{N_("Server IP:"), &form.server},
                                                    {N_("Password:"), &form.password},
                                                    {N_("Remarks:"), &form.remarks},
                                                    {N_("Group:"), &form.group},
                                                    {N_("Additional route"), &form.route},
                                                    {"\xE5\x8D\x8F\xE8\xAE\xAE\xE5\x8F\x82\xE6\x95\xB0: ", &form.protocolParam},
                                                    {"\xE6\xB7\xB7\xE6\xB7\x86\xE5\x8F\x82\xE6\x95\xB0: ", &form.obfsParam}})))
        return result;
    if ((result.message = CheckServerText(WideToUtf8String(TrimmedText(form.server))))) return result;
    if ((result.message = CheckPortNotZero(port))) return result;
    if (form.password.empty()) {
        result.message = {N_("Input SS server password please."), {}};
        return result;
    }
    if (!ValidRow(ciphers_, form.cipherRow)) {
        result.message = {N_("Choose an encryption method please."), {}};
        return result;
    }
    if (!ValidRow(protocols_, form.protocolRow)) {
        result.message = {N_("Choose a protocol please."), {}};
        return result;
    }
    if (!ValidRow(obfs_, form.obfsRow)) {
        result.message = {N_("Choose an obfuscation please."), {}};
        return result;
    }
    std::string route;
    if ((result.message = ResolveRouteText(form.route, resolve, &route))) return result;

    return SaveNodeParams(BuildParams(form, port, route), editNode_ != nullptr);
}
