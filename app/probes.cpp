// The node list fill and the latency probes: one short-lived thread per node
// that lacks a latency or a country, at most 100 per fill. The node's
// testing flag is set before its thread starts, so overlapping fills never
// probe a node twice, and every probe thread is joined before the program
// tears down what the probes use.

#include <arpa/inet.h>

#include "app/main_core.h"
#include "foundation/icmp_ping.h"
#include "foundation/settings.h"
#include "nodes/geo/country_table.h"
#include "nodes/geo/geo_lookup.h"
#include "nodes/node_mgr.h"

void DialogOstrelBase::FillNodeList(int nodeId) {
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    if (nodes->GetCurrentNodeId() == -1 && nodes->GetNodeCount() > 0) nodes->SelectFirstNode();
    if (nodeId == -1) nodeId = GetSettings()->LastUsedNodeId;
    view_->FillNodes(nodeId);
    if (exiting_) return;
    int started = 0;
    for (CNodeInfo* node : nodes->GetNodes()) {
        if (started >= kMaxProbesPerFill) break;
        if ((node->countryIndex.load() != -1 && node->latency.load() != 0) || node->IsTesting()) continue;
        StartProbe(node);
        ++started;
    }
}

void DialogOstrelBase::StartProbe(CNodeInfo* node) {
    node->SetTesting(1);
    std::lock_guard<std::mutex> lock(probeMutex_);
    // Threads that have ended are joined here, so the list stays short.
    for (auto it = probeThreads_.begin(); it != probeThreads_.end();) {
        bool running = false;
        for (auto id : probeRegistry_) running |= id == it->get_id();
        if (!running) {
            it->join();
            it = probeThreads_.erase(it);
        } else {
            ++it;
        }
    }
    try {
        probeThreads_.emplace_back([this, node] {
            prober_(node, exiting_);
            node->SetTesting(0);
            std::lock_guard<std::mutex> l(probeMutex_);
            probeRegistry_.remove(std::this_thread::get_id());
        });
        probeRegistry_.push_back(probeThreads_.back().get_id());
    } catch (const std::exception&) {
        node->SetTesting(0);  // tried again at the next fill
    }
}

size_t DialogOstrelBase::GetRunningProbeCount() {
    std::lock_guard<std::mutex> lock(probeMutex_);
    return probeRegistry_.size();
}

void DialogOstrelBase::WaitForProbeThreads() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(probeMutex_);
        threads.swap(probeThreads_);
    }
    for (auto& t : threads)
        if (t.joinable()) t.join();
}

void DialogOstrelBase::DefaultProbeNode(CNodeInfo* node, const std::atomic<int>& exiting) {
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    if (exiting) return;
    NodeFields f = nodes->CopyNodeFields(*node);
    if (node->latency.load() == 0) {
        PingResult result{};
        if (IcmpPing(&result, 64, 5000, 32, f.GetConnectAddress().c_str())) {
            node->latency = result.roundTripMs == 0 ? 1 : result.roundTripMs;
            if (result.address != 0 && f.resolvedAddress.empty()) {
                in_addr a{};
                a.s_addr = result.address;
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &a, text, sizeof text);
                nodes->SetResolvedAddress(node, text);
            }
        }
    }
    if (exiting) return;
    f = nodes->CopyNodeFields(*node);
    if (f.resolvedAddress.empty()) {
        std::string ip = ResolveHostToIp(f.host.c_str());
        if (!ip.empty()) nodes->SetResolvedAddress(node, ip);
    }
    if (node->countryIndex.load() != -1) return;
    f = nodes->CopyNodeFields(*node);
    if (f.resolvedAddress.empty()) return;
    // Each service is asked only while no code is known yet.
    std::string code, name, region;
    if (!exiting && code.empty()) LookupCountryJsonA(f.resolvedAddress, code, name, region);
    if (!exiting && code.empty()) LookupCountryJsonB(f.resolvedAddress, code, name, region);
    if (!exiting && code.empty()) LookupCountryPlainText(f.resolvedAddress, code);
    if (!exiting && code.empty()) LookupCountryJsonC(f.resolvedAddress, code, name, region);
    if (code.empty()) return;
    int index = GetCountryIndexByCode(code);
    if (index != -1) node->countryIndex = index;
}
