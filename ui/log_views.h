#pragma once
// Three text controls for logs and link lists.
//   CEditEx              an edit that selects all its text on Ctrl+A and on
//                        a double click.
//   CAutoRichEditCtrl    a rich multi-line text that appends coloured text at
//                        the end and keeps the newest line in view (11 pt
//                        "Arial").
//   CTestingLogRichedit  one coloured, optionally time-stamped line per call,
//                        from any thread: each line reaches the end of the
//                        text whole, in the order of the calls.

#include <wx/textctrl.h>

#include <atomic>
#include <memory>

#include "ui/base/colors.h"
#include "ui/base/log_line_queue.h"

class CEditEx : public wxTextCtrl {
public:
    CEditEx(wxWindow* parent, wxWindowID id, const wxString& value = wxEmptyString,
            const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0);

private:
    void OnKeyDown(wxKeyEvent& event);
    void OnDoubleClick(wxMouseEvent& event);
};

class CAutoRichEditCtrl : public wxTextCtrl {
public:
    CAutoRichEditCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                      const wxSize& size = wxDefaultSize, long style = 0);

    // The font, paragraph indents and line spacing; call once the owner
    // has built the control.
    void InitFormat();
    // Appends at the end in the colour and scrolls to the bottom; on the
    // window's thread only.
    void AppendText(const wxString& text, COLORREF colour);
    using wxTextCtrl::AppendText;

protected:
    // Appends several pieces as one edit, then scrolls once.
    void AppendPieces(const LogLine& pieces);
};

class CTestingLogRichedit : public CAutoRichEditCtrl {
public:
    CTestingLogRichedit(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                        const wxSize& size = wxDefaultSize, long style = 0);
    ~CTestingLogRichedit() override;

    void Init();
    // One line: the time prefix in black (when on), the text in the level's
    // colour (1 black, 2 green, 3 red, else black), a line break. Callable
    // from any thread while the control exists.
    void AddLog(const wchar_t* text, int level);
    // UTF-8 text; nothing for null.
    void AddLogA(const char* text, int level);
    void SetShowTime(bool on) { show_time_ = on; }
    // Empties the text and drops lines not yet shown.
    void Clear() override;

    static COLORREF LevelColour(int level);
    // The pieces of one line as AddLog builds it (`time` in seconds).
    static LogLine BuildLine(const wchar_t* text, int level, bool showTime, int64_t time);

    // Delivers queued lines now (the window's thread), a batch at a time
    // so that the window keeps answering during a flood.
    void Flush();
    static constexpr size_t kBatchLines = 400;

private:
    void AskForDelivery();
    struct Shared {
        LogLineQueue queue;
        std::mutex mutex;
        CTestingLogRichedit* owner = nullptr;  // null once the control is gone
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::atomic<bool> show_time_{false};
};
