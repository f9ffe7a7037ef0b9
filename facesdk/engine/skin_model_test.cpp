#include "facesdk/engine/skin_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "facesdk/base/result_codes.h"
#include "facesdk/base/testing/counting_allocator.h"
#include "facesdk/engine/beautify_run.h"
#include "facesdk/engine/inner_engine.h"
#include "facesdk/engine/testing/owned_image.h"
#include "facesdk/engine/testing/yuv_paint.h"

namespace {

// Eigenvalues (ascending) and column eigenvectors of a symmetric matrix, by cyclic Jacobi in
// double precision.
void jacobiReference(const double in[3][3], double values[3], double vectors[3][3])
{
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            a[i][j] = in[i][j];
            vectors[i][j] = i == j;
        }
    for (int sweep = 0; sweep < 60; ++sweep)
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                if (std::fabs(a[p][q]) < 1e-300)
                    continue;
                const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
                const double t = (theta >= 0 ? 1 : -1) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = vectors[k][p], vkq = vectors[k][q];
                    vectors[k][p] = c * vkp - s * vkq;
                    vectors[k][q] = s * vkp + c * vkq;
                }
            }
    for (int i = 0; i < 3; ++i)
        values[i] = a[i][i];
    for (int i = 0; i < 2; ++i)
        for (int j = i + 1; j < 3; ++j)
            if (values[j] < values[i]) {
                std::swap(values[i], values[j]);
                for (int k = 0; k < 3; ++k)
                    std::swap(vectors[k][i], vectors[k][j]);
            }
}

// An inner engine whose small working copy is the given image.
struct ModelEngine {
    CountingAllocator counter;
    InnerEngine inner{};
    explicit ModelEngine(const EngineImage &copy)
    {
        inner.allocator = counter.allocator();
        inner.detectionImage = copy;
        inner.skinChromaRadius = kInitialChromaRadius;
        inner.skinAmountClass = 0;
    }
};

}  // namespace

TEST(SkinModel, EigenSolverMatchesFloatReference)
{
    std::mt19937 random(5);
    std::normal_distribution<double> normal;
    struct Scale {
        int s;
        double unit;  // matrix values are about this many times one
    };
    // The smoothing stage's use (s 16, covariance x 512) and the face colour model's (s 12).
    for (const Scale scale : {Scale{16, 64.0}, Scale{12, 256.0}, Scale{16, 0.5}})
        for (int round = 0; round < 200; ++round) {
            // A covariance of three correlated components with distinct spreads.
            double m[3][3] = {};
            double mix[3][3];
            for (auto &row : mix)
                for (double &x : row)
                    x = normal(random);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    for (int k = 0; k < 3; ++k)
                        m[i][j] += mix[i][k] * mix[j][k] * (k + 1) * (k + 1);
            const double one = double(int64_t(1) << scale.s);
            int64_t fixed[3][3];
            double asFixed[3][3];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) {
                    fixed[i][j] = std::llround(m[std::min(i, j)][std::max(i, j)] * scale.unit * one);
                    asFixed[i][j] = double(fixed[i][j]) / one;
                }
            int64_t values[3], vectors[3][3];
            symmetricEigen3(fixed, scale.s, values, vectors);
            double refValues[3], refVectors[3][3];
            jacobiReference(asFixed, refValues, refVectors);

            const double largest = std::fabs(refValues[2]);
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(double(values[k]) / one, refValues[k], 0.01 * largest + 8.0 / one)
                    << "round " << round << " value " << k;
                ASSERT_LE(values[std::max(k - 1, 0)], values[k]);
            }
            // Vectors of values well apart from their neighbours agree up to sign.
            for (int k = 0; k < 3; ++k) {
                const double gapBelow = k > 0 ? refValues[k] - refValues[k - 1] : largest;
                const double gapAbove = k < 2 ? refValues[k + 1] - refValues[k] : largest;
                if (std::min(gapBelow, gapAbove) < 0.05 * largest)
                    continue;
                double dot = 0;
                for (int r = 0; r < 3; ++r)
                    dot += double(vectors[r][k]) / one * refVectors[r][k];
                EXPECT_NEAR(std::fabs(dot), 1.0, 0.02) << "round " << round << " vector " << k;
            }
        }
}

