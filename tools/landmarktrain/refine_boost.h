/*
 * Training of the point-refinement detectors by boosting: for each point of the eye and mouth
 * lists, 35 weak learners of the fitter's own kinds (two-rectangle, four-rectangle and
 * three-rectangle contrasts, thresholded on the contrast over the rectangle's sum) chosen by
 * real AdaBoost to tell the window at the true point from the windows around it.
 *
 * The fitter moves a point to the score-weighted mean of the best candidate's neighbours plus
 * one pixel, so a detector is trained to peak one pixel up and left of the true point.
 */
#ifndef TOOLS_LANDMARKTRAIN_REFINE_BOOST_H
#define TOOLS_LANDMARKTRAIN_REFINE_BOOST_H

#include <cstdint>
#include <vector>

#include "facesdk/detect/landmark_models.h"

namespace landmarktrain {

struct RefineExample {
    const std::vector<uint8_t> *crop;   /* size x size */
    const int32_t *truth;               /* 62 true points, 1/1024 crop pixel */
};

/* Trains the 28 detectors (eye list, then mouth list) of one crop size into `detectors`. */
void trainRefinement(const std::vector<RefineExample> &examples, int size, uint64_t seed, int rounds, int threads,
                     std::vector<PointDetector> *detectors);

}  // namespace landmarktrain

#endif
