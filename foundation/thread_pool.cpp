#include "foundation/thread_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

// Pools alive in the process; the value after a pool's increment is its
// instance number, which names it.
std::atomic<int> g_livePools{0};

// Best effort: a Win32 priority becomes a nice value relative to the creating
// thread's. Raising it needs privileges; without them the thread keeps its own.
void ApplyPriority(int priority) {
    if (priority == THREAD_PRIORITY_NORMAL) return;
    pid_t tid = gettid();
    errno = 0;
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (base == -1 && errno != 0) return;
    int nice;
    if (priority <= THREAD_PRIORITY_IDLE)
        nice = 19;
    else if (priority >= THREAD_PRIORITY_TIME_CRITICAL)
        nice = base - 8;
    else
        nice = base - 2 * std::clamp(priority, -2, 2);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::clamp(nice, -20, 19));
}

}  // namespace

CThreadPool::CThreadPool(int initialThreads, bool startNow, size_t stackSize, int growStep, int maxThreads,
                         int priority, int /*extraStopWaitMs*/)
    : initialThreads_(initialThreads),
      stackSize_(stackSize),
      growStep_(growStep),
      maxThreads_(maxThreads),
      priority_(priority) {
    if (startNow && !Start()) throw 1;
}

CThreadPool::~CThreadPool() {
    Stop(false);
}

bool CThreadPool::Start() {
    std::unique_lock creation(creationMutex_);
    {
        std::lock_guard lock(mutex_);
        if (state_ != kStopped) return false;
        int instance = ++g_livePools;
        name_ = L"Pool" + std::to_wstring(instance);
        // Running before the workers exist, so that they do not end at once.
        state_ = kRunning;
    }
    for (int i = 0; i < initialThreads_; ++i) {
        if (!CreateWorker()) {
            // Stop also waits for a Grow that a Submit began meanwhile.
            creation.unlock();
            Stop(false);
            return false;
        }
    }
    started_ = true;
    return true;
}

bool CThreadPool::CreateWorker() {
    auto w = std::make_unique<Worker>();
    w->pool = this;
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return false;
    bool ok = true;
    if (stackSize_ > 0)
        ok = pthread_attr_setstacksize(&attr, std::max(stackSize_, static_cast<size_t>(PTHREAD_STACK_MIN))) ==
             0;
    {
        // Room first, so that recording a running thread cannot fail.
        std::lock_guard lock(mutex_);
        if (workers_.size() == workers_.capacity()) workers_.reserve(workers_.size() * 2 + 4);
    }
    // The thread needs only its record and the pool's lock; Stop cannot miss it,
    // as it joins only after creation has ended (creationMutex_).
    if (ok) ok = pthread_create(&w->thread, &attr, &CThreadPool::WorkerMain, w.get()) == 0;
    pthread_attr_destroy(&attr);
    if (!ok) return false;
    std::lock_guard lock(mutex_);
    workers_.push_back(std::move(w));
    return true;
}

void* CThreadPool::WorkerMain(void* arg) {
    auto* w = static_cast<Worker*>(arg);
    ApplyPriority(w->pool->priority_);
    w->pool->WorkerLoop(*w);
    return nullptr;
}

void CThreadPool::WorkerLoop(Worker& w) {
    std::unique_lock lock(mutex_);
    for (;;) {
        w.cv.wait(lock, [&] { return w.wake || state_ != kRunning; });
        if (state_ != kRunning) break;
        if (queue_.empty()) {
            // Going idle and clearing the wake-up happen under the same lock
            // as Submit's queueing, so no job can slip in between unseen.
            w.idle = true;
            w.wake = false;
            continue;
        }
        Job job = queue_.front();
        queue_.pop_front();
        w.idle = false;
        lock.unlock();
        job.fn(job.param);
        lock.lock();
        // The wake-up stays set: the next turn takes a queued job at once.
        w.idle = true;
    }
    w.idle = true;
}

bool CThreadPool::WakeIdleWorker() {
    for (auto& w : workers_) {
        if (w->idle) {
            w->idle = false;
            w->wake = true;
            w->cv.notify_one();
            return true;
        }
    }
    return false;
}

bool CThreadPool::Submit(JobFunction fn, void* param, int placement) {
    if (!fn) return false;
    {
        std::lock_guard lock(mutex_);
        if (state_ != kRunning) return false;
        if (placement == 1)
            queue_.push_back({fn, param});
        else
            queue_.push_front({fn, param});
        if (WakeIdleWorker()) return true;
    }
    if (growStep_ != 0 && Grow(growStep_) > 0) {
        std::lock_guard lock(mutex_);
        WakeIdleWorker();
    }
    return true;
}

int CThreadPool::Grow(int n) {
    if (n <= 0) return 0;
    std::lock_guard creation(creationMutex_);
    {
        std::lock_guard lock(mutex_);
        if (state_ != kRunning) return 0;
        if (maxThreads_ > 0 && static_cast<int>(workers_.size()) >= maxThreads_) return 0;
    }
    int added = 0;
    while (added < n && state_ == kRunning && CreateWorker()) ++added;
    return added;
}

bool CThreadPool::BeginStop() {
    std::lock_guard lock(mutex_);
    if (state_ != kRunning) return false;
    state_ = kStopping;
    queue_.clear();
    for (auto& w : workers_) w->cv.notify_one();
    return true;
}

void CThreadPool::Stop(bool) {
    if (!BeginStop()) return;
    // A Grow in progress sees the state and ends; none can start after it.
    { std::lock_guard creation(creationMutex_); }
    JoinAll();
}

void CThreadPool::Terminate() {
    Stop(false);
}

void CThreadPool::JoinAll() {
    // Idle workers end at once; busy ones when their job returns. No lock is
    // held while joining, so those jobs may still call Submit (which refuses).
    for (auto& w : workers_) pthread_join(w->thread, nullptr);
    std::lock_guard lock(mutex_);
    workers_.clear();
    queue_.clear();
    --g_livePools;
    state_ = kStopped;
}

int CThreadPool::GetBusyCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(workers_.begin(), workers_.end(), [](auto& w) { return !w->idle; }));
}

int CThreadPool::GetThreadCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(workers_.size());
}

std::wstring CThreadPool::GetName() {
    std::lock_guard lock(mutex_);
    return name_;
}

CThreadPool& GetGlobalThreadPool() {
    static CThreadPool pool(2, true, 0, 0, 0, THREAD_PRIORITY_NORMAL, 5000);
    return pool;
}
