// Worker records of the platform: each run of a worker is a new thread (started through the
// sys/threads table, so a test can make a start fail), a start is refused while the worker's last
// thread still runs or another start holds the record, and anyone may wait for the last thread.
// Also the main-thread test that decides whether opening an image analyses on a worker.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "sys/threads/threads.h"

class VXLPlatformWin;

using WorkerFunction = void (*)(VXLPlatformWin* owner);

class WorkerRecord {
public:
    WorkerRecord(VXLPlatformWin* owner, WorkerFunction function) : owner_(owner), function_(function) {}
    ~WorkerRecord();
    WorkerRecord(const WorkerRecord&) = delete;
    WorkerRecord& operator=(const WorkerRecord&) = delete;

    // Starts a new thread running the function with the owner. False when another start holds the
    // record, the last thread still runs, or no thread could be started.
    bool start();
    // Waits without limit until the last thread has ended; a worker that never ran counts as ended.
    void wait();
    bool running() const;
    // True on the worker's last thread.
    bool isCurrentThread() const;
    uint32_t lastThreadId() const;

private:
    static void trampoline(void* record);
    void closeLastThread();

    VXLPlatformWin* owner_;
    WorkerFunction function_;
    std::mutex startMutex_;           // serialises starts
    mutable std::mutex stateMutex_;   // guards the fields below
    std::condition_variable ended_;
    sys::SysThread* thread_ = nullptr;  // last thread; joined when the next start closes it
    uint32_t threadId_ = 0;
    bool running_ = false;
};

// True when the calling thread is the process's main thread. Tests may replace the probe (null
// restores the system's): it answers whether it could tell and, if so, fills *isMain.
using MainThreadProbe = bool (*)(bool* isMain);
void setMainThreadProbe(MainThreadProbe probe);
// Whether the probe could tell (false: unknown) and, when it could, whether this is the main thread.
bool isMainThread(bool* isMain);
