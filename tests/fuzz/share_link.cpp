// Untrusted share links, as users paste them from anywhere. Whatever the
// input, the parser must not crash, and a node it accepts must be one the
// program can use safely: a host without surrounding spaces, a port from 1
// to 65535, a known type and, for Shadowsocks, a cipher it knows.

#include "nodes/share_link.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ciphers/name_tables.h"
#include "foundation/program_log.h"
#include "nodes/node_mgr.h"

// Refused nodes are logged; here the log goes nowhere rather than into the
// fuzzer's own output.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitLogging("/dev", "", "null", 0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string link(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<CNodeInfo> node = ParseShareLink(link);

    // Each scheme's parser also sees the text directly.
    ParseSsLink(link);
    ParseSsrLink(link);
    ParseVantorLink(link);
    SsrLinkFields fields;
    if (ParseSsrLinkBody(link, fields) && (fields.host.empty() || fields.port == 0)) std::abort();

    if (!node) return 0;
    if (node->host.empty() || node->host.front() == ' ' || node->host.back() == ' ') std::abort();
    if (node->port == 0) std::abort();
    if (node->type < NodeTypeHttp || node->type > NodeTypeSSR) std::abort();
    if (node->IsSSRNode() && !IsCipherName(node->method)) std::abort();
    if (node->serviceState != 1 || node->countryIndex != -1) std::abort();

    // The list takes every parsed node and keeps its cipher.
    CNodeMgr* mgr = CNodeMgr::GetInstance();
    CNodeInfo* added = mgr->AddNodeFromLink(link);
    if (!added || (added->IsSSRNode() && added->method != node->method)) std::abort();
    if (mgr->GetNodeCount() > 1000) CNodeMgr::ReleaseInstance();
    return 0;
}
