#pragma once
// What the Shadowsocks node dialog decides: the name tables behind its three
// choosers, the parameter rules, the form of a node to edit or of a parsed
// link, and the OK handler's checks and save. Cipher, protocol and
// obfuscation must each be chosen. The UDP port and UDP-over-TCP flag of the
// node being edited, or of the link the form was filled from, are kept.

#include <string>
#include <vector>

#include "ciphers/name_tables.h"
#include "dialogs/base/node_form.h"
#include "nodes/node_info.h"

struct SsrProxyForm {
    std::wstring server;
    std::wstring port;
    std::wstring password;
    int cipherRow = 0;
    int protocolRow = 0;
    int obfsRow = 0;
    std::wstring protocolParam;
    std::wstring obfsParam;
    std::wstring remarks;
    std::wstring group;
    std::wstring route;
    int countryRow = -1;
};

class CSSRProxyCore {
public:
    CSSRProxyCore();

    const std::vector<std::string>& CipherNames() const { return ciphers_; }
    const std::vector<SSRNameEntry>& ProtocolNames() const { return protocols_; }
    const std::vector<SSRNameEntry>& ObfsNames() const { return obfs_; }
    // Whether the row's plug-in takes a parameter (the parameter edit is
    // enabled); false for no row.
    bool ProtocolTakesParam(int row) const;
    bool ObfsTakesParam(int row) const;

    // Null: add mode. Keeps the node's UDP port and flag for the save.
    void SetEditNode(CNodeInfo* node);
    CNodeInfo* GetEditNode() const { return editNode_; }
    bool IsEditMode() const { return editNode_ != nullptr; }
    // Add mode: first cipher, "origin", "plain"; edit mode: the node's
    // fields (-1 for a name the tables lack) and group.
    SsrProxyForm InitialForm() const;
    // A parsed link into the form: server, port, password, the three names,
    // parameters and remarks; group, country and route stay. Its UDP port
    // and flag replace the kept ones.
    void FillFromNode(const CNodeInfo& node, SsrProxyForm* form);

    NodeSaveResult Save(const SsrProxyForm& form, const RouteResolver& resolve);
    NodeParams BuildParams(const SsrProxyForm& form, uint16_t port, const std::string& route) const;

    uint16_t GetUdpPort() const { return udpPort_; }
    uint8_t GetUdpOverTcp() const { return udpOverTcp_; }

private:
    std::vector<std::string> ciphers_;
    std::vector<SSRNameEntry> protocols_;
    std::vector<SSRNameEntry> obfs_;
    CNodeInfo* editNode_ = nullptr;
    uint16_t udpPort_ = 0;
    uint8_t udpOverTcp_ = 0;
};
