#pragma once
// The wait panel: a child window that runs one job on a worker thread while
// it shows a still picture, an animated GIF and a message line, and hides
// itself once the job is done (polled every 100 ms by timer 3528). The
// loading panel covers its owner's client area, hides the owner's other
// controls while the start-up data job runs and shows them again after.
//
// Destroying a panel whose job still runs waits for the job (its jobs read
// local files only, so the wait is short): no worker outlives its panel.

#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CPictureEx;
class CSkinButton;

enum AsyncDoingControlId : int {
    kIdStillPicture = 1021,
    kIdAnimPicture = 1129,
    kIdPanelMessage = 1131,
    kIdPanelIKnow = 1151,
};
inline constexpr int kTimerAsyncDoing = 3528;

class CDialogAsyncDoing : public wxPanel {
public:
    using JobFn = int (*)(void* user);

    CDialogAsyncDoing(wxWindow* parent, const wxPoint& pos = wxDefaultPosition,
                      const wxSize& size = wxSize(400, 300));
    ~CDialogAsyncDoing() override;

    void SetMessage(const wxString& message);
    wxString GetMessage() const { return message_; }
    void SetTitle(const wxString& title);
    wxString GetTitle() const { return title_; }
    void SetJob(JobFn fn, void* user) {
        job_ = fn;
        user_ = user;
    }
    int GetJobResult() const { return result_.load(); }

    // Lays the panel out, starts the pictures, the timer and the worker.
    // False when a job still runs or no thread could be made.
    virtual bool StartWork();
    // On the window's thread once the job is done, before the panel hides.
    virtual int OnWorkDone() { return 0; }
    // On the worker: runs the job function with the user value.
    virtual int DoWork();

    bool IsWorking() const { return worker_.joinable() && !done_.load(); }
    bool IsDone() const { return done_.load(); }
    // Waits for a running job to end (not from the job itself).
    void JoinWorker();
    CPictureEx* GetAnimation() const { return anim_; }
    CPictureEx* GetStill() const { return still_; }
    wxStaticText* GetMessageLine() const { return messageLine_; }

protected:
    // The message line from any thread (queued to the window's thread).
    void SetMessageFromWorker(const wxString& message);

private:
    void OnTimer(wxTimerEvent& event);
    void DeletePictures();

    wxString title_;
    wxString message_;
    wxStaticText* messageLine_ = nullptr;
    wxWindow* animPlace_ = nullptr;
    wxWindow* stillPlace_ = nullptr;
    CSkinButton* iKnow_ = nullptr;
    CPictureEx* anim_ = nullptr;
    CPictureEx* still_ = nullptr;
    wxTimer timer_;
    std::mutex threadMutex_;
    std::thread worker_;
    std::atomic<bool> done_{false};
    std::atomic<int> result_{0};
    JobFn job_ = nullptr;
    void* user_ = nullptr;
};

class CDialogLoadDatas : public CDialogAsyncDoing {
public:
    // `owner`: the window whose other children hide while the job runs.
    explicit CDialogLoadDatas(wxWindow* owner);
    ~CDialogLoadDatas() override;

    void SetLoadFlags(int flags) { loadFlags_ = flags; }
    // Called on the worker when the job ends, before the panel hides.
    void SetDoneCallback(std::function<void()> done) { doneCallback_ = std::move(done); }

    bool StartWork() override;
    int OnWorkDone() override;
    int DoWork() override;

    // The owner's windows hidden by the last StartWork that still exist.
    std::vector<wxWindow*> GetHiddenWindows() const;

private:
    void HideDescendants(wxWindow* parent);

    wxWindow* owner_;
    int loadFlags_ = 0;
    std::function<void()> doneCallback_;
    std::vector<wxWeakRef<wxWindow>> hidden_;
};
