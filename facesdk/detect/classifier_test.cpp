// The classifier object: descriptor, create codes, runs with the shipped and with hand-built
// networks, scores, smoothing, and allocation failures.
#include "facesdk/detect/classifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"

namespace {

// A network of the classifier's input shape that answers from the brightness of the crop: one
// maximum pooling over the whole 48 x 48 crop gives m = brightest - 128 (Q8), and the dense layer
// turns it into `classes` outputs weights[i] x m + biases[i] before its activation.
template <uint32_t Classes>
struct MeanNetwork {
    int16_t weights[Classes];
    int16_t biases[Classes];
    PoolLayer pool{kLayerPooling, 1, 48, 48, 48, 48, kPoolMaximum, 1, {kActivationNone, nullptr}};
    DenseLayer dense{kLayerDense, 1, Classes, weights, biases, {kActivationSoftmax, nullptr}};
    const void *layers[2] = {&pool, &dense};
    ClassifierNetwork network{2, 8, layers};
};

struct GreyPicture {
    std::vector<uint8_t> pixels;
    EngineImage image{};
    GreyPicture(int side, uint8_t value) : pixels(size_t(side) * side, value)
    {
        image.format = kFormatGrey8;
        image.width = side;
        image.height = side;
        image.planes[0] = {side, 0, pixels.data()};
    }
};

ClassifierFace faceWithEyes(int32_t id = 0)
{
    ClassifierFace face{};
    face.size = 64;
    face.x = 20;
    face.y = 20;
    face.width = 80;
    face.height = 80;
    face.eye1X = 40;
    face.eye1Y = 50;
    face.eye2X = 80;
    face.eye2Y = 50;
    face.id = id;
    return face;
}

TEST(Classifier, DescriptorAndInterface)
{
    const ClassifierInfo *info = faceClassifierInfo();
    EXPECT_EQ(info->size, 32u);
    EXPECT_EQ(info->version, 0x030503F7u);
    EXPECT_EQ(info->versionMajor, 2);
    EXPECT_EQ(info->versionMinor, 5);
    EXPECT_STREQ(info->buildDate, "Apr 27 2024 10:44:28");
    EXPECT_STREQ(info->versionText, "3.5.3.503.   ");
    const ClassifierInterface *interface = faceClassifierInterface();
    EXPECT_EQ(interface->ops->info, &faceClassifierInfo);
    EXPECT_EQ(interface->ops->create, &faceClassifierCreate);
    EXPECT_EQ(networkValidate(interface->networkA), kResultOk);
    EXPECT_EQ(networkValidate(interface->networkB), kResultOk);
}

TEST(Classifier, CreateCodes)
{
    CountingAllocator counter;
    FaceClassifier *const sentinel = reinterpret_cast<FaceClassifier *>(0x10);
    struct Case {
        const char *name;
        ClassifierOptions options;
        bool allocator;
        int expected;
        bool outTouched;
    } cases[] = {
        {"flags 0", {12, 0, 0}, true, kResultBadArgument, false},
        {"size 11", {11, 3, 0}, true, kResultBadArgument, false},
        {"flags 4", {12, 4, 0}, true, kResultUnsupported, true},
        {"no allocator", {12, 1, 0}, false, kResultUnsupported, true},
        {"both networks", {12, 3, 0}, true, kResultOk, true},
    };
    for (const Case &c : cases) {
        FaceClassifier *out = sentinel;
        EXPECT_EQ(faceClassifierCreate(faceClassifierInterface(), c.allocator ? counter.allocator() : nullptr,
                                       &c.options, &out),
                  c.expected)
            << c.name;
        if (!c.outTouched) {
            EXPECT_EQ(out, sentinel) << c.name;
        } else if (c.expected != kResultOk) {
            EXPECT_EQ(out, nullptr) << c.name;
        }
        if (c.expected == kResultOk) {
            EXPECT_NE(out->networkA, nullptr);
            EXPECT_NE(out->networkB, nullptr);
            EXPECT_EQ(out->ops->destroy(out), kResultOk);
        }
    }
    const ClassifierOptions options{12, 3, 0};
    FaceClassifier *out = sentinel;
    EXPECT_EQ(faceClassifierCreate(nullptr, counter.allocator(), &options, &out), kResultBadArgument);

    // A descriptor whose layers do not chain is refused and nothing stays allocated.
    MeanNetwork<3> broken;
    broken.dense.inputs = 2;
    const ClassifierInterface custom{faceClassifierInterface()->ops, &broken.network, &broken.network};
    EXPECT_EQ(faceClassifierCreate(&custom, counter.allocator(), &options, &out), kResultBadIndex);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(counter.liveBlocks(), 0u);
    EXPECT_EQ(faceClassifierDestroy(nullptr), kResultBadArgument);
    EXPECT_EQ(faceClassifierReset(nullptr), kResultBadArgument);
}

TEST(Classifier, CreateFreesEverythingWhenAnyAllocationFails)
{
    const ClassifierOptions options{12, 3, 0};
    for (int n = 1;; ++n) {
        CountingAllocator counter;
        counter.failAt = n;
        FaceClassifier *out = nullptr;
        const int result = faceClassifierCreate(faceClassifierInterface(), counter.allocator(), &options, &out);
        if (result == kResultOk) {
            faceClassifierDestroy(out);
            EXPECT_EQ(counter.liveBlocks(), 0u);
            EXPECT_GT(n, 10);
            break;
        }
        EXPECT_EQ(result, kResultNoMemory) << n;
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(counter.liveBlocks(), 0u) << n;
    }
}

struct ClassifierFixture : ::testing::Test {
    CountingAllocator counter;
    FaceClassifier *classifier = nullptr;
    GreyPicture picture{128, 128};

