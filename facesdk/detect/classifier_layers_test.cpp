// The classifier's layers against double-precision references, a hand-built network with a
// known answer, and the validation of layer lists.
#include "facesdk/detect/classifier_layers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"

namespace {

constexpr uint32_t kF = 8;

std::vector<int16_t> randomValues(size_t count, int low, int high, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(low, high);
    std::vector<int16_t> values(count);
    for (int16_t &v : values)
        v = int16_t(value(random));
    return values;
}

// x rounded to nearest, halves away from zero.
long roundAway(double x)
{
    return long(x < 0 ? -std::floor(-x + 0.5) : std::floor(x + 0.5));
}

TEST(ClassifierLayers, ConvolutionMatchesReferenceForEveryKernelAndBiasMode)
{
    for (uint32_t kernel : {2u, 3u, 5u}) {
        for (uint32_t biasMode : {0u, 1u}) {
            const uint32_t inC = 3, outC = 2, w = 9, h = 7;
            const uint32_t ow = w - kernel + 1, oh = h - kernel + 1;
            const auto in = randomValues(inC * w * h, -300, 300, kernel);
            const auto weights = randomValues(outC * inC * kernel * kernel, -200, 200, kernel + 7);
            const auto biases = randomValues(biasMode ? outC : outC * ow * oh, -50, 50, 3);
            const ConvLayer layer{kLayerConvolution, inC, outC, w, h, kernel, weights.data(),
                                  biases.data(), {kActivationNone, nullptr}, biasMode};
            std::vector<int16_t> out(outC * ow * oh);
            std::vector<int32_t> accumulator(ow * oh);
            convolutionForward(layer, kF, in.data(), out.data(), accumulator.data());
            for (uint32_t o = 0; o < outC; ++o)
                for (uint32_t y = 0; y < oh; ++y)
                    for (uint32_t x = 0; x < ow; ++x) {
                        double sum = 0;
                        for (uint32_t c = 0; c < inC; ++c)
                            for (uint32_t r = 0; r < kernel; ++r)
                                for (uint32_t q = 0; q < kernel; ++q)
                                    sum += in[(c * h + y + r) * w + x + q] / 256.0 *
                                           weights[((o * inC + c) * kernel + r) * kernel + q];
                        const int bias = biasMode ? biases[o] : biases[(o * oh + y) * ow + x];
                        EXPECT_EQ(out[(o * oh + y) * ow + x], roundAway(sum) + bias)
                            << "kernel " << kernel << " mode " << biasMode;
                    }
        }
    }
}

TEST(ClassifierLayers, PoolingMatchesReferenceWithPartialWindows)
{
    const uint32_t w = 7, h = 5;
    const auto in = randomValues(2 * w * h, -1000, 1000, 11);
    for (uint32_t type : {kPoolMaximum, kPoolAverage}) {
        for (uint32_t exact : {0u, 1u}) {
            const PoolLayer layer{kLayerPooling, 2, w, h, 2, 2, type, exact, {kActivationNone, nullptr}};
            const TensorShape shape = layerOutputShape(&layer);
            EXPECT_EQ(shape.width, exact ? 3u : 4u);
            EXPECT_EQ(shape.height, exact ? 2u : 3u);
            std::vector<int16_t> out(2 * shape.width * shape.height);
            poolingForward(layer, in.data(), out.data());
            for (uint32_t c = 0; c < 2; ++c)
                for (uint32_t y = 0; y < shape.height; ++y)
                    for (uint32_t x = 0; x < shape.width; ++x) {
                        double best = -1e9, sum = 0;
                        int n = 0;
                        for (uint32_t r = 2 * y; r < std::min(h, 2 * y + 2); ++r)
                            for (uint32_t q = 2 * x; q < std::min(w, 2 * x + 2); ++q) {
                                const double v = in[(c * h + r) * w + q];
                                best = std::max(best, v);
                                sum += v;
                                ++n;
                            }
                        const double expected = type == kPoolMaximum ? best : std::trunc(sum / n);
                        EXPECT_EQ(out[(c * shape.height + y) * shape.width + x], expected);
                    }
        }
    }
    const PoolLayer copy{kLayerPooling, 2, w, h, 2, 2, kPoolNone, 0, {kActivationNone, nullptr}};
    std::vector<int16_t> out(in.size());
    poolingForward(copy, in.data(), out.data());
    EXPECT_EQ(out, in);
}

TEST(ClassifierLayers, DenseMatchesReference)
{
    const uint32_t inputs = 37, outputs = 4;
    const auto in = randomValues(inputs, -256, 256, 5);
    const auto weights = randomValues(inputs * outputs, -256, 256, 6);
    const auto biases = randomValues(outputs, -512, 512, 7);
    const DenseLayer layer{kLayerDense, inputs, outputs, weights.data(), biases.data(),
                           {kActivationNone, nullptr}};
    std::vector<int16_t> out(outputs);
    denseForward(layer, kF, in.data(), out.data());
    for (uint32_t o = 0; o < outputs; ++o) {
        double sum = biases[o];
        for (uint32_t i = 0; i < inputs; ++i)
            sum += in[i] * double(weights[o * inputs + i]) / 256.0;
        EXPECT_EQ(out[o], roundAway(sum));
    }
}

TEST(ClassifierLayers, ActivationsMatchReferenceWithinOneStep)
{
    const int16_t slope = 154;  // 0.6
    const std::vector<int16_t> in = {-1024, -700, -256, -129, -1, 0, 1, 128, 256, 511, 900};
    struct Case {
        uint32_t type;
        double (*reference)(double);
    } cases[] = {
        {kActivationSigmoid, [](double v) { return 1.0 / (1.0 + std::exp(-v)); }},
        {kActivationTanh, [](double v) { return std::tanh(v); }},
        {kActivationPRelu, [](double v) { return v >= 0 ? v : 154.0 / 256 * v; }},
        {kActivationNone, [](double v) { return v; }},
    };
    for (const Case &c : cases) {
        std::vector<int16_t> values = in;
        applyActivation({c.type, &slope}, kF, values.data(), uint32_t(values.size()));
        for (size_t i = 0; i < in.size(); ++i)
            EXPECT_NEAR(values[i] / 256.0, c.reference(in[i] / 256.0), 1.5 / 256) << c.type << " " << in[i];
    }
    std::vector<int16_t> values = {256, 0, -256, 512};
    applyActivation({kActivationSoftmax, nullptr}, kF, values.data(), 4);
    double total = 0;
    for (int16_t v : {256, 0, -256, 512})
        total += std::exp(v / 256.0);
    int sum = 0;
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(values[i] / 256.0, std::exp((std::vector<int>{256, 0, -256, 512}[i]) / 256.0) / total, 2.0 / 256);
        sum += values[i];
    }
    EXPECT_LE(sum, 256);
    EXPECT_GE(sum, 252);
}

