#pragma once
// What the SOCKS and HTTP node dialog decides: the type rows, the form of a
// node to edit, and the OK handler's checks and save. A refused form names
// its field and leaves the node list and the route list untouched; so does a
// node the list refuses.

#include <string>

#include "dialogs/base/node_form.h"
#include "nodes/node_info.h"

// Type rows "HTTP", "SOCKS 4/4a", "SOCKS 5" and their node types.
int SocksTypeRowToNodeType(int row);
int NodeTypeToSocksTypeRow(int type);

// The SOCKS 5 limit on user name and password.
inline constexpr size_t kMaxSocksCredentialBytes = 255;

struct SocksProxyForm {
    int typeRow = 2;
    std::wstring server;
    std::wstring port;
    std::wstring user;
    std::wstring password;
    std::wstring remarks;
    std::wstring group;
    std::wstring route;
    int countryRow = -1;
};

class CSocksProxyCore {
public:
    // Null: add mode. The node belongs to the node list.
    void SetEditNode(CNodeInfo* node) { editNode_ = node; }
    CNodeInfo* GetEditNode() const { return editNode_; }
    bool IsEditMode() const { return editNode_ != nullptr; }
    // The form as the dialog opens: add mode SOCKS 5 and empty fields; edit
    // mode the node's fields and group ("Default Group" for none).
    SocksProxyForm InitialForm() const;

    // The OK handler: checks, then AddNode or EditNode and the route. The
    // resolver turns a route name into an address.
    NodeSaveResult Save(const SocksProxyForm& form, const RouteResolver& resolve);
    // The record Save hands the node list (checked form, resolved route).
    NodeParams BuildParams(const SocksProxyForm& form, uint16_t port, const std::string& route) const;

private:
    CNodeInfo* editNode_ = nullptr;
};
