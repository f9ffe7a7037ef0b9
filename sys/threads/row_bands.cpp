/*
 * Row bands: one thread per band through the thread table, joined before returning.
 */
#include "sys/threads/row_bands.h"

#include <vector>

#include "sys/threads/threads.h"

namespace sys {

namespace {

struct BandJob {
    RowBandWork work;
    void *context;
    RowBand band;
};

void runBandJob(void *arg)
{
    const BandJob *job = static_cast<const BandJob *>(arg);
    job->work(job->context, job->band);
}

} // namespace

int rowBandCount(int rows)
{
    if (rows >= 2048)
        return 8;
    return rows / 256 > 1 ? rows / 256 : 1;
}

RowBand rowBand(int rows, int bandCount, int index)
{
    const int perBand = rows / bandCount;
    const int first = perBand * index;
    return {first, index == bandCount - 1 ? rows : first + perBand};
}

void runRowBands(int rows, int bandCount, RowBandWork work, void *context)
{
    if (rows <= 0)
        return;
    if (bandCount < 1)
        bandCount = 1;
    if (bandCount == 1) {
        work(context, {0, rows});
        return;
    }
    std::vector<BandJob> jobs(bandCount);
    std::vector<SysThread *> threads(bandCount, nullptr);
    const SysThreadMethods *methods = threadMethods();
    for (int i = 0; i < bandCount; ++i) {
        jobs[i] = {work, context, rowBand(rows, bandCount, i)};
        if (methods->start(runBandJob, &jobs[i], &threads[i], nullptr) != kThreadOk)
            threads[i] = nullptr;
    }
    /* Bands without a thread of their own run here while the others work. */
    for (int i = 0; i < bandCount; ++i)
        if (!threads[i])
            runBandJob(&jobs[i]);
    for (SysThread *thread : threads)
        if (thread) {
            methods->join(thread);
            methods->release(thread);
        }
}

} // namespace sys
