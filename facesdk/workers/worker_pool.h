/*
 * The worker pool: a caller creates a pool of worker threads and then runs rounds on it: it
 * queues jobs (a function and a private copy of its argument block), releases the workers and
 * waits until they have drained the queue. Between rounds the threads wait for the next
 * release, so one pool serves any number of rounds; destroying and freeing it ends them.
 *
 * Divisions: job and band-job types; records; operations and their table.
 *
 * All memory of a pool (record, worker array, queued jobs, argument copies) comes from the
 * EngineAllocator given at creation; that allocator must be usable from several threads.
 */
#ifndef FACESDK_WORKERS_WORKER_POOL_H
#define FACESDK_WORKERS_WORKER_POOL_H

#include "facesdk/base/allocator.h"
#include "sys/threads/threads.h"

#include <atomic>
#include <cstdint>

/* ---- jobs ---- */

/* A job: called with its argument block; the result is ignored, a job writes what it produces
 * into its block. */
typedef int (*WorkerJobFunction)(void *argument);

/* The function a band job calls: ten arguments in the order of BandJob. */
typedef int (*BandJobFunction)(void *first, void *second, void *third, int32_t fourth,
                               int32_t fifth, int32_t sixth, void *seventh, int32_t eighth,
                               int32_t ninth, int32_t tenth);

/* Argument block of runJob; submitted whole, with sizeof(BandJob) as its length. */
struct BandJob {
    void *first;            /* call argument 1 */
    void *second;           /* call argument 2 */
    void *third;            /* call argument 3 */
    int32_t fourth;         /* call argument 4 */
    int32_t fifth;          /* call argument 5 */
    int32_t sixth;          /* call argument 6 */
    void *seventh;          /* call argument 7 */
    int32_t eighth;         /* call argument 8 */
    int32_t ninth;          /* call argument 9 */
    int32_t tenth;          /* call argument 10 */
    BandJobFunction function; /* what to call with the ten arguments */
};

/* The band-job adapter: a pool job that calls block->function with the block's ten arguments. */
int runJob(void *bandJob);

/* ---- records ---- */

struct WorkerPool;

/* Worker states, written only under the worker's state lock. */
enum WorkerState : int32_t {
    kWorkerIdle = 0,     /* pool: created or done draining a round; single: no job or job ended */
    kWorkerRunning = 1,  /* single worker only: running its job */
    kWorkerReleased = 2, /* pool: draining the queue; single: job posted, not yet taken */
};

/* One queued job. */
struct PoolJob {
    WorkerJobFunction function; /* the job */
    void *argument;             /* private copy of the caller's block (null for length 0) */
    uint32_t length;            /* length of the copy in bytes */
    PoolJob *next;              /* queue link towards the tail */
    PoolJob *previous;          /* queue link towards the head */
};

/* One worker of a pool. */
struct PoolWorker {
    sys::SysThread *thread;        /* its thread, null once ended and closed */
    WorkerJobFunction runningJob;  /* function of the job it is running */
    std::atomic<int32_t> state;    /* WorkerState; read by the owner under the done lock */
    sys::SysLock stateLock;        /* guards state, stop flag and the running job */
    sys::SysCondition startCondition; /* slept on with the state lock until released or stopped */
    sys::SysLock doneLock;         /* pairs with the done condition */
    sys::SysCondition doneCondition;  /* slept on by the owner until the worker is idle */
    int32_t stop;                  /* 1 asks the worker to end */
    void *runningArgument;         /* argument copy of the job it is running */
    uint32_t threadId;             /* id of its thread */
    WorkerPool *pool;              /* the pool it belongs to */
};

struct WorkerPool {
    PoolJob queue;                 /* list head: queue.next is the oldest job, queue.previous the newest */
    sys::SysLock queueLock;        /* guards the queue */
    PoolWorker *workers;           /* count workers, one block */
    int32_t count;                 /* number of workers, at least 2 */
    int32_t workersLive;           /* 1 while the workers' locks exist (between create and destroy) */
    EngineAllocator *allocator;    /* source of every block of the pool */
};

/* ---- operations ----
 * Order of calls: create; then per round submit per job, start, wait; then destroy, free. */

/* *pool receives a new pool of count workers, each waiting for the start. 0; -4 for a count
 * below 2 or null arguments; -3 out of memory; -1 when a worker thread cannot be started. *pool
 * is null unless the answer is 0. */
int workerPoolCreate(EngineAllocator *allocator, int32_t count, WorkerPool **pool);
/* Releases every worker to drain the queue: one round. 0; -4 for a null or destroyed pool. The
 * previous round must have been waited for. */
int workerPoolStart(WorkerPool *pool);
/* Returns 0 when every worker is idle again, that is when the round's jobs have all ended (at
 * once before a start). -4 for a null or destroyed pool. */
int workerPoolWait(WorkerPool *pool);
/* Stops every worker, waits for its thread to end (a running job ends first) and deletes its
 * locks. Jobs still queued stay queued for workerPoolFree. 0. */
int workerPoolDestroy(WorkerPool *pool);
/* Frees the jobs that never ran (argument copy, then entry), the workers and the pool. Null does
 * nothing. 0. Comes after workerPoolDestroy. */
int workerPoolFree(WorkerPool *pool);
/* Queues function with a private copy of length bytes of argument; the caller may reuse its
 * block at once. 0; -4 for a null pool or function, or a null block with a length; -3 when the
 * copy or the entry cannot be allocated (nothing is queued then). */
int workerPoolSubmit(WorkerPool *pool, WorkerJobFunction function, const void *argument,
                     uint32_t length);

/* The pool's operations in their slot order. */
struct WorkerPoolMethods {
    int (*create)(EngineAllocator *allocator, int32_t count, WorkerPool **pool);
    int (*start)(WorkerPool *pool);
    int (*wait)(WorkerPool *pool);
    int (*destroy)(WorkerPool *pool);
    int (*free)(WorkerPool *pool);
    int (*submit)(WorkerPool *pool, WorkerJobFunction function, const void *argument,
                  uint32_t length);
};

const WorkerPoolMethods *workerPoolMethods();

#endif
