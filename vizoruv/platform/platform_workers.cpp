// Worker records and the main-thread test.
#include "vizoruv/platform/platform_workers.h"

#include <atomic>

#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The process's main thread is the one whose thread id equals the process id.
bool systemMainThreadProbe(bool* isMain) {
    *isMain = pid_t(syscall(SYS_gettid)) == getpid();
    return true;
}

std::atomic<MainThreadProbe> gMainThreadProbe{systemMainThreadProbe};

}  // namespace

WorkerRecord::~WorkerRecord() {
    wait();
    closeLastThread();
}

void WorkerRecord::trampoline(void* argument) {
    WorkerRecord* record = static_cast<WorkerRecord*>(argument);
    record->function_(record->owner_);
    std::lock_guard<std::mutex> lock(record->stateMutex_);
    record->running_ = false;
    record->ended_.notify_all();
}

void WorkerRecord::closeLastThread() {
    // Only called once the last thread has left its function, so the join is short.
    if (thread_) {
        sys::threadMethods()->join(thread_);
        sys::threadMethods()->release(thread_);
        thread_ = nullptr;
    }
}

bool WorkerRecord::start() {
    std::unique_lock<std::mutex> starting(startMutex_, std::try_to_lock);
    if (!starting.owns_lock())
        return false;
    {
        std::lock_guard<std::mutex> lock(stateMutex_);
        if (running_)
            return false;
    }
    closeLastThread();
    std::lock_guard<std::mutex> lock(stateMutex_);
    running_ = true;
    sys::SysThread* thread = nullptr;
    uint32_t id = 0;
    if (sys::threadMethods()->start(&WorkerRecord::trampoline, this, &thread, &id) != sys::kThreadOk || !thread) {
        running_ = false;
        return false;
    }
    thread_ = thread;
    threadId_ = id;
    return true;
}

void WorkerRecord::wait() {
    std::unique_lock<std::mutex> lock(stateMutex_);
    ended_.wait(lock, [this] { return !running_; });
}

bool WorkerRecord::running() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return running_;
}

bool WorkerRecord::isCurrentThread() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return thread_ && threadId_ == sys::threadMethods()->currentId();
}

uint32_t WorkerRecord::lastThreadId() const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    return threadId_;
}

void setMainThreadProbe(MainThreadProbe probe) {
    gMainThreadProbe.store(probe ? probe : systemMainThreadProbe);
}

bool isMainThread(bool* isMain) {
    *isMain = false;
    return gMainThreadProbe.load()(isMain);
}
