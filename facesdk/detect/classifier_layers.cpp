/*
 * The classifier's network layers and network instances.
 *
 * Divisions: shapes; single layers; activations; validation, build and run.
 */
#include "facesdk/detect/classifier_layers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "facesdk/base/result_codes.h"

namespace {

/* 32-bit accumulation that wraps like the accumulator it models. */
inline int32_t addWrapped(int32_t sum, int32_t term)
{
    return int32_t(uint32_t(sum) + uint32_t(term));
}

inline uint32_t layerKind(const void *layer)
{
    return *static_cast<const uint32_t *>(layer);
}

uint32_t pooledExtent(uint32_t extent, uint32_t window, uint32_t stride, uint32_t exact)
{
    const uint32_t whole = (extent - window) / stride + 1;
    return whole + ((exact == 0 && (extent - window) % stride != 0) ? 1 : 0);
}

uint32_t shapeCount(const TensorShape &shape)
{
    return shape.width * shape.height * shape.channels;
}

bool activationValid(const LayerActivation &activation)
{
    return activation.type < 5 && (activation.type != kActivationPRelu || activation.slope);
}

}  // namespace

/* ---- shapes ---- */

TensorShape layerOutputShape(const void *layer)
{
    switch (layerKind(layer)) {
    case kLayerConvolution: {
        const auto &conv = *static_cast<const ConvLayer *>(layer);
        return {conv.inWidth - conv.kernel + 1, conv.inHeight - conv.kernel + 1, conv.outChannels};
    }
    case kLayerPooling: {
        const auto &pool = *static_cast<const PoolLayer *>(layer);
        if (pool.poolType == kPoolNone)
            return {pool.inWidth, pool.inHeight, pool.channels};
        return {pooledExtent(pool.inWidth, pool.window, pool.stride, pool.exact),
                pooledExtent(pool.inHeight, pool.window, pool.stride, pool.exact), pool.channels};
    }
    default: {
        const auto &dense = *static_cast<const DenseLayer *>(layer);
        return {1, dense.outputs, 1};
    }
    }
}

TensorShape layerInputShape(const void *layer)
{
    switch (layerKind(layer)) {
    case kLayerConvolution: {
        const auto &conv = *static_cast<const ConvLayer *>(layer);
        return {conv.inWidth, conv.inHeight, conv.inChannels};
    }
    case kLayerPooling: {
        const auto &pool = *static_cast<const PoolLayer *>(layer);
        return {pool.inWidth, pool.inHeight, pool.channels};
    }
    default: {
        const auto &dense = *static_cast<const DenseLayer *>(layer);
        return {1, dense.inputs, 1};
    }
    }
}

/* ---- single layers ---- */

namespace {

/* Adds one input channel's k x k products to the accumulator. K > 0 fixes the kernel size at
 * compile time so the 3 x 3 and 5 x 5 kernels of the shipped networks unroll; K = 0 reads it
 * from `k`. The innermost loop runs along a row of outputs with one weight, so it vectorises;
 * the wrapping 32-bit sums do not depend on the order of the terms. */
template <uint32_t K>
void accumulateChannel(const int16_t *plane, uint32_t inW, const int16_t *kernel, uint32_t k,
                       uint32_t outW, uint32_t outH, int32_t *accumulator)
{
    const uint32_t size = K ? K : k;
    for (uint32_t y = 0; y < outH; ++y) {
        int32_t *sums = accumulator + y * outW;
        for (uint32_t r = 0; r < size; ++r) {
            for (uint32_t q = 0; q < size; ++q) {
                const int32_t weight = kernel[r * size + q];
                const int16_t *row = plane + (y + r) * inW + q;
                for (uint32_t x = 0; x < outW; ++x)
                    sums[x] = addWrapped(sums[x], int32_t(row[x]) * weight);
            }
        }
    }
}

}  // namespace

