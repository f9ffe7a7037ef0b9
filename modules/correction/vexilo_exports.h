// The entry points the correction engine library exports, with C names. Each declaration matches
// the platform's pointer type of the same name (checked in exports.cpp).
#pragma once

#include "vizoruv/platform/engine_abi.h"

#define VXL_EXPORT extern "C" __attribute__((visibility("default")))

VXL_EXPORT VxlEngineHandle VXL_CreateEngine(void);
VXL_EXPORT void VXL_DestroyEngine(VxlEngineHandle engine);
VXL_EXPORT VxlProfile* VXL_Calc(const VxlEngineImage* image, void* reserved, VxlEngineHandle engine, uint32_t mask,
                                int32_t iso, const char* camera, void* reserved2, void* reserved3, int32_t extra,
                                VxlEngineHandle engine2);
VXL_EXPORT void VXL_ReleaseProfile(VxlProfile* profile);
VXL_EXPORT uint8_t VXL_IsNoiseDetected(const VxlProfile* profile, int32_t level);
VXL_EXPORT uint8_t VXL_AbnormalTintDetected(const VxlProfile* profile, int32_t threshold);
VXL_EXPORT int32_t VXL_FAEFaceCount(const VxlProfile* profile);
VXL_EXPORT const VxlFaceRect* VXL_EnumFAEFaceRect(const VxlProfile* profile, const VxlFaceRect* previous);
VXL_EXPORT int32_t VXL_GetCartoonDetectionDescriptors(const VxlProfile* profile, float* buffer, int32_t* count,
                                                      float* a, float* b, int32_t* colours, int32_t* flag);
VXL_EXPORT int32_t VXL_Apply(const VxlEngineImage* image, VxlEngineHandle engine, const VxlProfile* profile,
                             VxlEngineParams* params, void* reserved, int32_t amount, void* reserved2);
VXL_EXPORT int32_t VXL_SetParam(VxlEngineHandle engine, int32_t key, int32_t value);
VXL_EXPORT int32_t VXL_Resize(const VxlEngineImage* source, const VxlEngineImage* target);
VXL_EXPORT int32_t VXL_CropToFill(const VxlEngineImage* source, VxlEngineImage* crop, int32_t* targetWidth,
                                  int32_t* targetHeight);
VXL_EXPORT int32_t VXL_CalcAutoSharpness(const VxlEngineImage* image, int32_t reserved, float* amount,
                                         int32_t* edgePercent, int32_t* radiusTenths, int32_t reserved2);
VXL_EXPORT int32_t VXL_Sharpen(const VxlEngineImage* image, int32_t strength, float radius, int32_t mode);
VXL_EXPORT VxlBGProfile* VXL_CreateBGProfile(void);
VXL_EXPORT int32_t VXL_BGSyncCalc(const VxlEngineImage* image, VxlEngineHandle engine, VxlBGProfile* profile,
                                  int32_t mode);
VXL_EXPORT int32_t VXL_BGSyncApply(const VxlEngineImage* image, const uint8_t* mask, VxlEngineHandle engine,
                                   int32_t reserved, double targetR, double targetG, double targetB, int32_t exposure,
                                   double r, double g, double b, int32_t tolerance, int32_t background,
                                   int32_t foreground);
VXL_EXPORT int32_t VXL_RGBFromBGProfile(const VxlBGProfile* profile, double* r, double* g, double* b);
VXL_EXPORT void VXL_ReleaseBGProfile(VxlBGProfile* profile);
VXL_EXPORT int32_t VXL_FillBGMask(const VxlEngineImage* image, VxlEngineHandle engine, const VxlProfile* profile,
                                  uint8_t* mask, const VxlBGMaskRequest* request);
VXL_EXPORT void VXL_SetSingleThreadedEngine(VxlEngineHandle engine, int32_t flag);
VXL_EXPORT void VXL_SetAIEngines(VxlEngineHandle engine, void* first, void* second, void* third);
VXL_EXPORT const char* VXL_GetAutoSkintoneParameters(uint32_t type, int32_t* first, int32_t* second);
VXL_EXPORT void _SetFilterRecord(void* hostRecord);
