#include "editing/widgets/color_slider.h"

#include <QImage>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Colours compared by HSL components within one step of rounding.
void expectHsl(const QColor& colour, int hue, int saturation, int lightness)
{
    ASSERT_TRUE(colour.isValid());
    EXPECT_NEAR(colour.hslHue(), hue, 1);
    EXPECT_NEAR(colour.hslSaturation(), saturation, 1);
    EXPECT_NEAR(colour.lightness(), lightness, 1);
}

TEST(ColorSliderGradient, HueRunsUpwardsRoundTheCircle)
{
    ColorSlider slider;
    slider.setGradientSpec(QColor::Hsl);
    slider.setGradientComponent(ColorSlider::Hue);
    struct Case {
        int startHue;
        int endHue;
        double position;
        int expectedHue;
    };
    const Case cases[] = {
        {320, 80, 0.0, 320},  {320, 80, 0.5, 20},  {320, 80, 1.0, 80}, // across red
        {260, 20, 0.5, 320},  {0, 0, 0.5, 180},    {0, 0, 0.25, 90},   // equal ends: a full turn
        {200, 200, 0.5, 20},  {20, 80, -1.0, 20},  {20, 80, 2.0, 80},  // clamped positions
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.startHue << "→" << c.endHue << " at " << c.position);
        slider.setGradientColors(QColor::fromHsl(c.startHue, 255, 128), QColor::fromHsl(c.endHue, 255, 128));
        expectHsl(slider.gradientColorAt(c.position), c.expectedHue, 255, 128);
    }
}

TEST(ColorSliderGradient, SaturationAndLevelInTheirModel)
{
    ColorSlider slider;
    slider.setGradientSpec(QColor::Hsl);
    slider.setGradientComponent(ColorSlider::Saturation);
    slider.setGradientColors(QColor::fromHsl(120, 0, 128), QColor::fromHsl(120, 255, 128));
    expectHsl(slider.gradientColorAt(0.5), 120, 128, 128);

    slider.setGradientComponent(ColorSlider::ValueOrLightness);
    slider.setGradientColors(QColor::fromHsl(240, 255, 0), QColor::fromHsl(240, 255, 255));
    const QColor middle = slider.gradientColorAt(0.5);
    EXPECT_NEAR(middle.lightness(), 128, 1);
    EXPECT_NEAR(middle.hslHue(), 240, 1);

    slider.setGradientSpec(QColor::Hsv);
    slider.setGradientColors(QColor::fromHsv(60, 255, 0), QColor::fromHsv(60, 255, 255));
    const QColor hsv = slider.gradientColorAt(1.0);
    EXPECT_EQ(hsv.value(), 255);
    EXPECT_EQ(hsv.hsvHue(), 60);
    EXPECT_EQ(hsv.alpha(), 255);

    slider.setGradientComponent(7);
    EXPECT_EQ(slider.gradientColorAt(0.5), QColor::fromHsv(0, 0, 0));
}

TEST(ColorSliderGradient, OtherModelsGiveNoColour)
{
    ColorSlider slider;
    EXPECT_FALSE(slider.gradientColorAt(0.5).isValid()); // spec 0 at construction
    slider.setGradientColors(Qt::red, Qt::blue);
    slider.setGradientSpec(QColor::Rgb);
    EXPECT_FALSE(slider.gradientColorAt(0.5).isValid());
}

TEST(ColorSliderPainting, EqualHuesPaintTheWholeCircleFromThatHue)
{
    ColorSlider slider;
    slider.setOrientation(Qt::Horizontal);
    slider.setRange(0, 360);
    slider.setValue(0);
    slider.resize(400, 30);
    slider.setGradientSpec(QColor::Hsl);
    slider.setGradientComponent(ColorSlider::Hue);
    slider.setGradientColors(QColor::fromHsl(90, 255, 128), QColor::fromHsl(90, 255, 128));
    const QImage image = slider.grab().toImage();

    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = Qt::Horizontal;
    option.minimum = 0;
    option.maximum = 360;
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    QRect groove = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &slider);
    groove.adjust(handle.width() / 2, 0, -(handle.width() / 2), 0);
    const int y = groove.center().y();
    const auto hueAt = [&](double fraction) {
        return image.pixelColor(groove.left() + int(fraction * (groove.width() - 1)), y).hslHue();
    };
    // The handle stands at the left end; a quarter along is 90 + 90 degrees, halfway 270, three quarters 0.
    const auto circularDistance = [](int a, int b) { return std::min((a - b + 360) % 360, (b - a + 360) % 360); };
    EXPECT_LE(circularDistance(hueAt(0.25), 180), 4);
    EXPECT_LE(circularDistance(hueAt(0.5), 270), 4);
    EXPECT_LE(circularDistance(hueAt(0.75), 0), 4);
    // With the handle at the right end the left end shows the start hue.
    slider.setValue(360);
    const QImage atEnd = slider.grab().toImage();
    EXPECT_LE(circularDistance(atEnd.pixelColor(groove.left() + groove.width() / 20, y).hslHue(), 108), 4);
}

TEST(ColorSliderPainting, DisabledSliderShowsNoHandle)
{
    ColorSlider slider;
    slider.setOrientation(Qt::Horizontal);
    slider.setRange(0, 100);
    slider.setValue(50);
    slider.resize(300, 30);
    slider.setGradientSpec(QColor::Hsl);
    slider.setGradientComponent(ColorSlider::Hue);
    slider.setGradientColors(QColor::fromHsl(0, 255, 128), QColor::fromHsl(0, 255, 128));
    const QPoint middle(slider.width() / 2, slider.height() / 2);
    const QImage enabled = slider.grab().toImage();
    slider.setEnabled(false);
    const QImage disabled = slider.grab().toImage();
    // Halfway along a full circle from red is cyan; the enabled handle covers it with its own face.
    EXPECT_NEAR(disabled.pixelColor(middle).hslHue(), 180, 6);
    EXPECT_NE(enabled.pixelColor(middle), disabled.pixelColor(middle));
}

} // namespace