void convolutionForward(const ConvLayer &layer, uint32_t fractionBits, const int16_t *in,
                        int16_t *out, int32_t *accumulator)
{
    const uint32_t k = layer.kernel;
    const uint32_t inW = layer.inWidth;
    const uint32_t inPlane = inW * layer.inHeight;
    const uint32_t outW = inW - k + 1;
    const uint32_t outH = layer.inHeight - k + 1;
    const uint32_t outPlane = outW * outH;
    const auto accumulate = k == 3 ? accumulateChannel<3> : k == 5 ? accumulateChannel<5> : accumulateChannel<0>;
    for (uint32_t o = 0; o < layer.outChannels; ++o) {
        std::fill(accumulator, accumulator + outPlane, 0);
        for (uint32_t c = 0; c < layer.inChannels; ++c)
            accumulate(in + size_t(c) * inPlane, inW, layer.weights + (size_t(o) * layer.inChannels + c) * k * k,
                       k, outW, outH, accumulator);
        int16_t *outPlanePtr = out + size_t(o) * outPlane;
        for (uint32_t i = 0; i < outPlane; ++i) {
            const int32_t bias = layer.biasMode == 1 ? layer.biases[o]
                                                     : layer.biases[size_t(o) * outPlane + i];
            outPlanePtr[i] = int16_t(roundFraction(accumulator[i], fractionBits) + bias);
        }
    }
}

void poolingForward(const PoolLayer &layer, const int16_t *in, int16_t *out)
{
    const TensorShape outShape = layerOutputShape(&layer);
    const uint32_t inPlane = layer.inWidth * layer.inHeight;
    for (uint32_t c = 0; c < layer.channels; ++c) {
        const int16_t *plane = in + size_t(c) * inPlane;
        int16_t *outPlane = out + size_t(c) * outShape.width * outShape.height;
        if (layer.poolType == kPoolNone) {
            std::memcpy(outPlane, plane, inPlane * sizeof(int16_t));
            continue;
        }
        for (uint32_t y = 0; y < outShape.height; ++y) {
            const uint32_t top = y * layer.stride;
            const uint32_t rows = std::min(layer.window, layer.inHeight - top);
            for (uint32_t x = 0; x < outShape.width; ++x) {
                const uint32_t left = x * layer.stride;
                const uint32_t columns = std::min(layer.window, layer.inWidth - left);
                int16_t best = plane[top * layer.inWidth + left];
                int16_t sum = 0;
                for (uint32_t r = 0; r < rows; ++r) {
                    for (uint32_t q = 0; q < columns; ++q) {
                        const int16_t v = plane[(top + r) * layer.inWidth + left + q];
                        best = std::max(best, v);
                        sum = int16_t(sum + v);
                    }
                }
                outPlane[y * outShape.width + x] =
                    layer.poolType == kPoolMaximum ? best : int16_t(sum / int32_t(rows * columns));
            }
        }
    }
}

void denseForward(const DenseLayer &layer, uint32_t fractionBits, const int16_t *in, int16_t *out)
{
    for (uint32_t o = 0; o < layer.outputs; ++o) {
        const int16_t *row = layer.weights + size_t(o) * layer.inputs;
        int32_t sum = int32_t(uint32_t(int32_t(layer.biases[o])) << fractionBits);
        for (uint32_t i = 0; i < layer.inputs; ++i)
            sum = addWrapped(sum, int32_t(row[i]) * in[i]);
        out[o] = int16_t(roundFraction(sum, fractionBits));
    }
}

/* ---- activations ---- */

