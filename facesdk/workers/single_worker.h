/*
 * The single worker: one long-lived thread with a one-job slot. A caller creates a few, posts
 * one job to each, waits for each, and joins them.
 *
 * Divisions: the record; operations and their table.
 *
 * The record comes from the general heap, never from an EngineAllocator. A job receives the
 * caller's own argument block (not a copy) and writes its results into it.
 */
#ifndef FACESDK_WORKERS_SINGLE_WORKER_H
#define FACESDK_WORKERS_SINGLE_WORKER_H

#include "facesdk/workers/worker_pool.h"
#include "sys/threads/threads.h"

#include <atomic>
#include <cstdint>

/* ---- the record ---- */

struct SingleWorker {
    sys::SysThread *thread;        /* its thread */
    WorkerJobFunction function;    /* the posted job */
    std::atomic<int32_t> state;    /* WorkerState: 0 idle, 1 running, 2 posted */
    sys::SysLock stateLock;        /* guards state, stop flag and the posted job */
    sys::SysCondition startCondition; /* slept on with the state lock until a post or a stop */
    sys::SysLock doneLock;         /* pairs with the done condition */
    sys::SysCondition doneCondition;  /* slept on by the owner until the job has ended */
    int32_t stop;                  /* 1 asks the thread to end */
    void *argument;                /* the posted job's block, until a wait takes it */
    uint32_t threadId;             /* id of its thread */
    int32_t abandoned;             /* 1 when destroyed while a job ran: the thread frees the record */
};

/* ---- operations ---- */

/* *place receives a new idle worker. 0; -4 for a null place; -3 out of memory; -1 when the
 * thread cannot be started. *place is null unless the answer is 0. */
int workerCreate(SingleWorker **place);
/* Posts one job; a job posted and not yet taken up is replaced. 0; -4 for a null worker or
 * argument; -2 while a job runs (nothing changes then). */
int workerPost(SingleWorker *worker, WorkerJobFunction function, void *argument);
/* Waits until the posted job has ended and answers its argument pointer, once: the worker
 * forgets it, so a second wait answers null. Null for a null worker or nothing posted. */
void *workerWait(SingleWorker *worker);
/* Ends the worker at once and releases it. A job posted and not yet collected by a wait gets
 * -1 in the first 32-bit int of its block, except a job that is running at that moment: the
 * thread is never cancelled, so that job runs on, owns its block until it returns, and the
 * record is reclaimed by the thread when it does. 0; -1 when ending the thread failed (the
 * record is released all the same); -4 for a null worker. */
int workerDestroy(SingleWorker *worker);
/* Stops the worker in an orderly way: a running job ends first, a posted job that has not
 * started is dropped. 0; -1 when waiting for the thread failed (the record is released all the
 * same); -4 for a null worker. */
int workerJoin(SingleWorker *worker);

/* The single worker's operations in their slot order. */
struct SingleWorkerMethods {
    int (*create)(SingleWorker **place);
    int (*post)(SingleWorker *worker, WorkerJobFunction function, void *argument);
    void *(*wait)(SingleWorker *worker);
    int (*destroy)(SingleWorker *worker);
    int (*join)(SingleWorker *worker);
};

const SingleWorkerMethods *singleWorkerMethods();

#endif
