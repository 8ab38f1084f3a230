#pragma once
// The window half of the dialogs that run long jobs: the skinned frame with
// the status line (control 1071, a read-only skinned edit as a full-width
// band along the bottom), the program's icon, a white background, the
// edition name as title, and the deferred initialisation step (message
// 2036), run once after the window is first shown.
//
// The job logic lives in a CDialogZentravBase (the worker half), which the
// derived window also is; its worker reaches this window only through
// RunOnWindow: queued, in order, never waiting.

#include <functional>
#include <string>

#include "ui/skin_dialog.h"
#include "ui/skin_edit.h"

class CDialogZentravBase;

inline constexpr int kIdStatusEdit = 1071;
inline constexpr int kMsgDeferredInit = 2036;

class CDialogZentravWindow : public CSkinDialog {
public:
    // `worker`: the worker half whose OnDeferredInitMessage runs after the
    // first show (may be null).
    CDialogZentravWindow(wxWindow* parent, wxWindowID id, const wxSize& clientSize,
                         CDialogZentravBase* worker, long style = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    ~CDialogZentravWindow() override;

    // A derived window that is its own worker half names itself once built.
    void SetWorker(CDialogZentravBase* worker) { worker_ = worker; }
    CSkinEdit* GetStatusEdit() const { return status_; }
    // The status edit's height, or 24 without it.
    int GetStatusBarHeight() const;
    // Lays the status edit along the bottom of the client area.
    virtual void RepositionStatusBar();

    // Shows the text in the status line, the caret at its end. Any thread.
    void ShowStatusText(const std::wstring& text);
    // Runs `fn` on the window's thread: at once there, else queued.
    void RunOnWindow(std::function<void()> fn);

    // Ends the dialog with `code`: the modal loop when one runs, else the
    // window hides and keeps the code (GetReturnCode).
    void EndDialog(int code);

protected:
    CSkinEdit* status_ = nullptr;

private:
    void OnShowWindow(wxShowEvent& event);
    void OnClientSize(wxSizeEvent& event);

    CDialogZentravBase* worker_;
    bool deferred_ = false;
};
