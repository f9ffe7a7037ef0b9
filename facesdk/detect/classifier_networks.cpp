/*
 * The classifier's two networks: network A (three classes) and network B (two), both
 *   conv 3x3 1->16 (48 -> 46, bias map) | max pool 2/2 partial (46 -> 23), rectifier 0.6
 *   conv 3x3 16->32 (23 -> 21, bias map) | max pool 2/2 partial (21 -> 11), rectifier 0.2
 *   conv 3x3 32->64 (11 -> 9, bias map)  | max pool 2/2 partial (9 -> 5), rectifier 0
 *   fully connected 1600 -> classes, softmax
 * in Q8.
 *
 * The trained weights and bias maps are not part of this tree: every weight and bias below is
 * zero, so both networks answer equal scores for every face (33 % each for A, 50 % each for
 * B) until trained tables of the same shapes are filled in here. The rectifier slopes are the
 * networks' own.
 */
#include "facesdk/detect/classifier.h"

namespace {

constexpr uint32_t kFraction = 8;

const int16_t kSlopeFirst = 154;    /* 0.6 */
const int16_t kSlopeSecond = 51;    /* 0.2 */
const int16_t kSlopeThird = 0;

/* The layer records of one network; the weights are the network's own tables. */
template <uint32_t Classes>
struct NetworkTables {
    int16_t conv1Weights[16 * 1 * 9];
    int16_t conv1Biases[16 * 46 * 46];
    int16_t conv2Weights[32 * 16 * 9];
    int16_t conv2Biases[32 * 21 * 21];
    int16_t conv3Weights[64 * 32 * 9];
    int16_t conv3Biases[64 * 9 * 9];
    int16_t denseWeights[Classes * 1600];
    int16_t denseBiases[Classes];
};

/* Network A's trained values belong here. */
const NetworkTables<3> kTablesA = {};
/* Network B's trained values belong here. */
const NetworkTables<2> kTablesB = {};

template <uint32_t Classes>
struct NetworkLayers {
    ConvLayer conv1;
    PoolLayer pool1;
    ConvLayer conv2;
    PoolLayer pool2;
    ConvLayer conv3;
    PoolLayer pool3;
    DenseLayer dense;
    const void *list[7];
};

template <uint32_t Classes>
constexpr NetworkLayers<Classes> makeLayers(const NetworkTables<Classes> &t,
                                            const NetworkLayers<Classes> &self)
{
    return {
        {kLayerConvolution, 1, 16, 48, 48, 3, t.conv1Weights, t.conv1Biases, {kActivationNone, nullptr}, 0},
        {kLayerPooling, 16, 46, 46, 2, 2, kPoolMaximum, 0, {kActivationPRelu, &kSlopeFirst}},
        {kLayerConvolution, 16, 32, 23, 23, 3, t.conv2Weights, t.conv2Biases, {kActivationNone, nullptr}, 0},
        {kLayerPooling, 32, 21, 21, 2, 2, kPoolMaximum, 0, {kActivationPRelu, &kSlopeSecond}},
        {kLayerConvolution, 32, 64, 11, 11, 3, t.conv3Weights, t.conv3Biases, {kActivationNone, nullptr}, 0},
        {kLayerPooling, 64, 9, 9, 2, 2, kPoolMaximum, 0, {kActivationPRelu, &kSlopeThird}},
        {kLayerDense, 1600, Classes, t.denseWeights, t.denseBiases, {kActivationSoftmax, nullptr}},
        {&self.conv1, &self.pool1, &self.conv2, &self.pool2, &self.conv3, &self.pool3, &self.dense},
    };
}

extern const NetworkLayers<3> kLayersA;
extern const NetworkLayers<2> kLayersB;
const NetworkLayers<3> kLayersA = makeLayers(kTablesA, kLayersA);
const NetworkLayers<2> kLayersB = makeLayers(kTablesB, kLayersB);

}  // namespace

const ClassifierNetwork kClassifierNetworkADescriptor = {7, kFraction, kLayersA.list};
const ClassifierNetwork kClassifierNetworkBDescriptor = {7, kFraction, kLayersB.list};
