#pragma once
// The traffic panel: a child of the main window that shows, in three
// columns, the traffic total, the current node's live speed and the open
// connections. Timer 3526 reads the figures once a second; the panel
// repaints only when one of them changed.

#include <wx/panel.h>
#include <wx/timer.h>

#include <memory>

#include "dialogs/base/traffic_core.h"

inline constexpr int kTimerTraffic = 3526;

class CDialogTraffic : public wxPanel {
public:
    // `source` gives the figures; null takes the program's own.
    CDialogTraffic(wxWindow* parent, const wxPoint& pos, const wxSize& size,
                   std::unique_ptr<ITrafficSource> source = nullptr);
    ~CDialogTraffic() override;

    const TrafficFigures& GetFigures() const { return core_.Figures(); }
    int GetTickCount() const { return ticks_; }

private:
    void OnTimer(wxTimerEvent& event);
    void OnPaint(wxPaintEvent& event);

    std::unique_ptr<ITrafficSource> source_;
    CTrafficFiguresCore core_;
    wxTimer timer_;
    wxString labels_[3];
    wxFont labelFont_;
    wxFont valueFont_;
    int ticks_ = 0;
};
