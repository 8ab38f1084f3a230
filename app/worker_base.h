#pragma once
// The worker-thread base of the windows that run long jobs: one worker at a
// time runs DoWork for the job code stored before StartWork, a status line
// that both threads write, and the deferred initialisation step that runs
// once the window is up.
//
// A running worker is never killed: StopWork (TRUE) raises a stop request,
// which the job checks between its steps and in its waits (WaitOrStop), and
// then joins the thread. Nothing of the object is destroyed while its worker
// runs.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class CDialogZentravBase {
public:
    CDialogZentravBase() = default;
    virtual ~CDialogZentravBase();
    CDialogZentravBase(const CDialogZentravBase&) = delete;
    CDialogZentravBase& operator=(const CDialogZentravBase&) = delete;

    // The deferred step: OnPreDeferredInit when `pre` is set, then OnDeferredInit.
    int OnDeferredInitMessage(int pre);
    virtual void OnPreDeferredInit() {}
    virtual void OnDeferredInit() {}

    virtual void EnableInputs(int) {}
    // Runs on the worker; the base's body (also the last step of every
    // override) runs OnWorkFinished and returns 1.
    virtual int DoWork();
    // Starts the worker for the stored job code; FALSE while a job still
    // runs or when no thread could be made (OnBeforeWork has run then).
    virtual int StartWork();
    virtual void OnBeforeWork() {}
    virtual void OnWorkFinished() {}
    // Without `terminate`: forgets a worker that has ended. With it: asks a
    // running worker to stop and waits until it has. TRUE when a worker was
    // there.
    virtual int StopWork(int terminate);
    // Asks a running worker to stop and returns at once; the job sees the
    // request between its steps and in its waits. A thread that must keep
    // serving the worker while it ends (the user-interface thread, which
    // answers its boxes) requests the stop, keeps serving until IsWorking
    // turns false, then calls StopWork to join.
    void RequestStop();
    virtual void SetStatusText(const std::wstring& text);
    // UTF-8 text; invalid bytes show as U+FFFD.
    virtual void SetStatusTextA(const char* text);

    std::wstring GetLastStatusText() const;
    int GetJobCode() const { return jobCode_.load(); }
    void SetJobCode(int code) { jobCode_ = code; }
    bool IsWorking() const { return working_.load(); }
    bool IsWorkerThread() const;
    bool StopRequested() const { return stop_.load(); }
    // The stop request itself, for code that polls it (an HTTP transfer).
    const std::atomic<bool>& StopFlag() const { return stop_; }
    // Sleeps `ms` unless a stop is requested first; false when stopped.
    bool WaitOrStop(int ms);

    static int WorkerThreadProc(CDialogZentravBase* dialog);

protected:
    std::atomic<int> jobCode_{-1};

private:
    void JoinIfEnded();

    std::mutex threadMutex_;
    std::thread worker_;
    std::atomic<bool> working_{false};
    std::atomic<bool> stop_{false};
    std::mutex waitMutex_;
    std::condition_variable waitCv_;
    mutable std::mutex statusMutex_;
    std::wstring status_;
};