void applyActivation(const LayerActivation &activation, uint32_t fractionBits, int16_t *values,
                     uint32_t count)
{
    const double one = double(1u << fractionBits);
    const double two = 2.0 * one;
    switch (activation.type) {
    case kActivationSigmoid:
        for (uint32_t i = 0; i < count; ++i)
            values[i] = int16_t((int32_t(two / (1.0 + std::exp(-values[i] / one))) + 1) >> 1);
        break;
    case kActivationTanh:
        for (uint32_t i = 0; i < count; ++i)
            values[i] = int16_t((int32_t(two * std::tanh(values[i] / one)) + 1) >> 1);
        break;
    case kActivationPRelu: {
        const int32_t slope = *activation.slope;
        for (uint32_t i = 0; i < count; ++i)
            if (values[i] < 0)
                values[i] = int16_t(roundFraction(slope * values[i], fractionBits));
        break;
    }
    case kActivationSoftmax: {
        if (count == 0)
            break;
        const int16_t largest = *std::max_element(values, values + count);
        int64_t total = 0;
        for (uint32_t i = 0; i < count; ++i) {
            values[i] = int16_t((int32_t(two * std::exp((values[i] - largest) / one)) + 1) >> 1);
            total += values[i];
        }
        /* The largest value contributes 2^F, so the total is never 0. */
        for (uint32_t i = 0; i < count; ++i)
            values[i] = int16_t((int64_t(values[i]) << fractionBits) / total);
        break;
    }
    default:
        break;
    }
}

/* ---- validation, build and run ---- */

namespace {

int layerValidate(const void *layer)
{
    if (!layer)
        return kResultBadLayer;
    switch (layerKind(layer)) {
    case kLayerConvolution: {
        const auto &conv = *static_cast<const ConvLayer *>(layer);
        const bool ok = conv.inChannels && conv.outChannels && conv.inWidth && conv.inHeight &&
                        conv.kernel && conv.inWidth >= conv.kernel &&
                        conv.inHeight >= conv.kernel && conv.weights && conv.biases &&
                        activationValid(conv.activation);
        return ok ? kResultOk : kResultBadLayer;
    }
    case kLayerPooling: {
        const auto &pool = *static_cast<const PoolLayer *>(layer);
        bool ok = pool.channels && pool.inWidth && pool.inHeight &&
                  activationValid(pool.activation) && pool.poolType < 3;
        if (ok && pool.poolType != kPoolNone)
            ok = pool.window && pool.stride && pool.inWidth >= pool.window &&
                 pool.inHeight >= pool.window;
        return ok ? kResultOk : kResultBadLayer;
    }
    case kLayerDense: {
        const auto &dense = *static_cast<const DenseLayer *>(layer);
        const bool ok = dense.inputs && dense.outputs && dense.weights && dense.biases &&
                        activationValid(dense.activation);
        return ok ? kResultOk : kResultBadLayer;
    }
    default:
        return kResultBadLayer;
    }
}

bool followsAllowed(uint32_t previous, uint32_t next)
{
    switch (previous) {
    case kLayerConvolution:
        return true;
    case kLayerPooling:
        return next == kLayerConvolution || next == kLayerDense;
    default:
        return next == kLayerDense;
    }
}

bool sameShape(const TensorShape &a, const TensorShape &b)
{
    return a.width == b.width && a.height == b.height && a.channels == b.channels;
}

}  // namespace

int networkValidate(const ClassifierNetwork *network)
{
    if (!network || network->layerCount == 0 || !network->layers)
        return kResultBadIndex;
    for (uint32_t i = 0; i < network->layerCount; ++i) {
        const int result = layerValidate(network->layers[i]);
        if (result != kResultOk)
            return result;
    }
    for (uint32_t i = 1; i < network->layerCount; ++i) {
        const void *before = network->layers[i - 1];
        const void *layer = network->layers[i];
        if (!followsAllowed(layerKind(before), layerKind(layer)))
            return kResultBadIndex;
        const TensorShape in = layerInputShape(layer);
        const TensorShape previousOut = layerOutputShape(before);
        const bool flat = in.width == 1 && in.channels == 1 && in.height == shapeCount(previousOut);
        if (!sameShape(in, previousOut) && !flat)
            return kResultBadIndex;
    }
    return kResultOk;
}

