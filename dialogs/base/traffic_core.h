#pragma once
// What the traffic panel shows and where, apart from the window: the
// three figures, read once a second through a source that tests replace,
// and the places of the three columns for a client size.

#include <string>

#include "ui/base/pixmap.h"

struct TrafficFigures {
    std::wstring total = L"0 B";
    std::wstring speed = L"0 B/s";
    unsigned int connections = 0;
    bool operator==(const TrafficFigures&) const = default;
};

class ITrafficSource {
public:
    virtual ~ITrafficSource() = default;
    // The figures now; false when there is no current node (the panel then
    // keeps what it shows).
    virtual bool ReadFigures(TrafficFigures* out) = 0;
};

// The program's figures: the node list's total (1.5 times the bytes of all
// nodes, as the node list reports it), the current node's speed while
// connected (else "0 B/s") and the local proxy's open connections.
class CAppTrafficSource : public ITrafficSource {
public:
    bool ReadFigures(TrafficFigures* out) override;
};

class CTrafficFiguresCore {
public:
    // One timer tick: reads the source and keeps what differs; true when
    // something changed (the panel repaints only then).
    bool Tick(ITrafficSource& source);
    const TrafficFigures& Figures() const { return figures_; }

private:
    TrafficFigures figures_;
};

struct TrafficLayout {
    PixRect labels[3];
    PixRect values[3];
};

// The content is the client area less 10 pixels left and right, 6 at the
// top and 4 at the bottom; three columns (CW = (content width - 10) / 3)
// 10 pixels apart; the labels take the top 30 % of the height less 6, the
// values start 6 pixels below them and reach the bottom.
TrafficLayout LayoutTrafficPanel(int clientWidth, int clientHeight);
