/*
 * The face classifier's small convolutional networks in 16-bit fixed point.
 *
 * Divisions: layer and network records; rounding and the single layers; network instances
 * (validation, build, run).
 *
 * Every value inside a network is an i16 with F fraction bits (F = 8 for both shipped
 * networks); products are summed in 32-bit accumulators that wrap like the i32 they are, and
 * every narrowing back to F fraction bits goes through roundFraction. Results are stored as
 * i16 without saturation.
 */
#ifndef FACESDK_DETECT_CLASSIFIER_LAYERS_H
#define FACESDK_DETECT_CLASSIFIER_LAYERS_H

#include <cstdint>

#include "facesdk/base/allocator.h"

/* ---- records ---- */

enum LayerKind : uint32_t { kLayerConvolution = 1, kLayerPooling = 2, kLayerDense = 3 };
enum ActivationType : uint32_t {
    kActivationNone = 0,
    kActivationSigmoid = 1,
    kActivationTanh = 2,
    kActivationPRelu = 3,    /* one slope for the whole layer */
    kActivationSoftmax = 4,
};
enum PoolType : uint32_t { kPoolNone = 0, kPoolMaximum = 1, kPoolAverage = 2 };

struct LayerActivation {
    uint32_t type;          /* ActivationType */
    const int16_t *slope;   /* Q(F) slope of the parametric rectifier; required for type 3 */
};

struct ConvLayer {
    uint32_t kind;             /* kLayerConvolution */
    uint32_t inChannels;
    uint32_t outChannels;
    uint32_t inWidth;
    uint32_t inHeight;
    uint32_t kernel;           /* k: k x k kernels, no padding */
    const int16_t *weights;    /* [out channel][in channel][row][column], Q(F) */
    const int16_t *biases;     /* Q(F): per output channel (mode 1) or a full output map (mode 0) */
    LayerActivation activation;
    uint32_t biasMode;         /* 1: one bias per output channel; 0: one per output element */
};

struct PoolLayer {
    uint32_t kind;             /* kLayerPooling */
    uint32_t channels;
    uint32_t inWidth;
    uint32_t inHeight;
    uint32_t window;           /* k: k x k windows */
    uint32_t stride;           /* s */
    uint32_t poolType;         /* PoolType */
    uint32_t exact;            /* 1: whole windows only; 0: partial windows at right and bottom */
    LayerActivation activation;
};

struct DenseLayer {
    uint32_t kind;             /* kLayerDense */
    uint32_t inputs;
    uint32_t outputs;
    const int16_t *weights;    /* one row of inputs per output, Q(F) */
    const int16_t *biases;     /* one per output, Q(F) */
    LayerActivation activation;
};

/* A network descriptor: its layers (each record begins with its kind) in order. */
struct ClassifierNetwork {
    uint32_t layerCount;
    uint32_t fractionBits;        /* F */
    const void *const *layers;    /* ConvLayer, PoolLayer or DenseLayer records */
};

struct TensorShape {
    uint32_t width;
    uint32_t height;
    uint32_t channels;
};

/* Channel by channel, each channel row by row. */
struct ClassifierTensor {
    uint32_t width;
    uint32_t height;
    uint32_t channels;
    int16_t *data;
};

/* ---- rounding and single layers ---- */

/* x / 2^F rounded to nearest, halves away from zero; F at least 1. */
inline int32_t roundFraction(int32_t x, uint32_t fractionBits)
{
    return (((x + (x >> 31)) >> (fractionBits - 1)) + 1) >> 1;
}

/* Output shape of a layer record; the shape its input must have. */
TensorShape layerOutputShape(const void *layer);
TensorShape layerInputShape(const void *layer);

/* One layer on an input of the layer's own input shape; the activation is applied after.
 * `accumulator` holds out width x out height i32 (convolutions only). */
void convolutionForward(const ConvLayer &layer, uint32_t fractionBits, const int16_t *in,
                        int16_t *out, int32_t *accumulator);
void poolingForward(const PoolLayer &layer, const int16_t *in, int16_t *out);
void denseForward(const DenseLayer &layer, uint32_t fractionBits, const int16_t *in,
                  int16_t *out);
void applyActivation(const LayerActivation &activation, uint32_t fractionBits, int16_t *values,
                     uint32_t count);

/* ---- network instances ---- */

struct NetworkInstance {
    const ClassifierNetwork *network;
    EngineAllocator *allocator;
    TensorShape *shapes;           /* layerCount + 1: shape 0 the input, shape i + 1 layer i's output */
    int16_t *buffers[2];           /* ping-pong: tensor i (1 .. count - 1) lives in buffers[i % 2] */
    int32_t *accumulator;          /* largest output width x height of any convolution */
};

/* Validates the descriptor: 0; -102 for an empty list or layers that do not chain; -101 for a
 * layer record that is invalid on its own. */
int networkValidate(const ClassifierNetwork *network);
/* Validates and allocates an instance. 0; -101, -102 as above; -3 when memory runs out
 * (nothing stays allocated). */
int networkBuild(const ClassifierNetwork *network, EngineAllocator *allocator,
                 NetworkInstance **out);
/* Frees the instance and its buffers; null does nothing. */
void networkFree(NetworkInstance *instance);
/* Runs the network from input to output. 0; -4 when the input shape is not shape 0 or the
 * output is not (1, n, 1) of the last shape. */
int networkRun(NetworkInstance *instance, const ClassifierTensor *input, ClassifierTensor *output);

#endif
