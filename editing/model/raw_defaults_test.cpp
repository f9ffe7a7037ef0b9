#include "editing/model/raw_defaults.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(MakeDefaultRawParams, AnswersANewRecordWithTheEditingModelsDefaults)
{
    const QSharedPointer<VXLRAWParams> first = makeDefaultRawParams();
    const QSharedPointer<VXLRAWParams> second = makeDefaultRawParams();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.data(), second.data());
    VXLRAWParams expected;
    defaultRawParams(&expected);
    EXPECT_EQ(std::memcmp(first.data(), &expected, sizeof expected), 0);
    EXPECT_EQ(first->useSettings, 0);
    EXPECT_EQ(first->exposureCorrectionOn, 1);
}

TEST(MakeDefaultRawParams, DefaultRawParamsRewritesTheRecordAndIgnoresNull)
{
    QSharedPointer<VXLRAWParams> raw = makeDefaultRawParams();
    raw->outputDepth = kRawDepth16;
    raw->params.iDeltaR = 9;
    defaultRawParams(raw);
    EXPECT_EQ(raw->outputDepth, 0);
    EXPECT_EQ(raw->params.iDeltaR, 0);
    defaultRawParams(QSharedPointer<VXLRAWParams>());
}