TEST(SkinModel, EigenSolverEdgeMatrices)
{
    const int64_t one = 1 << 16;
    int64_t zero[3][3] = {}, values[3], vectors[3][3];
    symmetricEigen3(zero, 16, values, vectors);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(values[k], 0);

    int64_t diagonal[3][3] = {{5 * one, 0, 0}, {0, 2 * one, 0}, {0, 0, 9 * one}};
    symmetricEigen3(diagonal, 16, values, vectors);
    EXPECT_EQ(values[0], 2 * one);
    EXPECT_EQ(values[1], 5 * one);
    EXPECT_EQ(values[2], 9 * one);
    EXPECT_EQ(std::abs(vectors[1][0]), one);  // the value 2 sits in row 1
    EXPECT_EQ(std::abs(vectors[0][1]), one);

    EXPECT_EQ(hypot64(0, 0, 16), 1);
    EXPECT_EQ(hypot64(3 * one, 4 * one, 16), 5 * one);
    EXPECT_EQ(hypot64(-3 * one, 4 * one, 12 + 4), 5 * one);
    EXPECT_NEAR(double(hypot64(one / 3, one / 7, 16)) / one, std::hypot(1.0 / 3, 1.0 / 7), 1e-4);
}

TEST(SkinModel, GenericTestAndChromaLines)
{
    const SkinChromaLines lines = skinChromaLines(15);
    EXPECT_EQ(lines.a, 464580);
    EXPECT_EQ(lines.b, -1512621);
    struct Case {
        YuvColour c;
        bool grey;
        bool skin;
    };
    const Case cases[] = {
        {{150, 110, 155}, true, true},   // warm skin
        {{150, 128, 130}, false, false}, // grey lies below the first line
        {{30, 110, 155}, true, false},   // too dark
        {{150, 120, 175}, true, false},  // blue exclusion
        {{150, 85, 170}, true, false},   // U below 90
        {{200, 100, 150}, true, true},   // light skin
        {{120, 150, 110}, true, false},  // bluish
    };
    for (const Case &c : cases)
        EXPECT_EQ(genericSkinTest(lines, c.c.y, c.c.u, c.c.v, c.grey), c.skin)
            << c.c.y << " " << c.c.u << " " << c.c.v;
    // A larger radius asks for more saturation.
    EXPECT_TRUE(genericSkinTest(skinChromaLines(5), 150, 122, 136, false));
    EXPECT_FALSE(genericSkinTest(skinChromaLines(25), 150, 122, 136, false));
}

TEST(SkinModel, ChromaRadiusFromTheWorkingCopy)
{
    OwnedImage grey(64, 48, kFormatYuv420Planar);
    paintYuv(grey.image, [](int, int) { return YuvColour{120, 128, 128}; });
    ModelEngine grey_(grey.image);
    EXPECT_EQ(measureChromaRadius(&grey_.inner, nullptr, nullptr), kResultOk);
    EXPECT_EQ(chromaRadius(&grey_.inner), 3);  // r 0 gives (0 + 345) / 100

    // Chroma 30 and 40 from grey: r = 50, m' = min(25, 29).
    OwnedImage vivid(64, 48, kFormatYuv422Yuyv);
    paintYuv(vivid.image, [](int x, int) {
        return x < 32 ? YuvColour{120, 98, 168} : YuvColour{120, 126, 130};
    });
    ModelEngine engine(vivid.image);
    FaceListEntry entry{};
    entry.smallBox = {3, 5, 20, 20};  // inside the vivid half
    int32_t radius = 0;
    EXPECT_EQ(measureChromaRadius(&engine.inner, &entry, &radius), kResultOk);
    EXPECT_EQ(radius, 25);
    EXPECT_EQ(chromaRadius(&engine.inner), kInitialChromaRadius);  // a face leaves it alone
    entry.smallBox = {200, 200, 4, 4};  // outside the copy: nothing sampled
    EXPECT_EQ(measureChromaRadius(&engine.inner, &entry, &radius), kResultOk);
    EXPECT_EQ(radius, 11);

    InnerEngine empty{};
    EXPECT_EQ(measureChromaRadius(&empty, nullptr, nullptr), kResultBadArgument);
}