int networkBuild(const ClassifierNetwork *network, EngineAllocator *allocator,
                 NetworkInstance **out)
{
    *out = nullptr;
    const int valid = networkValidate(network);
    if (valid != kResultOk)
        return valid;
    const uint32_t count = network->layerCount;
    auto *instance = static_cast<NetworkInstance *>(allocatorAlloc(allocator, sizeof(NetworkInstance)));
    if (!instance)
        return kResultNoMemory;
    std::memset(instance, 0, sizeof *instance);
    instance->network = network;
    instance->allocator = allocator;

    uint32_t largestTensor = 1;
    uint32_t largestPlane = 1;
    auto *shapes = static_cast<TensorShape *>(
        allocatorAlloc(allocator, uint32_t(sizeof(TensorShape) * (count + 1))));
    instance->shapes = shapes;
    if (shapes) {
        shapes[0] = layerInputShape(network->layers[0]);
        for (uint32_t i = 0; i < count; ++i) {
            shapes[i + 1] = layerOutputShape(network->layers[i]);
            if (i + 1 < count)
                largestTensor = std::max(largestTensor, shapeCount(shapes[i + 1]));
            /* Sized for every convolution, the last included, so a network ending in a
             * convolution cannot write past the accumulator. */
            if (layerKind(network->layers[i]) == kLayerConvolution)
                largestPlane = std::max(largestPlane, shapes[i + 1].width * shapes[i + 1].height);
        }
        instance->accumulator =
            static_cast<int32_t *>(allocatorAlloc(allocator, largestPlane * sizeof(int32_t)));
        if (instance->accumulator) {
            instance->buffers[0] =
                static_cast<int16_t *>(allocatorAlloc(allocator, largestTensor * sizeof(int16_t)));
            if (instance->buffers[0])
                instance->buffers[1] = static_cast<int16_t *>(
                    allocatorAlloc(allocator, largestTensor * sizeof(int16_t)));
        }
    }
    if (!instance->buffers[1]) {
        networkFree(instance);
        return kResultNoMemory;
    }
    *out = instance;
    return kResultOk;
}

void networkFree(NetworkInstance *instance)
{
    if (!instance)
        return;
    EngineAllocator *allocator = instance->allocator;
    allocatorFree(allocator, instance->buffers[1]);
    allocatorFree(allocator, instance->buffers[0]);
    allocatorFree(allocator, instance->accumulator);
    allocatorFree(allocator, instance->shapes);
    allocatorFree(allocator, instance);
}

int networkRun(NetworkInstance *instance, const ClassifierTensor *input, ClassifierTensor *output)
{
    if (!instance || !input || !output || !input->data || !output->data)
        return kResultBadArgument;
    const ClassifierNetwork &network = *instance->network;
    const uint32_t count = network.layerCount;
    const TensorShape inShape{input->width, input->height, input->channels};
    const TensorShape outShape{output->width, output->height, output->channels};
    if (!sameShape(inShape, instance->shapes[0]) || outShape.width != 1 || outShape.channels != 1 ||
        !sameShape(outShape, instance->shapes[count]))
        return kResultBadArgument;

    const int16_t *source = input->data;
    for (uint32_t i = 0; i < count; ++i) {
        int16_t *target = i + 1 == count ? output->data : instance->buffers[(i + 1) % 2];
        const void *layer = network.layers[i];
        const LayerActivation *activation = nullptr;
        switch (layerKind(layer)) {
        case kLayerConvolution: {
            const auto &conv = *static_cast<const ConvLayer *>(layer);
            convolutionForward(conv, network.fractionBits, source, target, instance->accumulator);
            activation = &conv.activation;
            break;
        }
        case kLayerPooling: {
            const auto &pool = *static_cast<const PoolLayer *>(layer);
            poolingForward(pool, source, target);
            activation = &pool.activation;
            break;
        }
        default: {
            const auto &dense = *static_cast<const DenseLayer *>(layer);
            denseForward(dense, network.fractionBits, source, target);
            activation = &dense.activation;
            break;
        }
        }
        applyActivation(*activation, network.fractionBits, target, shapeCount(instance->shapes[i + 1]));
        source = target;
    }
    return kResultOk;
}
