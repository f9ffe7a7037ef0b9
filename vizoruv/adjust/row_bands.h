// Row bands run on threads of their own: the masked blend and the sliced LUT application cut an
// image into bands of rows, start one thread per band and wait for all of them.
#pragma once

#include <cstdint>

// Rows [first, end) of one band.
struct RowBand {
    int first;
    int end;
};

// Bands for `rows` rows: 8 from 2048 rows on, else one per 256 rows, at least one.
int rowBandCount(int rows);

// Band i of n over `rows` rows: rows / n rows each, the last band also takes the remainder.
RowBand rowBand(int rows, int bandCount, int index);

using RowBandWork = void (*)(void* context, RowBand band);

// Runs work on each of bandCount bands of `rows` rows, each on a thread of its own (through the
// sys/threads table), and waits for all of them. A band whose thread cannot be started runs on the
// calling thread, so every row is done when this returns. One band runs on the calling thread.
void runRowBands(int rows, int bandCount, RowBandWork work, void* context);
