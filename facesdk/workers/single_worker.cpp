/*
 * The single worker.
 *
 * Divisions: record lifetime; the worker routine; create; post and wait; join and destroy; the
 * operations table.
 *
 * Locking is that of the pool workers (see worker_pool.cpp): state and stop flag under the state
 * lock, the done lock only with the done condition, never two at once, none while a job runs.
 *
 * A thread is never cancelled. Destroying a worker whose job is running marks the record
 * abandoned; the thread then frees the record itself when the job returns. In every other state
 * the thread is idle or about to see the stop flag, so destroy waits for it to end.
 */
#include "facesdk/workers/single_worker.h"

#include "facesdk/base/result_codes.h"

#include <cstdlib>
#include <cstring>
#include <new>

/* ---- record lifetime ---- */

namespace {

void freeRecord(SingleWorker *worker)
{
    worker->~SingleWorker();
    std::free(worker);
}

/* ---- the worker routine ---- */

void singleWorkerMain(void *argument)
{
    SingleWorker *worker = static_cast<SingleWorker *>(argument);
    for (;;) {
        WorkerJobFunction function;
        void *jobArgument;
        {
            sys::SysLockGuard state(worker->stateLock);
            worker->threadId = sys::threadMethods()->currentId();
            if (worker->stop)
                return;
            worker->startCondition.wait(state, [worker] {
                return worker->state.load() == kWorkerReleased || worker->stop;
            });
            if (worker->stop)
                return; /* a posted job that has not started is dropped */
            worker->state.store(kWorkerRunning);
            function = worker->function;
            jobArgument = worker->argument;
        }
        function(jobArgument);
        bool stop;
        {
            sys::SysLockGuard state(worker->stateLock);
            worker->state.store(kWorkerIdle);
            if (worker->abandoned) {
                state.unlock();
                freeRecord(worker);
                return;
            }
            stop = worker->stop != 0;
        }
        {
            sys::SysLockGuard done(worker->doneLock);
            worker->doneCondition.notify_one();
        }
        if (stop)
            return;
    }
}

} // namespace

/* ---- create ---- */

int workerCreate(SingleWorker **place)
{
    if (!place)
        return kResultBadArgument;
    *place = nullptr;
    void *block = std::malloc(sizeof(SingleWorker));
    if (!block)
        return kResultNoMemory;
    std::memset(block, 0, sizeof(SingleWorker));
    SingleWorker *worker = new (block) SingleWorker();
    worker->state.store(kWorkerIdle);
    if (sys::threadMethods()->start(singleWorkerMain, worker, &worker->thread, nullptr) != sys::kThreadOk) {
        freeRecord(worker);
        return kResultFailed;
    }
    *place = worker;
    return kResultOk;
}

/* ---- post and wait ---- */

int workerPost(SingleWorker *worker, WorkerJobFunction function, void *argument)
{
    if (!worker || !argument || !function)
        return kResultBadArgument;
    sys::SysLockGuard state(worker->stateLock);
    if (worker->state.load() == kWorkerRunning)
        return kResultCancelled; /* busy: the running job and its argument stay as they are */
    worker->function = function;
    worker->argument = argument;
    worker->state.store(kWorkerReleased);
    worker->startCondition.notify_one();
    return kResultOk;
}

void *workerWait(SingleWorker *worker)
{
    if (!worker)
        return nullptr;
    sys::SysLockGuard done(worker->doneLock);
    worker->doneCondition.wait(done, [worker] { return worker->state.load() == kWorkerIdle; });
    void *argument = worker->argument;
    worker->argument = nullptr;
    return argument;
}

/* ---- join and destroy ---- */

int workerJoin(SingleWorker *worker)
{
    if (!worker)
        return kResultBadArgument;
    {
        sys::SysLockGuard state(worker->stateLock);
        worker->stop = 1;
        worker->startCondition.notify_one();
    }
    const int joined = sys::threadMethods()->join(worker->thread);
    sys::threadMethods()->release(worker->thread);
    freeRecord(worker);
    return joined == sys::kThreadOk ? kResultOk : kResultFailed;
}

int workerDestroy(SingleWorker *worker)
{
    if (!worker)
        return kResultBadArgument;
    sys::SysThread *thread = worker->thread;
    bool running;
    {
        sys::SysLockGuard state(worker->stateLock);
        worker->stop = 1;
        worker->startCondition.notify_one();
        running = worker->state.load() == kWorkerRunning;
        if (running) {
            worker->abandoned = 1; /* from here on the record belongs to the thread */
        } else if (worker->argument) {
            /* Posted and never collected: its owner sees the job as abandoned. */
            *static_cast<int32_t *>(worker->argument) = -1;
            worker->argument = nullptr;
        }
    }
    int ended = sys::kThreadOk;
    if (!running)
        ended = sys::threadMethods()->join(thread);
    const int released = sys::threadMethods()->release(thread);
    if (!running)
        freeRecord(worker);
    return ended == sys::kThreadOk && released == sys::kThreadOk ? kResultOk : kResultFailed;
}

/* ---- the operations table ---- */

const SingleWorkerMethods *singleWorkerMethods()
{
    static const SingleWorkerMethods methods = {workerCreate, workerPost, workerWait, workerDestroy,
                                                workerJoin};
    return &methods;
}