    void create(const ClassifierInterface *interface, uint32_t networks, uint32_t mode)
    {
        const ClassifierOptions options{12, networks, mode};
        ASSERT_EQ(faceClassifierCreate(interface, counter.allocator(), &options, &classifier), kResultOk);
    }
    ~ClassifierFixture() override
    {
        if (classifier)
            classifier->ops->destroy(classifier);
        EXPECT_EQ(counter.liveBlocks(), 0u);
    }
};

TEST_F(ClassifierFixture, RunCodes)
{
    create(faceClassifierInterface(), 3, 0);
    const ClassifierResult *out = reinterpret_cast<const ClassifierResult *>(0x10);
    const ClassifierFace face = faceWithEyes();
    EXPECT_EQ(classifier->ops->run(classifier, nullptr, &picture.image, &out), kResultBadArgument);
    EXPECT_EQ(out, nullptr);
    ClassifierFace shortFace = face;
    shortFace.size = 60;
    EXPECT_EQ(classifier->ops->run(classifier, &shortFace, &picture.image, &out), kResultBadArgument);
    EngineImage noData = picture.image;
    noData.planes[0].pixels = nullptr;
    EXPECT_EQ(classifier->ops->run(classifier, &face, &noData, &out), kResultBadArgument);
    EngineImage rgb = picture.image;
    rgb.format = kFormatRgb24;
    ClassifierFace closeEyes = face;
    closeEyes.eye2X = 49;
    EXPECT_EQ(classifier->ops->run(classifier, &closeEyes, &rgb, &out), kResultUnsupported);
    EXPECT_EQ(classifier->ops->run(classifier, &closeEyes, &picture.image, &out), kResultBadLayer);
    ClassifierFace boxOnly = face;
    boxOnly.eye1X = boxOnly.eye1Y = boxOnly.eye2X = boxOnly.eye2Y = 0;
    EXPECT_EQ(classifier->ops->run(classifier, &boxOnly, &picture.image, &out), kResultFailed);
    EXPECT_EQ(out, nullptr);

    // The shipped networks carry neutral weights: equal scores, the first class wins.
    ASSERT_EQ(classifier->ops->run(classifier, &face, &picture.image, &out), kResultOk);
    ASSERT_EQ(out, &classifier->result);
    EXPECT_EQ(out->size, 32u);
    EXPECT_EQ(out->classA, 0);
    EXPECT_EQ(out->classB, 0);
    EXPECT_EQ(std::vector<int>(out->scoresA, out->scoresA + 3), (std::vector<int>{33, 33, 33}));
    EXPECT_EQ(std::vector<int>(out->scoresB, out->scoresB + 2), (std::vector<int>{50, 50}));
}

TEST_F(ClassifierFixture, HandBuiltNetworksDecideByBrightness)
{
    // Network A: class 2 for a bright crop, class 0 for a dark one (weights +-8 on the mean);
    // network B is left out, so its class stays 255 and its scores null.
    MeanNetwork<3> a;
    const int16_t weights[3] = {-2048, 0, 2048};
    std::memcpy(a.weights, weights, sizeof weights);
    std::memset(a.biases, 0, sizeof a.biases);
    const ClassifierInterface custom{faceClassifierInterface()->ops, &a.network, &a.network};
    create(&custom, kClassifierNetworkA, 0);
    const ClassifierFace face = faceWithEyes();
    const ClassifierResult *out = nullptr;

    GreyPicture bright(128, 228);
    ASSERT_EQ(classifier->ops->run(classifier, &face, &bright.image, &out), kResultOk);
    EXPECT_EQ(out->classA, 2);
    EXPECT_EQ(out->classB, kClassNone);
    EXPECT_EQ(out->scoresB, nullptr);
    // The crop is 100/256 = 0.39 throughout: outputs -3.1, 0, 3.1 -> softmax 0, 3, 96 %.
    EXPECT_EQ(out->scoresA[2], 96);
    EXPECT_EQ(out->scoresA[0], 0);

    GreyPicture dark(128, 28);
    ASSERT_EQ(classifier->ops->run(classifier, &face, &dark.image, &out), kResultOk);
    EXPECT_EQ(out->classA, 0);
}

TEST_F(ClassifierFixture, CertaintyScoresHundredAndAllZeroScoresLeaveNoClass)
{
    MeanNetwork<3> certain;  // outputs 16, 0, 0 before the softmax: 256, 0, 0 after it
    const int16_t weights[3] = {0, 0, 0};
    const int16_t biases[3] = {4096, -4096, -4096};
    std::memcpy(certain.weights, weights, sizeof weights);
    std::memcpy(certain.biases, biases, sizeof biases);
    MeanNetwork<2> silent;  // no activation, zero outputs: every score 0
    std::memset(silent.weights, 0, sizeof silent.weights);
    std::memset(silent.biases, 0, sizeof silent.biases);
    silent.dense.activation = {kActivationNone, nullptr};
    const ClassifierInterface custom{faceClassifierInterface()->ops, &certain.network, &silent.network};
    create(&custom, 3, 0);
    const ClassifierFace face = faceWithEyes();
    const ClassifierResult *out = nullptr;
    ASSERT_EQ(classifier->ops->run(classifier, &face, &picture.image, &out), kResultOk);
    EXPECT_EQ(out->classA, 0);
    EXPECT_EQ(out->scoresA[0], 100);
    EXPECT_EQ(out->classB, kClassNone);
    ASSERT_NE(out->scoresB, nullptr);
    EXPECT_EQ(out->scoresB[0], 0);
}

TEST_F(ClassifierFixture, SmoothingAveragesRunsOfOneFaceWeightedByConfidence)
{
    MeanNetwork<3> a;
    const int16_t weights[3] = {-1024, 0, 1024};
    std::memcpy(a.weights, weights, sizeof weights);
    std::memset(a.biases, 0, sizeof a.biases);
    const ClassifierInterface custom{faceClassifierInterface()->ops, &a.network, &a.network};

    // Raw scores of the two pictures, from a classifier without smoothing.
    GreyPicture first(128, 200), second(128, 100);
    std::vector<int> raw1, raw2;
    {
        create(&custom, kClassifierNetworkA, 0);
        const ClassifierFace face = faceWithEyes(7);
        const ClassifierResult *out = nullptr;
        ASSERT_EQ(classifier->ops->run(classifier, &face, &first.image, &out), kResultOk);
        raw1.assign(out->scoresA, out->scoresA + 3);
        ASSERT_EQ(classifier->ops->run(classifier, &face, &second.image, &out), kResultOk);
        raw2.assign(out->scoresA, out->scoresA + 3);
        classifier->ops->destroy(classifier);
        classifier = nullptr;
    }
    ASSERT_EQ(raw1[2] > raw1[0], true);
    ASSERT_EQ(raw2[0] > raw2[2], true);

    create(&custom, kClassifierNetworkA, kClassifierSmoothing);
    const ClassifierResult *out = nullptr;
    // Face id 0: raw results, the history does not move.
    const ClassifierFace anonymous = faceWithEyes(0);
    ASSERT_EQ(classifier->ops->run(classifier, &anonymous, &first.image, &out), kResultOk);
    EXPECT_EQ(std::vector<int>(out->scoresA, out->scoresA + 3), raw1);
    EXPECT_EQ(classifier->history.ring, 0);

    const ClassifierFace face = faceWithEyes(7);
    ASSERT_EQ(classifier->ops->run(classifier, &face, &first.image, &out), kResultOk);
    EXPECT_EQ(std::vector<int>(out->scoresA, out->scoresA + 3), raw1);
    EXPECT_EQ(out->classA, 2);
    // Another face in between does not disturb face 7's average.
    const ClassifierFace other = faceWithEyes(9);
    ASSERT_EQ(classifier->ops->run(classifier, &other, &second.image, &out), kResultOk);
    EXPECT_EQ(std::vector<int>(out->scoresA, out->scoresA + 3), raw2);

    ASSERT_EQ(classifier->ops->run(classifier, &face, &second.image, &out), kResultOk);
    auto weight = [](const std::vector<int> &s, int c) { return (3.0 * s[c] - s[0] - s[1] - s[2]) / 200; };
    const double d1 = weight(raw1, 2), d2 = weight(raw2, 0);
    // The class starts as the run's own and moves to index j when the smoothed score j beats
    // the score of the current class as it stands at that moment.
    std::vector<int> expected(3), scores = raw2;
    int best = 0;
    for (int j = 0; j < 3; ++j) {
        expected[j] = int((raw1[j] * d1 + raw2[j] * d2) / (d1 + d2));
        scores[j] = expected[j];
        if (scores[j] > scores[best])
            best = j;
    }
    EXPECT_EQ(std::vector<int>(out->scoresA, out->scoresA + 3), expected);
    EXPECT_EQ(out->classA, best);
    EXPECT_EQ(classifier->history.ring, 3);

    EXPECT_EQ(classifier->ops->reset(classifier), kResultOk);
    EXPECT_EQ(classifier->history.ring, 0);
    ASSERT_EQ(classifier->ops->run(classifier, &face, &second.image, &out), kResultOk);
    EXPECT_EQ(std::vector<int>(out->scoresA, out->scoresA + 3), raw2);
}

}  // namespace
