#include "dialogs/base/traffic_core.h"

#include "app/halvern_app.h"
#include "nodes/node_mgr.h"
#include "proxy/proxy_service.h"

bool CAppTrafficSource::ReadFigures(TrafficFigures* out) {
    CNodeMgr* nodes = CNodeMgr::GetInstance();
    CNodeInfo* node = nodes->GetCurrentNode();
    if (node == nullptr) return false;
    out->connections = static_cast<unsigned int>(GetActiveConnectionCount());
    nodes->GetTrafficText(out->total);
    if (GetApp().IsConnected()) {
        node->GetSpeedText(out->speed);
    } else {
        out->speed = L"0 B/s";
    }
    return true;
}

bool CTrafficFiguresCore::Tick(ITrafficSource& source) {
    TrafficFigures now = figures_;
    if (!source.ReadFigures(&now)) return false;
    if (now == figures_) return false;
    figures_ = std::move(now);
    return true;
}

TrafficLayout LayoutTrafficPanel(int clientWidth, int clientHeight) {
    const int left = 10, top = 6, right = clientWidth - 10, bottom = clientHeight - 4;
    const int columnWidth = (right - left - 10) / 3;
    const int labelHeight = (bottom - top - 6) * 30 / 100;
    TrafficLayout layout;
    for (int i = 0; i < 3; ++i) {
        const int x = left + i * (columnWidth + 10);
        layout.labels[i] = {x, top, columnWidth, labelHeight};
        layout.values[i] = {x, top + labelHeight + 6, columnWidth, bottom - (top + labelHeight + 6)};
    }
    return layout;
}
