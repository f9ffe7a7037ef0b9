/*
 * Row bands on threads of their own: work over an image is cut into bands of rows, one thread
 * starts per band (through the thread table) and the caller waits for all of them. Used by the
 * masked blend, the sliced LUT application and the imaging component's scaler.
 */
#ifndef SYS_THREADS_ROW_BANDS_H
#define SYS_THREADS_ROW_BANDS_H

namespace sys {

/* Rows [first, end) of one band. */
struct RowBand {
    int first;
    int end;
};

/* Bands for `rows` rows: 8 from 2048 rows on, else one per 256 rows, at least one. */
int rowBandCount(int rows);

/* Band i of n over `rows` rows: rows / n rows each, the last band also takes the remainder. */
RowBand rowBand(int rows, int bandCount, int index);

typedef void (*RowBandWork)(void *context, RowBand band);

/* Runs work on each of bandCount bands of `rows` rows, each on a thread of its own, and waits for
 * all of them. A band whose thread cannot be started runs on the calling thread, so every row is
 * done when this returns. A single band runs on the calling thread. */
void runRowBands(int rows, int bandCount, RowBandWork work, void *context);

} // namespace sys

#endif
