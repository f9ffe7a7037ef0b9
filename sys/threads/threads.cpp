/*
 * Built-in thread table: std::thread underneath, with ended threads kept a while for the next
 * start, and the switch that lets a test put its own table in place.
 */
#include "sys/threads/threads.h"

#if defined(__linux__)
#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace sys {

// A started routine: the handle's side and the running thread's side share it; whichever lets
// go of it last frees it.
struct ThreadRun {
    SysThreadMain main;
    void *arg;
    uint32_t id;
    std::mutex lock;
    std::condition_variable ended; /* signalled when done is set */
    bool done = false;
    int owners = 2; /* the handle and the thread */
};

struct SysThread {
    ThreadRun *run;
    bool joined = false;
};

namespace {

std::atomic<uint32_t> nextThreadId{1};
thread_local uint32_t ownThreadId = 0;

uint32_t defaultCurrentId()
{
    if (ownThreadId == 0)
        ownThreadId = nextThreadId.fetch_add(1);
    return ownThreadId;
}

void letGo(ThreadRun *run)
{
    bool last;
    {
        std::lock_guard<std::mutex> guard(run->lock);
        last = --run->owners == 0;
    }
    if (last)
        delete run;
}

// Threads whose routine has ended wait a while for another before they end themselves: starting
// a system thread costs far more than handing a waiting one its routine, and the face libraries
// start a few threads for every fit and every band of some passes. The cache is never freed, so
// that a waiting thread may outlive the statics at the process's exit.
struct WaitingThread {
    ThreadRun *next = nullptr;       /* the routine it is handed */
    std::condition_variable handed;  /* signalled when it is */
};

struct ThreadCache {
    std::mutex lock;                       /* guards waiting and every waiter's next */
    std::vector<WaitingThread *> waiting;  /* the most recently ended last */
};

constexpr auto kWaitForNextRoutine = std::chrono::seconds(2);
constexpr size_t kMostWaitingThreads = 32;

ThreadCache &threadCache()
{
    static ThreadCache *cache = new ThreadCache;
    return *cache;
}

void runRoutines(ThreadRun *run)
{
    ThreadCache &cache = threadCache();
    while (run) {
        ownThreadId = run->id;
        run->main(run->arg);
        {
            std::lock_guard<std::mutex> guard(run->lock);
            run->done = true;
            run->ended.notify_all();
        }
        letGo(run);
        run = nullptr;
        WaitingThread self;
        std::unique_lock<std::mutex> guard(cache.lock);
        if (cache.waiting.size() >= kMostWaitingThreads)
            break;
        cache.waiting.push_back(&self);
        self.handed.wait_for(guard, kWaitForNextRoutine, [&self] { return self.next != nullptr; });
        if (!self.next)
            cache.waiting.erase(std::find(cache.waiting.begin(), cache.waiting.end(), &self));
        run = self.next;
    }
    ownThreadId = 0;
}

int defaultStart(SysThreadMain main, void *arg, SysThread **thread, uint32_t *threadId)
{
    if (!thread)
        return kThreadError;
    *thread = nullptr;
    SysThread *handle = new (std::nothrow) SysThread;
    ThreadRun *run = new (std::nothrow) ThreadRun;
    if (!handle || !run) {
        delete handle;
        delete run;
        return kThreadError;
    }
    run->main = main;
    run->arg = arg;
    run->id = nextThreadId.fetch_add(1);
    handle->run = run;
    bool handed = false;
    {
        ThreadCache &cache = threadCache();
        std::lock_guard<std::mutex> guard(cache.lock);
        if (!cache.waiting.empty()) {
            WaitingThread *waiter = cache.waiting.back();
            cache.waiting.pop_back();
            waiter->next = run;
            waiter->handed.notify_one();
            handed = true;
        }
    }
    if (!handed) {
        try {
            std::thread(runRoutines, run).detach();
        } catch (const std::system_error &) {
            delete run;
            delete handle;
            return kThreadError;
        }
    }
    if (threadId)
        *threadId = run->id;
    *thread = handle;
    return kThreadOk;
}

int defaultJoin(SysThread *thread)
{
    if (!thread || thread->joined)
        return kThreadError;
    ThreadRun *run = thread->run;
    std::unique_lock<std::mutex> guard(run->lock);
    run->ended.wait(guard, [run] { return run->done; });
    thread->joined = true;
    return kThreadOk;
}

int defaultRelease(SysThread *thread)
{
    if (!thread)
        return kThreadError;
    letGo(thread->run);
    delete thread;
    return kThreadOk;
}

const SysThreadMethods builtInMethods = {defaultStart, defaultJoin, defaultRelease, defaultCurrentId};
std::atomic<const SysThreadMethods *> methodsInEffect{&builtInMethods};

} // namespace

int processorsAvailable()
{
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(CPU_COUNT(&set), 1);
#endif
    return std::max(int(std::thread::hardware_concurrency()), 1);
}

const SysThreadMethods *threadMethods() { return methodsInEffect.load(); }
const SysThreadMethods *defaultThreadMethods() { return &builtInMethods; }
void setThreadMethods(const SysThreadMethods *methods)
{
    methodsInEffect.store(methods ? methods : &builtInMethods);
}

/* ---- sleeping on a word ---- */

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "a word is four bytes");

#if defined(__linux__)
namespace {

long futexCall(const std::atomic<uint32_t> *word, int operation, uint32_t value)
{
    return syscall(SYS_futex, const_cast<std::atomic<uint32_t> *>(word), operation | FUTEX_PRIVATE_FLAG,
                   value, nullptr, nullptr, 0);
}

} // namespace

void waitOnWord(const std::atomic<uint32_t> *word, uint32_t expected)
{
    futexCall(word, FUTEX_WAIT, expected);
}

void wakeOneOnWord(const std::atomic<uint32_t> *word)
{
    futexCall(word, FUTEX_WAKE, 1);
}

void wakeAllOnWord(const std::atomic<uint32_t> *word)
{
    futexCall(word, FUTEX_WAKE, uint32_t(INT32_MAX));
}
#else
// Elsewhere a sleeper gives its processor up and looks again.
void waitOnWord(const std::atomic<uint32_t> *word, uint32_t expected)
{
    if (word->load() == expected)
        std::this_thread::yield();
}

void wakeOneOnWord(const std::atomic<uint32_t> *) {}
void wakeAllOnWord(const std::atomic<uint32_t> *) {}
#endif

} // namespace sys
