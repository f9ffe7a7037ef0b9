/*
 * Threads layer of the face libraries: thread start, join and release through a small table of
 * system calls that a test can replace (to make the N-th thread start or a join fail), plus the
 * lock and condition types the workers keep inside their records.
 *
 * Divisions: result codes; the thread table; locks and conditions; waiting without sleeping;
 * sleeping on a word.
 *
 * A thread is never cancelled from outside. Releasing the handle of a thread that still runs
 * leaves the thread running on its own until its routine returns.
 */
#ifndef SYS_THREADS_THREADS_H
#define SYS_THREADS_THREADS_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace sys {

/* ---- result codes ---- */
constexpr int kThreadOk = 0;     /* the call did what it was asked */
constexpr int kThreadError = -1; /* the system refused (no thread, failed join or release) */

/* ---- the thread table ---- */
struct SysThread;                     /* one started thread; owned by whoever started it */
typedef void (*SysThreadMain)(void *arg);

struct SysThreadMethods {
    /* Starts main(arg) on a new thread; *thread receives the handle and *threadId (may be null)
     * the thread's id. kThreadOk, or kThreadError with *thread null when no thread started. */
    int (*start)(SysThreadMain main, void *arg, SysThread **thread, uint32_t *threadId);
    /* Waits without a time limit until the thread has ended; the handle stays valid. */
    int (*join)(SysThread *thread);
    /* Releases the handle. A thread that still runs goes on alone and ends when main returns. */
    int (*release)(SysThread *thread);
    /* Id of the calling thread, never 0. */
    uint32_t (*currentId)(void);
};

/* Processors this process may run on (at least 1). */
int processorsAvailable();

/* The table in effect. */
const SysThreadMethods *threadMethods();
/* The built-in table (std::thread underneath). */
const SysThreadMethods *defaultThreadMethods();
/* Replaces the table in effect; null restores the built-in one. Not for use while threads are
 * being started; tests call it between cases. */
void setThreadMethods(const SysThreadMethods *methods);

/* ---- locks and conditions ----
 * SysLock stands for a critical section and SysCondition for a condition variable that is slept
 * on with one; records that hold them construct and destroy them in place. */
using SysLock = std::mutex;
using SysLockGuard = std::unique_lock<std::mutex>;
using SysCondition = std::condition_variable;

/* ---- waiting without sleeping ----
 * One step of a loop that watches memory another thread will write: tells the processor so,
 * which spares the other thread of a shared core and the memory order machinery. */
inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

/* ---- sleeping on a word ----
 * A thread sleeps until another wakes the word it watches, with no lock: waitOnWord returns at
 * once when the word no longer holds `expected`, else when woken (or, rarely, for no reason;
 * callers check what they wait for in a loop). Whoever changes what a sleeper waits for
 * changes the word, then wakes it; the check and the sleep are one step, so no wake is lost
 * between them. */
void waitOnWord(const std::atomic<uint32_t> *word, uint32_t expected);
void wakeOneOnWord(const std::atomic<uint32_t> *word);
void wakeAllOnWord(const std::atomic<uint32_t> *word);

} // namespace sys

#endif
