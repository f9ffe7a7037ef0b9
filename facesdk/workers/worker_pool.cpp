/*
 * The worker pool.
 *
 * Divisions: the job queue; the worker routine; create and free; start, wait and destroy;
 * submit; the band-job adapter; the operations table.
 *
 * Locking: the queue lock guards the queue; each worker's state lock guards its state and stop
 * flag; the done lock only pairs with the done condition. No thread holds two of them at once
 * and none is held while a job runs. The state is an atomic so that the owner may read it under
 * the done lock while the worker writes it under the state lock: the worker stores 0 before it
 * takes the done lock to wake the owner, so the wake-up cannot be missed.
 */
#include "facesdk/workers/worker_pool.h"

#include "facesdk/base/result_codes.h"

#include <cstring>
#include <new>

/* ---- the job queue (callers hold the queue lock) ---- */

namespace {

void queueInit(WorkerPool *pool)
{
    pool->queue.next = &pool->queue;
    pool->queue.previous = &pool->queue;
}

void queueAppend(WorkerPool *pool, PoolJob *job)
{
    job->next = &pool->queue;
    job->previous = pool->queue.previous;
    pool->queue.previous->next = job;
    pool->queue.previous = job;
}

/* Unlinks and answers the oldest job, or null when the queue is empty. */
PoolJob *queueTakeHead(WorkerPool *pool)
{
    PoolJob *job = pool->queue.next;
    if (job == &pool->queue)
        return nullptr;
    job->previous->next = job->next;
    job->next->previous = job->previous;
    job->next = job->previous = nullptr;
    return job;
}

void releaseJob(EngineAllocator *allocator, PoolJob *job)
{
    if (job->argument)
        allocatorFree(allocator, job->argument);
    allocatorFree(allocator, job);
}

/* ---- the worker routine ---- */

/* Takes jobs from the head of the queue until it is empty or the worker is asked to stop. */
void drainQueue(PoolWorker *worker)
{
    WorkerPool *pool = worker->pool;
    for (;;) {
        PoolJob *job;
        {
            sys::SysLockGuard queue(pool->queueLock);
            job = queueTakeHead(pool);
        }
        if (!job)
            return;
        {
            sys::SysLockGuard state(worker->stateLock);
            worker->runningJob = job->function;
            worker->runningArgument = job->argument;
        }
        job->function(job->argument);
        releaseJob(pool->allocator, job);
        sys::SysLockGuard state(worker->stateLock);
        worker->runningJob = nullptr;
        worker->runningArgument = nullptr;
        if (worker->stop)
            return;
    }
}

/* One round after another: wait for the release, drain, report idle. */
void poolWorkerMain(void *argument)
{
    PoolWorker *worker = static_cast<PoolWorker *>(argument);
    {
        sys::SysLockGuard state(worker->stateLock);
        worker->threadId = sys::threadMethods()->currentId();
    }
    for (;;) {
        {
            sys::SysLockGuard state(worker->stateLock);
            worker->startCondition.wait(state, [worker] {
                return worker->state.load() == kWorkerReleased || worker->stop;
            });
            if (worker->stop)
                return; /* queued jobs stay queued for workerPoolFree */
        }
        drainQueue(worker);
        {
            sys::SysLockGuard state(worker->stateLock);
            worker->state.store(kWorkerIdle);
        }
        {
            sys::SysLockGuard done(worker->doneLock);
            worker->doneCondition.notify_one();
        }
    }
}

/* Asks an idle or draining worker to end, waits for its thread and closes it. */
int stopAndCloseWorker(PoolWorker *worker)
{
    {
        sys::SysLockGuard state(worker->stateLock);
        worker->stop = 1;
        worker->startCondition.notify_one();
    }
    int rc = kResultOk;
    if (worker->thread) {
        if (sys::threadMethods()->join(worker->thread) != sys::kThreadOk)
            rc = kResultFailed;
        sys::threadMethods()->release(worker->thread);
        worker->thread = nullptr;
    }
    return rc;
}

void destroyWorkerRecords(WorkerPool *pool)
{
    if (!pool->workersLive)
        return;
    for (int32_t i = 0; i < pool->count; ++i)
        pool->workers[i].~PoolWorker();
    pool->workersLive = 0;
}

} // namespace

/* ---- create and free ---- */

