#include "app/worker_base.h"

#include <chrono>

#include "foundation/text_convert.h"

CDialogZentravBase::~CDialogZentravBase() {
    StopWork(1);
}

int CDialogZentravBase::OnDeferredInitMessage(int pre) {
    if (pre) OnPreDeferredInit();
    OnDeferredInit();
    return 1;
}

int CDialogZentravBase::DoWork() {
    OnWorkFinished();
    return 1;
}

int CDialogZentravBase::WorkerThreadProc(CDialogZentravBase* dialog) {
    if (!dialog) return 0;
    dialog->DoWork();
    dialog->working_ = false;
    return 1;
}

bool CDialogZentravBase::IsWorkerThread() const {
    return worker_.joinable() && worker_.get_id() == std::this_thread::get_id();
}

void CDialogZentravBase::JoinIfEnded() {
    // Only a worker that has left DoWork is joined here, never the calling thread.
    if (worker_.joinable() && !working_ && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

int CDialogZentravBase::StartWork() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (working_) return 0;  // one job at a time
    JoinIfEnded();
    if (worker_.joinable()) return 0;
    OnBeforeWork();
    stop_ = false;
    working_ = true;
    try {
        worker_ = std::thread(&CDialogZentravBase::WorkerThreadProc, this);
    } catch (const std::exception&) {
        working_ = false;
        return 0;
    }
    return 1;
}

int CDialogZentravBase::StopWork(int terminate) {
    std::unique_lock<std::mutex> lock(threadMutex_);
    if (!worker_.joinable()) return 0;
    if (!terminate) {
        JoinIfEnded();
        return 1;
    }
    if (worker_.get_id() == std::this_thread::get_id()) return 1;  // a job cannot wait for itself
    RequestStop();
    worker_.join();
    working_ = false;
    stop_ = false;
    return 1;
}

void CDialogZentravBase::RequestStop() {
    {
        std::lock_guard<std::mutex> w(waitMutex_);
        if (!working_) return;  // a request left behind would stop the next job
        stop_ = true;
    }
    waitCv_.notify_all();
}

bool CDialogZentravBase::WaitOrStop(int ms) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    return !waitCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void CDialogZentravBase::SetStatusText(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_ = text;
}

std::wstring CDialogZentravBase::GetLastStatusText() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

void CDialogZentravBase::SetStatusTextA(const char* text) {
    if (!text) return;
    SetStatusText(Utf8ToWideString(text));
}
