// Untrusted account-service replies and agent.dat texts. Whatever the input,
// parsing must not crash or exhaust the stack, the error text stays short,
// and every node the proxy list adds is one the program can use safely: a
// clean host, a port from 1 to 65535 and, for Shadowsocks, a known cipher.

#include "nodes/account/account_replies.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ciphers/name_tables.h"
#include "nodes/account/agent_config.h"
#include "nodes/account/json_read.h"
#include "foundation/program_log.h"
#include "nodes/node_mgr.h"

// Refused nodes are logged; here the log goes nowhere rather than into the
// fuzzer's own output.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitLogging("/dev", "", "null", 0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);

    Json::Value root;
    std::string error;
    int ok = ParseReplyEnvelope(body, root, error);
    // Our own texts stay short; the service's "errmsg" is passed on whole.
    const Json::Value* message = JsonMember(root, "errmsg");
    bool fromService = message && JsonText(*message) == error;
    if (!ok && (error.empty() || (error.size() > 220 && !fromService))) std::abort();

    // The parsers also see documents whose envelope failed, as long as they are JSON.
    if (!ok && !ParseJsonText(body, root)) return 0;

    CNodeMgr* mgr = CNodeMgr::GetInstance();
    size_t before = mgr->GetNodeCount();
    PackageRecord package;
    size_t added = 0;
    int listed = ReadProxyList(root, package, *mgr, &added);
    if (!listed && added) std::abort();
    std::vector<CNodeInfo*> nodes = mgr->GetNodes();
    if (nodes.size() != before + added) std::abort();
    for (size_t i = before; i < nodes.size(); ++i) {
        const CNodeInfo& n = *nodes[i];
        if (n.host.empty() || n.port == 0 || n.password.empty() || n.method.empty()) std::abort();
        for (unsigned char c : n.host) {
            if (c <= ' ' || c == 0x7F) std::abort();
        }
        if (n.IsSSRNode() && !IsCipherName(n.method)) std::abort();
        if (!IsObfsName(n.obfs) || !IsProtocolName(n.protocol)) std::abort();
        if (n.origin != NodeOriginService || n.countryIndex != -1) std::abort();
    }
    if (mgr->GetNodeCount() > 1000) CNodeMgr::ReleaseInstance();

    std::vector<ProductRecord> products;
    int kept = ReadProducts(root, products);
    if (kept != (products.empty() ? 0 : 1)) std::abort();
    for (const ProductRecord& p : products) {
        if (p.encryptMethod.empty() || p.domain == 0) std::abort();
    }

    ResetAgentConfig();
    if (ReadAgentConfigKeys(root) != (root.isObject() ? 1 : 0)) std::abort();
    int32_t height = GetAgentConfig().webad_height;
    if (height < 0 || height > 100) std::abort();
    return 0;
}
