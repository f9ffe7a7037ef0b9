// The entry points the red-eye library exports, with C names.
#pragma once

#include "vizoruv/platform/redeye_abi.h"

#define RE_EXPORT extern "C" __attribute__((visibility("default")))

RE_EXPORT int32_t ReCorrectAuto(const ReImage* image, uint32_t flags);
RE_EXPORT int32_t ReDetectAutoEx(const ReImage* scanned, const ReRequest* request, void* reserved1, void* reserved2,
                                 void* reserved3, uint32_t flags, ReListLink* list);
RE_EXPORT int32_t ReCorrectRegions(const ReImage* image, const ReListLink* list, void* reserved1, void* reserved2,
                                   void* reserved3);
RE_EXPORT const ReRegion* ReListNext(const ReListLink* list, const ReRegion* previous);
RE_EXPORT int32_t ReListInsert(ReListLink* list, const ReRegion* region);
RE_EXPORT void ReListEmpty(ReListLink* list);
