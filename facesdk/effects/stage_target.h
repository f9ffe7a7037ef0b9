// The image the template and contour stages paint, and the scope that rewrites the run's
// working size to that image's size for the length of the stage (and puts the run's own back
// after it): landmark points are in the target's pixels, and the mask builders and template
// painting size their buffers from the working size.
#pragma once

#include <cstdint>

#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"

// While it lives, inner->workingWidth and workingHeight are the target image's size.
class WorkingSizeFromTargetScope {
public:
    explicit WorkingSizeFromTargetScope(InnerEngine *inner)
        : inner_(inner), width_(inner->workingWidth), height_(inner->workingHeight),
          target_(runStageTarget(inner))
    {
        if (target_.image) {
            inner->workingWidth = target_.image->width;
            inner->workingHeight = target_.image->height;
        }
    }
    ~WorkingSizeFromTargetScope()
    {
        inner_->workingWidth = width_;
        inner_->workingHeight = height_;
    }
    WorkingSizeFromTargetScope(const WorkingSizeFromTargetScope &) = delete;
    WorkingSizeFromTargetScope &operator=(const WorkingSizeFromTargetScope &) = delete;

    EngineImage *image() const { return target_.image; }
    int32_t fx() const { return target_.fx; }  // Q10, list x to target x
    int32_t fy() const { return target_.fy; }

private:
    InnerEngine *inner_;
    int32_t width_, height_;  // the working size of the run
    RunStageTarget target_;
};

// The common test of the template and contour stages: a face in use with usable landmarks and,
// when `needEyes`, both eye boxes non-empty.
inline bool landmarkFaceQualifies(const FaceListEntry &entry, bool needEyes)
{
    const FaceWork &f = entry.face;
    if (!entry.inUse || !entry.landmarksUsable || f.pointCount == 0 || !f.points)
        return false;
    return !needEyes || bothEyeBoxesPresent(f);
}
