// The platform's own copy of a caller's correction: one AdjustmentLayer per block, the masks, the
// transform and the faces. A set owns everything it holds, so it stays valid when the caller's
// CorrectionStack goes away. The platform keeps the set it rendered last and compares each new
// request with it; an equal set is not rendered again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "vizoruv/adjust/adjustment_layer.h"
#include "vizoruv/adjust/correction_stack.h"
#include "vizoruv/adjust/layer_mask.h"

// Frees a face array copied by a set (the record type is complete only in the implementation).
struct FaceArrayDeleter {
    void operator()(VXL_FACE* faces) const;
};

struct AdjustmentSet {
    std::vector<AdjustmentLayer> layers;                   // count layers
    std::vector<LayerMask> masks;                          // count masks, one per layer
    MaskTransform transform;                               // places the masks of all layers
    std::unique_ptr<VXL_FACE[], FaceArrayDeleter> faces;   // private copy of the caller's faces, or null
    std::int32_t faceCount = 0;                            // entries in faces
    bool bypass = false;                                   // the first block's bgmOption: render nothing

    // Number of layers (and masks); fixed when the set is created.
    std::int32_t count() const { return static_cast<std::int32_t>(layers.size()); }
};

// Layers of every set the platform keeps: the whole-image correction and three masked local layers.
constexpr int kLayersPerSet = 4;

// Makes `set` a set of n fresh default layers (n below 0 counts as 0), n default masks of which
// the first covers the whole image, the default transform, no faces, not bypassed.
void createAdjustmentSet(AdjustmentSet* set, int n);
// A new set made by createAdjustmentSet.
std::unique_ptr<AdjustmentSet> makeAdjustmentSet(int n);
// Frees the layers, masks and faces; the set is then empty.
void destroyAdjustmentSet(AdjustmentSet* set);
// For the first min(count, source count) layers copyLayer and the mask; then the transform, a fresh
// copy of the source's faces (or none) and bypass. The set's count stays.
void copyAdjustmentSet(AdjustmentSet* set, const AdjustmentSet& source);
// For the first min(count, stack count) layers fillLayerFromParams from the matching block and the
// matching mask; then the transform, a copy of the stack's faces (or none) and bypass from the
// first block's bgmOption. Layers past the stack's count keep their contents; the count stays.
// A stack without blocks, masks or transform leaves those parts alone; a negative face count
// copies no faces.
void updateFromStack(AdjustmentSet* set, const CorrectionStack& stack);

// Whether rendering `next` would give the same picture as `last`, the set rendered before: equal
// pass counts, counts and bypass, every layer equal by layerEqualsLast and every mask by
// layerMaskEquals, and, when more than one pass is rendered, equal transforms. Faces are not compared.
bool setEqualsLast(const AdjustmentSet& last, const AdjustmentSet& next);

bool isBypassed(const AdjustmentSet& set);
// Rendered passes: 1 for a bypassed set or one of fewer than two layers, else 1 plus the layers
// after the first whose mask type is not 0. Progress counts 10 steps per pass.
int passCount(const AdjustmentSet& set);

// What a render of the set needs (all false for a bypassed or empty set). The first layer is always
// rendered; later layers only when their mask type is not 0.
bool needsFaceWork(const AdjustmentSet& set);     // a face effect in the first layer
bool needsNoiseRemoval(const AdjustmentSet& set); // noise removal in the first layer
bool needsEngineWork(const AdjustmentSet& set);   // AI colour in the first layer, or an engine effect or a
                                                  // skin-tone table in a rendered layer
bool needsRedEye(const AdjustmentSet& set);       // red-eye correction in the first layer