TEST(SkinModel, ModelOfASkinPatchSeparatesSkinFromOtherColours)
{
    // Skin whose colour varies mostly with brightness, plus a little chroma noise.
    auto skin = [](int x, int y) {
        const int shade = ((x * 7 + y * 13) % 61) - 30;
        const int noise = ((x * 31 + y * 17) % 5) - 2;
        return YuvColour{140 + shade, 112 - shade / 6 + noise, 152 + shade / 5 - noise};
    };
    const PixelFormat formats[] = {kFormatYuv420Planar, kFormatYuv420SemiPlanar,
                                   kFormatYuv422Planar, kFormatYuv444Planar, kFormatYuv422Yuyv,
                                   kFormatYuv422Uyvy};
    for (PixelFormat format : formats) {
        OwnedImage image(64, 64, format);
        paintYuv(image.image, skin);
        ModelEngine engine(image.image);
        const EngineRect box{8, 8, 48, 48};
        SkinModel model;
        ASSERT_EQ(fitSkinModel(&engine.inner, &box, &model), kResultOk) << std::hex << format;
        EXPECT_NEAR(model.mean[0] / 128.0, 140, 3);
        EXPECT_NEAR(model.mean[1] / 128.0, 112, 3);
        EXPECT_NEAR(model.mean[2] / 128.0, 152, 3);
        // The largest axis is mostly luma; axes are unit vectors in 1/128.
        EXPECT_GT(std::abs(model.axes[0][2]), 110) << std::hex << format;
        for (int k = 0; k < 3; ++k) {
            const int norm = model.axes[0][k] * model.axes[0][k] +
                             model.axes[1][k] * model.axes[1][k] +
                             model.axes[2][k] * model.axes[2][k];
            EXPECT_NEAR(norm, 128 * 128, 128 * 4);
        }
        int32_t l0 = 0, l1 = 0;
        ASSERT_EQ(skinModelThreshold(&engine.inner, &box, &model, 0, &l0), kResultOk);
        ASSERT_EQ(skinModelThreshold(&engine.inner, &box, &model, 1, &l1), kResultOk);
        int members = 0, total = 0;
        for (int y = 8; y < 56; ++y)
            for (int x = 8; x < 56; ++x, ++total) {
                const YuvColour c = skin(x, y);
                members += skinModelMember(&model, c.y, c.u, c.v, 0, l0, 1, l1);
            }
        EXPECT_GT(members * 100, total * 85) << std::hex << format;
        const YuvColour others[] = {{140, 150, 110}, {140, 90, 100}, {140, 128, 128},
                                    {140, 100, 175}};
        for (const YuvColour &c : others)
            EXPECT_FALSE(skinModelMember(&model, c.y, c.u, c.v, 0, l0, 1, l1));
        EXPECT_EQ(engine.counter.liveBlocks(), 0u);
    }
}

TEST(SkinModel, FlatBoxAndBadInput)
{
    OwnedImage image(32, 32, kFormatYuv420Planar);
    paintYuv(image.image, [](int, int) { return YuvColour{150, 110, 155}; });
    ModelEngine engine(image.image);
    const EngineRect box{4, 4, 16, 16};
    SkinModel model;
    ASSERT_EQ(fitSkinModel(&engine.inner, &box, &model), kResultOk);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(model.eigenvalues[i], 0);
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(model.covariance[i][j], 0);
    }
    int32_t limit = -1;
    EXPECT_EQ(skinModelThreshold(&engine.inner, &box, &model, 0, &limit), kResultOk);
    EXPECT_EQ(limit, 0);
    EXPECT_TRUE(skinModelMember(&model, 150, 110, 155, 0, 0, 1, 0));

    const EngineRect outside{20, 20, 16, 16};
    EXPECT_EQ(fitSkinModel(&engine.inner, &outside, &model), kResultBadArgument);
    OwnedImage grey(32, 32, kFormatGrey8);
    ModelEngine greyEngine(grey.image);
    EXPECT_EQ(fitSkinModel(&greyEngine.inner, &box, &model), kResultUnsupported);
    EXPECT_EQ(skinModelThreshold(&greyEngine.inner, &box, &model, 0, &limit), kResultUnsupported);

    engine.counter.failAt = engine.counter.allocations + 1;
    EXPECT_EQ(skinModelThreshold(&engine.inner, &box, &model, 0, &limit), kResultNoMemory);
    EXPECT_EQ(engine.counter.liveBlocks(), 0u);
}

TEST(SkinModel, PercentileFollowsTheSkinAmountClass)
{
    // Projections spread evenly: the limit moves down with the class's percentile.
    OwnedImage image(64, 64, kFormatYuv444Planar);
    paintYuv(image.image, [](int x, int y) { return YuvColour{100 + (x + y) % 64, 120, 150}; });
    ModelEngine engine(image.image);
    const EngineRect box{0, 0, 64, 64};
    SkinModel model;
    ASSERT_EQ(fitSkinModel(&engine.inner, &box, &model), kResultOk);
    int32_t limits[3];
    for (int cls = 0; cls < 3; ++cls) {
        engine.inner.skinAmountClass = cls;
        ASSERT_EQ(skinModelThreshold(&engine.inner, &box, &model, 2, &limits[cls]), kResultOk);
    }
    EXPECT_GT(limits[0], limits[1]);
    EXPECT_GE(limits[1], limits[2]);
    EXPECT_GT(limits[2], 0);
}

TEST(SkinModel, FaceListTotalArea)
{
    FaceListEntry entries[3]{};
    entries[0].smallBox = {0, 0, 10, 20};
    entries[1].smallBox = {5, 5, 3, 3};
    entries[2].smallBox = {1, 1, 100, 100};
    InnerEngine inner{};
    inner.faceList = entries;
    inner.faceListCount = 2;
    EXPECT_EQ(faceListTotalArea(&inner), 209);
    inner.faceList = nullptr;
    EXPECT_EQ(faceListTotalArea(&inner), 0);
}
