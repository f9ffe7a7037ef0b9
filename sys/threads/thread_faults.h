/*
 * Fault injection for the thread table: a test arms it to make the N-th thread start, every
 * join or every release fail, then disarms it. Everything else goes to the built-in table.
 */
#ifndef SYS_THREADS_THREAD_FAULTS_H
#define SYS_THREADS_THREAD_FAULTS_H

namespace sys {

struct ThreadFaults {
    int failStartAt = 0;      /* 1-based number of the start to refuse, counted from arming; 0 = none */
    bool failEveryStartFrom = false; /* with failStartAt: refuse that start and every later one */
    bool failJoin = false;    /* joins report failure (the thread is still waited for) */
    bool failRelease = false; /* releases report failure (the handle is still released) */
    bool holdNewThreads = false; /* started threads wait for releaseHeldThreads before running */
};

/* Puts the faulty table in effect with these faults and resets the start count. */
void armThreadFaults(const ThreadFaults &faults);
/* Restores the built-in table. */
void disarmThreadFaults();
/* Lets every thread held by holdNewThreads run. */
void releaseHeldThreads();
/* Number of thread starts asked since arming (refused ones included). */
int threadStartsSinceArming();

} // namespace sys

#endif
