#include "ui/log_views.h"

#include <wx/app.h>

#include <ctime>

#include "foundation/text_convert.h"
#include "foundation/text_format.h"
#include "ui/wx_draw.h"

// ---------------------------------------------------------------------------
// CEditEx

CEditEx::CEditEx(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos, const wxSize& size,
                 long style)
    : wxTextCtrl(parent, id, value, pos, size, style) {
    Bind(wxEVT_KEY_DOWN, &CEditEx::OnKeyDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CEditEx::OnDoubleClick, this);
}

void CEditEx::OnKeyDown(wxKeyEvent& event) {
    // The letter A with Ctrl (raw Ctrl, not the Mac command key).
    if (event.RawControlDown() && (event.GetKeyCode() == 'A' || event.GetKeyCode() == 'a')) {
        SelectAll();
        return;
    }
    event.Skip();
}

void CEditEx::OnDoubleClick(wxMouseEvent&) {
    SetFocus();
    SelectAll();
}

// ---------------------------------------------------------------------------
// CAutoRichEditCtrl

CAutoRichEditCtrl::CAutoRichEditCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                     long style)
    : wxTextCtrl(parent, id, wxEmptyString, pos, size, style | wxTE_MULTILINE | wxTE_RICH2) {}

void CAutoRichEditCtrl::InitFormat() {
    SetFont(wxFont(wxFontInfo(11).FaceName("Arial")));
    // Indents of 100 twips (1.8 mm) on both sides.
    wxTextAttr paragraph;
    paragraph.SetLeftIndent(18);
    paragraph.SetRightIndent(18);
    SetDefaultStyle(paragraph);
}

void CAutoRichEditCtrl::AppendText(const wxString& text, COLORREF colour) {
    AppendPieces({{text.ToStdWstring(), colour}});
}

void CAutoRichEditCtrl::AppendPieces(const LogLine& pieces) {
    if (!GetHandle() || IsBeingDeleted()) return;
    try {
        for (const LogPiece& p : pieces) {
            if (p.text.empty()) continue;
            SetDefaultStyle(wxTextAttr(WxColour(p.colour)));
            wxTextCtrl::AppendText(wxString(p.text));
        }
        ShowPosition(GetLastPosition());
    } catch (...) {
        // A log line is never worth the window.
    }
}

// ---------------------------------------------------------------------------
// CTestingLogRichedit

CTestingLogRichedit::CTestingLogRichedit(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                         long style)
    : CAutoRichEditCtrl(parent, id, pos, size, style | wxTE_AUTO_URL) {
    shared_->owner = this;
}

CTestingLogRichedit::~CTestingLogRichedit() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->owner = nullptr;
}

void CTestingLogRichedit::Init() {
    InitFormat();
    SetInsertionPoint(0);
}

COLORREF CTestingLogRichedit::LevelColour(int level) {
    switch (level) {
        case 2:
            return RGB(0, 200, 0);
        case 3:
            return RGB(255, 0, 0);
        default:
            return RGB(0, 0, 0);
    }
}

LogLine CTestingLogRichedit::BuildLine(const wchar_t* text, int level, bool showTime, int64_t time) {
    LogLine line;
    if (showTime) {
        std::wstring prefix = FormatLocalTime(L"[%M:%S]  ", time);
        if (prefix.size() > 99) prefix.resize(99);
        line.push_back({std::move(prefix), RGB(0, 0, 0)});
    }
    line.push_back({text ? std::wstring(text) : std::wstring(), LevelColour(level)});
    line.push_back({L"\n", RGB(0, 0, 0)});
    return line;
}

void CTestingLogRichedit::AddLog(const wchar_t* text, int level) {
    LogLine line = BuildLine(text, level, show_time_.load(), static_cast<int64_t>(std::time(nullptr)));
    const bool ask = shared_->queue.Push(std::move(line));
    if (wxThread::IsMain()) {
        Flush();
        return;
    }
    if (ask) AskForDelivery();
}

void CTestingLogRichedit::AskForDelivery() {
    if (!wxTheApp) return;
    std::shared_ptr<Shared> shared = shared_;
    wxTheApp->CallAfter([shared] {
        CTestingLogRichedit* owner = nullptr;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            owner = shared->owner;
        }
        if (owner) owner->Flush();
    });
}

void CTestingLogRichedit::AddLogA(const char* text, int level) {
    std::unique_ptr<wchar_t[]> wide(Utf8ToWideNew(text));
    if (!wide) return;
    AddLog(wide.get(), level);
}

void CTestingLogRichedit::Flush() {
    const std::vector<LogLine> lines = shared_->queue.Take(kBatchLines);
    if (lines.empty()) return;
    // A full batch may have left lines behind: they come on the next turn,
    // after whatever else waits for the window.
    if (lines.size() == kBatchLines) AskForDelivery();
    if (!GetHandle() || IsBeingDeleted()) return;
    // The batch goes in as one text; the pieces that are not black are
    // coloured afterwards.
    std::wstring text;
    struct Run {
        size_t start, length;
        COLORREF colour;
    };
    std::vector<Run> runs;
    for (const LogLine& line : lines) {
        for (const LogPiece& p : line) {
            if (p.colour != RGB(0, 0, 0) && !p.text.empty()) runs.push_back({text.size(), p.text.size(), p.colour});
            text += p.text;
        }
    }
    try {
        const long base = GetLastPosition();
        SetDefaultStyle(wxTextAttr(*wxBLACK));
        wxTextCtrl::AppendText(wxString(text));
        for (const Run& r : runs) {
            SetStyle(base + static_cast<long>(r.start), base + static_cast<long>(r.start + r.length),
                     wxTextAttr(WxColour(r.colour)));
        }
        ShowPosition(GetLastPosition());
    } catch (...) {
        // A log line is never worth the window.
    }
}

void CTestingLogRichedit::Clear() {
    shared_->queue.Clear();
    wxTextCtrl::Clear();
}
