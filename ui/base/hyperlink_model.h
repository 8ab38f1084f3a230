#pragma once
// What a hyperlink does, apart from its window: its URL, style bits, colours
// and states, and following it: either a notification to a target the dialog
// chose, or the URL opened in the user's browser, with the failure reported
// in a message box and the link turned visited on success.

#include <functional>
#include <string>

#include "ui/base/control_states.h"

class HyperLinkModel {
public:
    // Receives the URL and the value 5 (what the windows pass as the
    // notification's second parameter).
    using NotifyFn = std::function<void(const std::wstring& url, int code)>;
    // Opens a URL; a result above 32 is success.
    using OpenFn = std::function<int(const std::string& url)>;

    HyperLinkModel();

    void SetURL(const std::wstring& url) { url_ = url; }
    const std::wstring& url() const { return url_; }
    void SetNotifyTarget(NotifyFn notify) { notify_ = std::move(notify); }
    bool HasNotifyTarget() const { return static_cast<bool>(notify_); }
    // Replaces how URLs are opened (the default is OpenUrl).
    void SetOpener(OpenFn open) { open_ = std::move(open); }
    // Called before the error box (the window beeps).
    void SetBeep(std::function<void()> beep) { beep_ = std::move(beep); }

    int style() const { return style_; }
    void SetStyle(int style) { style_ = style; }
    void ModifyStyle(int remove, int add) { style_ = (style_ & ~remove) | add; }
    LinkColours& colours() { return colours_; }
    // A hover colour of -1 takes the system highlight colour.
    void SetColours(COLORREF link, COLORREF active, COLORREF visited, int64_t hover);

    bool hover = false;
    bool active = false;
    bool visited = false;

    COLORREF TextColour() const { return LinkTextColour(colours_, style_, hover, active, visited); }

    // Notifies the target, or opens the URL; returns the open result (a
    // notification counts as 33). Failure shows "Can not open link:" with
    // the reason and leaves the link unvisited.
    int FollowLink();

private:
    std::wstring url_;
    int style_;
    LinkColours colours_;
    NotifyFn notify_;
    OpenFn open_;
    std::function<void()> beep_;
};

// The reason shown for an open result of 32 or less.
std::wstring LinkErrorText(int code);
