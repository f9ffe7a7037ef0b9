/*
 * Input conversion: the seventeen input pixel formats of the face detector and their
 * conversion, whole or by rectangle, into the detector's working layout (luma plane, then one
 * interleaved (Cb, Cr) plane of half width and half height).
 *
 * Divisions: format numbers; image validation; conversion.
 */
#ifndef FACESDK_DETECT_CONVERT_H
#define FACESDK_DETECT_CONVERT_H

#include "facesdk/detect/detector_object.h"

#include <cstdint>

/* ---- format numbers (DetectorImage::format) ---- */
enum DetectorFormat : uint32_t {
    kDetectorGrey = 1,             /* 8-bit grey */
    kDetectorYuyv = 2,             /* packed 4:2:2 Y0 Cb Y1 Cr; chroma of each pair's second row */
    kDetectorBgr = 3,              /* packed B, G, R */
    kDetectorUyvy = 4,             /* packed 4:2:2 Cb Y0 Cr Y1; chroma of each pair's first row */
    kDetectorBgrx = 5,             /* packed B, G, R, unused */
    kDetectorRgb = 6,              /* packed R, G, B */
    kDetectorSemiPlanar422 = 7,    /* pointer array: luma, (Cb, Cr) plane of full height */
    kDetectorPlanar422 = 8,        /* pointer array or plane records: luma, Cb, Cr (half width) */
    kDetectorPlanar420 = 9,        /* pointer array or plane records: luma, Cb, Cr (half size) */
    kDetectorYuv444 = 10,          /* packed Y, Cb, Cr */
    kDetectorPlanar420OneBuffer = 11, /* luma, Cb, Cr planes one after another */
    kDetectorYuv444Alt = 12,       /* as 10 */
    kDetectorPacked422Reversed = 13, /* packed 4:2:2 Y1 Cr Y0 Cb; first row's chroma */
    kDetectorNative = 14,          /* the working layout, row length = width */
    kDetectorSemiPlanar420 = 15,   /* pointer array or plane records: luma, (Cb, Cr) half height */
    kDetectorNativeCrCb = 16,      /* as 14 with (Cr, Cb) pairs */
    kDetectorSemiPlanar420CrCb = 17, /* as 15 with (Cr, Cb) pairs */
};

/* Bits per pixel of the first plane of a format number; 0 outside 1..17. */
int detectorFormatBits(uint32_t format);

/* ---- image validation ---- */

/* 1 when the image record can be converted: size at least 32, positive width and height, a
 * format 1..17, and pixels reachable either through plane records (formats 8, 9, 15 and 17,
 * with the strides their planes need) or through `pixels` with a stride of at least the row's
 * bytes. Negative strides are refused. With requireStrideBound the `stride` field must meet
 * that bound in every case (detection asks for it). */
bool detectorImageValid(const DetectorImage *image, bool requireStrideBound);

/* ---- conversion ---- */

/* Converts the region (x, y, width, height of the image; null = the part that fits the
 * destination) into the destination plane. The region is rounded down to even numbers and
 * kept inside the image and the destination. With partial set the output lands at the
 * region's own place, otherwise at the destination's origin. 0, or -4 for a missing image,
 * destination or destination data, a format outside 1..17 or pixels the record does not give. */
int convertRegion(FaceDetector *detector, const DetectorImage *image, DetectorPlane *destination,
                  const int32_t *region, bool partial);

#endif
