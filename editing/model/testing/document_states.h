// Test helpers for the image document's tests: a complete first state and rectangle comparison.
#pragma once

#include <gtest/gtest.h>

#include <QRectF>

#include "editing/model/image_state.h"
#include "editing/model/raw_defaults.h"

namespace document_test {

// A first state as a host makes it: a preset with its stack, master amount 100, default RAW.
inline SharedVxlImageState plainState()
{
    SharedVxlImageState state(new VxlImageState);
    state->preset = makeSharedPreset();
    state->preset->createPresetParams();
    state->uber.reset(new UberParams{});
    state->uber->params = state->preset->layerParams(0);
    state->uber->uberValue = 100;
    state->raw = makeDefaultRawParams();
    return state;
}

inline void expectRectNear(const QRectF& actual, const QRectF& expected, double tolerance = 1e-9)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance);
    EXPECT_NEAR(actual.y(), expected.y(), tolerance);
    EXPECT_NEAR(actual.width(), expected.width(), tolerance);
    EXPECT_NEAR(actual.height(), expected.height(), tolerance);
}

}  // namespace document_test
