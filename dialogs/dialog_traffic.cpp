#include "dialogs/dialog_traffic.h"

#include <wx/control.h>
#include <wx/dcbuffer.h>

#include "foundation/translate.h"
#include "ui/wx_draw.h"

namespace {

constexpr COLORREF kBackground = RGB(57, 61, 64);
constexpr COLORREF kLabelInk = RGB(119, 132, 137);

// "Arial" of the panel's design; Liberation Sans has its metrics.
wxFont PanelFont(int pixelHeight, int weight) {
    wxFont font(wxFontInfo(wxSize(0, pixelHeight)).FaceName("Liberation Sans"));
    font.SetNumericWeight(weight);
    return font;
}

// The text cut to the width with an ellipsis, on one line, as the
// columns draw it.
void DrawColumnText(wxDC& dc, const wxString& text, const PixRect& r) {
    const wxString shown = wxControl::Ellipsize(text, dc, wxELLIPSIZE_END, r.width > 0 ? r.width : 0);
    dc.DrawText(shown, r.x, r.y);
}

}  // namespace

CDialogTraffic::CDialogTraffic(wxWindow* parent, const wxPoint& pos, const wxSize& size,
                               std::unique_ptr<ITrafficSource> source)
    : wxPanel(parent, wxID_ANY, pos, size, wxBORDER_NONE),
      source_(source ? std::move(source) : std::make_unique<CAppTrafficSource>()),
      timer_(this, kTimerTraffic) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetBackgroundColour(WxColour(kBackground));
    labels_[0] = wxString::FromUTF8(Translate("Traffic Statistics:"));
    labels_[1] = wxString::FromUTF8(Translate("Live Speed:"));
    labels_[2] = wxString::FromUTF8(Translate("Connections:"));
    labelFont_ = PanelFont(14, 400);
    valueFont_ = PanelFont(18, 932);
    Bind(wxEVT_PAINT, &CDialogTraffic::OnPaint, this);
    Bind(wxEVT_TIMER, &CDialogTraffic::OnTimer, this, kTimerTraffic);
    timer_.Start(1000);
}

CDialogTraffic::~CDialogTraffic() {
    timer_.Stop();
}

void CDialogTraffic::OnTimer(wxTimerEvent&) {
    ++ticks_;
    if (core_.Tick(*source_)) Refresh();
}

void CDialogTraffic::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize client = GetClientSize();
    dc.SetBackground(wxBrush(WxColour(kBackground)));
    dc.Clear();
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    const TrafficLayout layout = LayoutTrafficPanel(client.x, client.y);
    dc.SetFont(labelFont_);
    dc.SetTextForeground(WxColour(kLabelInk));
    for (int i = 0; i < 3; ++i) DrawColumnText(dc, labels_[i], layout.labels[i]);
    const TrafficFigures& f = core_.Figures();
    const wxString values[3] = {wxString(f.total), wxString(f.speed), wxString::Format("%u", f.connections)};
    dc.SetFont(valueFont_);
    dc.SetTextForeground(*wxWHITE);
    for (int i = 0; i < 3; ++i) DrawColumnText(dc, values[i], layout.values[i]);
}
