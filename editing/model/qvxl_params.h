// The parameter stack: the layered correction of one preset or one image state. Layer 0 corrects the
// whole image; layers 1 and up are local corrections shaped by their masks, all placed by one
// transform.
//
// A QVXLParams value is a handle: copies (the ones signals and slots pass by value included) share
// the arrays of the value they were copied from. Exactly one owner, the preset that holds the stack,
// calls releaseArrays.
#pragma once

#include <QMetaType>

#include "editing/model/vxl_params.h"
#include "vizoruv/adjust/layer_mask.h"

struct QVXLParams {
    VXLParams* blocks = nullptr;         // count consecutive correction blocks
    LayerMask* masks = nullptr;          // count consecutive masks, one per block
    MaskTransform* transform = nullptr;  // one transform that places every mask
    std::int32_t count = 0;              // layers
    bool ownsArrays = false;             // set for every stack the counting constructor made
    bool bGroupGradfilter = false;       // the graduated-filter switch of the stack

    // An empty handle (no arrays); what the meta-type system default-constructs.
    QVXLParams() = default;
    // Allocates count (at least 1) layers: default blocks, masks of type 0 but mask 0 of type 1 (the
    // first layer always applies), feather 0.5, and the default transform.
    explicit QVXLParams(int count);

    // Frees the three arrays when this handle owns them. Called once, by the owner.
    void releaseArrays();
    // Copies the blocks and masks of the first `count` layers of other, its transform and its
    // graduated-filter switch; count and ownsArrays stay. other must have at least count layers.
    void assignFrom(const QVXLParams& other);
    // Equal layer counts and switches, blocks equal by paramsEqual and masks by layerMaskEquals;
    // the transforms count only when this stack has more than one active layer.
    bool stackEquals(const QVXLParams& other) const;
    int layerCount() const { return count; }
    void setGroupGradfilter(bool on) { bGroupGradfilter = on; }
};

Q_DECLARE_METATYPE(QVXLParams)
