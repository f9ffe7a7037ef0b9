/*
 * The faulty thread table behind armThreadFaults: forwards to the built-in table and refuses
 * what the armed faults say. Refused joins and releases still do their work, so no thread or
 * handle is lost while a test exercises the failure paths.
 */
#include "sys/threads/thread_faults.h"

#include "sys/threads/threads.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace sys {

namespace {

std::atomic<int> startCount{0};
std::atomic<int> failStartAt{0};
std::atomic<bool> failEveryStartFrom{false};
std::atomic<bool> failJoin{false};
std::atomic<bool> failRelease{false};

std::mutex holdLock;
std::condition_variable holdChanged;
bool holding = false;

struct HeldStart {
    SysThreadMain main; /* the routine to run once released */
    void *arg;          /* its argument */
};

void heldThreadMain(void *arg)
{
    HeldStart start = *static_cast<HeldStart *>(arg);
    delete static_cast<HeldStart *>(arg);
    {
        std::unique_lock<std::mutex> guard(holdLock);
        holdChanged.wait(guard, [] { return !holding; });
    }
    start.main(start.arg);
}

int faultyStart(SysThreadMain main, void *arg, SysThread **thread, uint32_t *threadId)
{
    const int number = startCount.fetch_add(1) + 1;
    const int at = failStartAt.load();
    if (at > 0 && (number == at || (failEveryStartFrom.load() && number > at))) {
        if (thread)
            *thread = nullptr;
        return kThreadError;
    }
    bool hold;
    {
        std::lock_guard<std::mutex> guard(holdLock);
        hold = holding;
    }
    if (!hold)
        return defaultThreadMethods()->start(main, arg, thread, threadId);
    HeldStart *start = new HeldStart{main, arg};
    const int rc = defaultThreadMethods()->start(heldThreadMain, start, thread, threadId);
    if (rc != kThreadOk)
        delete start;
    return rc;
}

int faultyJoin(SysThread *thread)
{
    const int rc = defaultThreadMethods()->join(thread);
    return failJoin.load() ? kThreadError : rc;
}

int faultyRelease(SysThread *thread)
{
    const int rc = defaultThreadMethods()->release(thread);
    return failRelease.load() ? kThreadError : rc;
}

uint32_t faultyCurrentId() { return defaultThreadMethods()->currentId(); }

const SysThreadMethods faultyMethods = {faultyStart, faultyJoin, faultyRelease, faultyCurrentId};

} // namespace

void armThreadFaults(const ThreadFaults &faults)
{
    startCount.store(0);
    failStartAt.store(faults.failStartAt);
    failEveryStartFrom.store(faults.failEveryStartFrom);
    failJoin.store(faults.failJoin);
    failRelease.store(faults.failRelease);
    {
        std::lock_guard<std::mutex> guard(holdLock);
        holding = faults.holdNewThreads;
    }
    setThreadMethods(&faultyMethods);
}

void releaseHeldThreads()
{
    std::lock_guard<std::mutex> guard(holdLock);
    holding = false;
    holdChanged.notify_all();
}

void disarmThreadFaults()
{
    releaseHeldThreads();
    setThreadMethods(nullptr);
}

int threadStartsSinceArming() { return startCount.load(); }

} // namespace sys
