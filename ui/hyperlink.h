#pragma once
// A text that behaves as a link: its colour tells link, active, visited and
// hover; it is underlined while the pointer is over it; it shows a hand
// cursor and the URL as its tooltip. A click (or the space bar) either sends
// EVT_HYPERLINK_NOTIFY to the target the dialog chose, or opens the URL in
// the user's browser (http and https only).

#include <wx/control.h>

#include "ui/base/hyperlink_model.h"

// Sent to a link's notify target: the event id is the target's message
// number, GetString() the URL, GetInt() 5.
wxDECLARE_EVENT(EVT_HYPERLINK_NOTIFY, wxCommandEvent);

class CHyperLink : public wxControl {
public:
    CHyperLink(wxWindow* parent, wxWindowID id, const wxString& text, const wxString& url = wxEmptyString,
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);

    // A hover colour of -1 takes the system highlight colour.
    void SetColours(COLORREF link, COLORREF active, COLORREF visited, int64_t hover = -1);
    void SetBkColor(COLORREF colour);
    void SetURL(const wxString& url, const wxString& tooltip = wxEmptyString);
    wxString GetURL() const { return wxString(model_.url()); }
    void SetLinkText(const wxString& text);
    // With a target, a click sends EVT_HYPERLINK_NOTIFY with id `message`
    // to it instead of opening the URL.
    void SetNotifyTarget(wxEvtHandler* target, int message);
    // Link style bits (kLinkUnderline, kLinkHoverColour, ...).
    void ModifyLinkStyle(int remove, int add);
    int GetLinkStyle() const { return model_.style(); }
    bool IsVisited() const { return model_.visited; }
    bool IsHovered() const { return model_.hover; }

    // Follows the link; returns the open result (above 32 is success).
    virtual int FollowLink();

    HyperLinkModel& model() { return model_; }

protected:
    wxSize DoGetBestSize() const override;

private:
    void RebuildFont();
    void AutoSize();
    void OnPaint(wxPaintEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnFocus(wxFocusEvent& event);
    void OnKey(wxKeyEvent& event);

    HyperLinkModel model_;
    COLORREF background_;
    bool hover_underline_ = false;  // this hover added the underline
    wxFont link_font_;
};
