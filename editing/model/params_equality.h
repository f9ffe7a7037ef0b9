// Group-aware equality of correction blocks and equality of RAW development records: what decides
// whether a new correction is a new undoable state. A feature that is off, or whose group is off, may
// hold any values without making two blocks differ; some values count only in certain modes.
#pragma once

#include "editing/model/vxl_params.h"
#include "vizoruv/io/raw_params.h"

bool paramsEqual(const VXLParams& first, const VXLParams& second);
inline bool paramsDiffer(const VXLParams& first, const VXLParams& second) { return !paramsEqual(first, second); }

// Compares the development settings at the head of the records (not the embedded block).
bool rawParamsEqual(const VXLRAWParams& first, const VXLRAWParams& second);
inline bool rawParamsDiffer(const VXLRAWParams& first, const VXLRAWParams& second)
{
    return !rawParamsEqual(first, second);
}