// A 4 x 4 input, a 3 x 3 kernel that picks the centre, 2 x 2 max pooling to one value, and a
// dense layer whose two outputs are +v and -v before the softmax.
struct TinyNetwork {
    int16_t kernel[9] = {0, 0, 0, 0, 256, 0, 0, 0, 0};
    int16_t convBias[1] = {0};
    int16_t denseWeights[2] = {256, -256};
    int16_t denseBiases[2] = {0, 0};
    ConvLayer conv{kLayerConvolution, 1, 1, 4, 4, 3, kernel, convBias, {kActivationNone, nullptr}, 1};
    PoolLayer pool{kLayerPooling, 1, 2, 2, 2, 2, kPoolMaximum, 1, {kActivationNone, nullptr}};
    DenseLayer dense{kLayerDense, 1, 2, denseWeights, denseBiases, {kActivationSoftmax, nullptr}};
    const void *layers[3] = {&conv, &pool, &dense};
    ClassifierNetwork network{3, kF, layers};
};

TEST(ClassifierLayers, HandBuiltNetworkComputesItsKnownAnswer)
{
    TinyNetwork tiny;
    CountingAllocator counter;
    NetworkInstance *instance = nullptr;
    ASSERT_EQ(networkBuild(&tiny.network, counter.allocator(), &instance), kResultOk);
    // The inner 2 x 2 of the input is {64, 128, 32, 0}: the pool answers 128 (0.5).
    int16_t input[16] = {900, 900, 900, 900, 900, 64, 128, 900, 900, 32, 0, 900, 900, 900, 900, 900};
    int16_t output[2] = {};
    ClassifierTensor in{4, 4, 1, input};
    ClassifierTensor out{1, 2, 1, output};
    ASSERT_EQ(networkRun(instance, &in, &out), kResultOk);
    // softmax(0.5, -0.5): e^1 / (e^1 + 1) = 0.731 -> 187 of 256.
    EXPECT_EQ(output[0], 187);
    EXPECT_EQ(output[1], 68);

    ClassifierTensor wrongIn{4, 3, 1, input};
    EXPECT_EQ(networkRun(instance, &wrongIn, &out), kResultBadArgument);
    ClassifierTensor wrongOut{1, 3, 1, output};
    EXPECT_EQ(networkRun(instance, &in, &wrongOut), kResultBadArgument);
    networkFree(instance);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

TEST(ClassifierLayers, ValidationRefusesInvalidLayersAndBrokenChains)
{
    struct Case {
        const char *name;
        void (*spoil)(TinyNetwork &);
        int expected;
    } cases[] = {
        {"valid", [](TinyNetwork &) {}, kResultOk},
        {"no layers", [](TinyNetwork &t) { t.network.layerCount = 0; }, kResultBadIndex},
        {"unknown kind", [](TinyNetwork &t) { t.pool.kind = 7; }, kResultBadLayer},
        {"kernel larger than input", [](TinyNetwork &t) { t.conv.kernel = 5; }, kResultBadLayer},
        {"rectifier without slope", [](TinyNetwork &t) { t.dense.activation = {kActivationPRelu, nullptr}; }, kResultBadLayer},
        {"activation type 5", [](TinyNetwork &t) { t.pool.activation.type = 5; }, kResultBadLayer},
        {"pool type 3", [](TinyNetwork &t) { t.pool.poolType = 3; }, kResultBadLayer},
        {"missing weights", [](TinyNetwork &t) { t.dense.weights = nullptr; }, kResultBadLayer},
        {"shapes do not chain", [](TinyNetwork &t) { t.dense.inputs = 2; }, kResultBadIndex},
        {"pool after pool", [](TinyNetwork &t) { t.layers[2] = &t.pool; }, kResultBadIndex},
        {"conv after dense", [](TinyNetwork &t) { t.layers[0] = &t.dense; t.layers[1] = &t.conv; t.network.layerCount = 2; }, kResultBadIndex},
    };
    for (const Case &c : cases) {
        TinyNetwork tiny;
        c.spoil(tiny);
        EXPECT_EQ(networkValidate(&tiny.network), c.expected) << c.name;
    }
}

TEST(ClassifierLayers, BuildFreesEverythingWhenAnyAllocationFails)
{
    TinyNetwork tiny;
    for (int n = 1; n <= 5; ++n) {
        CountingAllocator counter;
        counter.failAt = n;
        NetworkInstance *instance = nullptr;
        EXPECT_EQ(networkBuild(&tiny.network, counter.allocator(), &instance), kResultNoMemory);
        EXPECT_EQ(instance, nullptr);
        EXPECT_EQ(counter.liveBlocks(), 0u) << n;
    }
}


TEST(ClassifierLayers, NetworkOfOneConvolutionHasRoomForItsOutput)
{
    // No intermediate tensors at all: the accumulator still holds the convolution's output
    // and the (unused) ping-pong buffers are still made.
    const int16_t kernel[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    const int16_t bias[1] = {3};
    const ConvLayer conv{kLayerConvolution, 1, 1, 3, 10, 3, kernel, bias, {kActivationNone, nullptr}, 1};
    const void *layers[1] = {&conv};
    const ClassifierNetwork network{1, kF, layers};
    CountingAllocator counter;
    NetworkInstance *instance = nullptr;
    ASSERT_EQ(networkBuild(&network, counter.allocator(), &instance), kResultOk);
    int16_t input[30];
    for (int i = 0; i < 30; ++i)
        input[i] = int16_t(i * 10);
    int16_t output[8] = {};
    ClassifierTensor in{3, 10, 1, input};
    ClassifierTensor out{1, 8, 1, output};
    ASSERT_EQ(networkRun(instance, &in, &out), kResultOk);
    for (int y = 0; y < 8; ++y)   // the diagonal of rows y .. y + 2, plus the bias
        EXPECT_EQ(output[y], input[3 * y] + input[3 * (y + 1) + 1] + input[3 * (y + 2) + 2] + 3) << y;
    networkFree(instance);
    EXPECT_EQ(counter.liveBlocks(), 0u);
}

}  // namespace