int workerPoolCreate(EngineAllocator *allocator, int32_t count, WorkerPool **place)
{
    if (!place)
        return kResultBadArgument;
    *place = nullptr;
    if (count < 2 || !allocator)
        return kResultBadArgument;

    void *block = allocatorAlloc(allocator, sizeof(WorkerPool));
    if (!block)
        return kResultNoMemory;
    std::memset(block, 0, sizeof(WorkerPool));
    WorkerPool *pool = new (block) WorkerPool();
    queueInit(pool);
    pool->allocator = allocator;

    const uint64_t arrayBytes = uint64_t(sizeof(PoolWorker)) * uint64_t(count);
    void *array = arrayBytes <= UINT32_MAX ? allocatorAlloc(allocator, uint32_t(arrayBytes)) : nullptr;
    if (!array) {
        workerPoolFree(pool);
        return kResultNoMemory;
    }
    std::memset(array, 0, size_t(arrayBytes));
    pool->workers = static_cast<PoolWorker *>(array);
    pool->count = count;
    for (int32_t i = 0; i < count; ++i) {
        PoolWorker *worker = new (&pool->workers[i]) PoolWorker();
        worker->pool = pool;
        worker->state.store(kWorkerIdle);
    }
    pool->workersLive = 1;

    for (int32_t i = 0; i < count; ++i) {
        PoolWorker *worker = &pool->workers[i];
        if (sys::threadMethods()->start(poolWorkerMain, worker, &worker->thread, nullptr) != sys::kThreadOk) {
            worker->thread = nullptr;
            /* The workers already started are idle on their start condition: they end at once. */
            for (int32_t j = 0; j < i; ++j)
                stopAndCloseWorker(&pool->workers[j]);
            destroyWorkerRecords(pool);
            workerPoolFree(pool);
            return kResultFailed;
        }
    }
    *place = pool;
    return kResultOk;
}

int workerPoolFree(WorkerPool *pool)
{
    if (!pool)
        return kResultOk;
    EngineAllocator *allocator = pool->allocator;
    {
        sys::SysLockGuard queue(pool->queueLock);
        while (PoolJob *job = queueTakeHead(pool))
            releaseJob(allocator, job);
    }
    destroyWorkerRecords(pool);
    if (pool->workers)
        allocatorFree(allocator, pool->workers);
    pool->~WorkerPool();
    allocatorFree(allocator, pool);
    return kResultOk;
}

/* ---- start, wait and destroy ---- */

int workerPoolStart(WorkerPool *pool)
{
    if (!pool || !pool->workersLive)
        return kResultBadArgument;
    for (int32_t i = 0; i < pool->count; ++i) {
        PoolWorker *worker = &pool->workers[i];
        sys::SysLockGuard state(worker->stateLock);
        worker->state.store(kWorkerReleased);
        worker->startCondition.notify_one();
    }
    return kResultOk;
}

int workerPoolWait(WorkerPool *pool)
{
    if (!pool || !pool->workersLive)
        return kResultBadArgument;
    for (int32_t i = 0; i < pool->count; ++i) {
        PoolWorker *worker = &pool->workers[i];
        sys::SysLockGuard done(worker->doneLock);
        worker->doneCondition.wait(done, [worker] { return worker->state.load() == kWorkerIdle; });
    }
    return kResultOk;
}

int workerPoolDestroy(WorkerPool *pool)
{
    if (!pool)
        return kResultBadArgument;
    if (!pool->workersLive)
        return kResultOk;
    for (int32_t i = 0; i < pool->count; ++i)
        stopAndCloseWorker(&pool->workers[i]);
    destroyWorkerRecords(pool);
    return kResultOk;
}

/* ---- submit ---- */

int workerPoolSubmit(WorkerPool *pool, WorkerJobFunction function, const void *argument, uint32_t length)
{
    if (!pool || !function || (length > 0 && !argument))
        return kResultBadArgument;
    EngineAllocator *allocator = pool->allocator;
    sys::SysLockGuard queue(pool->queueLock);
    /* The copy is made before the entry is queued, so a failed copy queues nothing. A length of
     * 0 takes whatever the allocator answers for 0 bytes. */
    void *copy = allocatorAlloc(allocator, length);
    if (length > 0 && !copy)
        return kResultNoMemory;
    PoolJob *job = static_cast<PoolJob *>(allocatorAlloc(allocator, sizeof(PoolJob)));
    if (!job) {
        if (copy)
            allocatorFree(allocator, copy);
        return kResultNoMemory;
    }
    std::memset(job, 0, sizeof(PoolJob));
    if (length > 0)
        std::memcpy(copy, argument, length);
    job->function = function;
    job->argument = copy;
    job->length = length;
    queueAppend(pool, job);
    return kResultOk;
}

/* ---- the band-job adapter ---- */

int runJob(void *block)
{
    const BandJob *job = static_cast<const BandJob *>(block);
    if (!job || !job->function)
        return kResultBadArgument;
    return job->function(job->first, job->second, job->third, job->fourth, job->fifth, job->sixth,
                         job->seventh, job->eighth, job->ninth, job->tenth);
}

/* ---- the operations table ---- */

const WorkerPoolMethods *workerPoolMethods()
{
    static const WorkerPoolMethods methods = {workerPoolCreate, workerPoolStart,   workerPoolWait,
                                              workerPoolDestroy, workerPoolFree, workerPoolSubmit};
    return &methods;
}
