#include "editing/widgets/four_handle_slider.h"
#include "editing/widgets/testing/widget_events.h"

#include <QSignalSpy>
#include <QTest>

#include <array>

#include <gtest/gtest.h>

namespace {

using Hues = std::array<int, 4>;

// One slider unit per pixel: a 360-pixel slider over 0..360.
class FourHandleSliderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        slider.setFixedSize(360, 20);
        slider.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    }

    Hues hues() const
    {
        return {slider.featherStartHue(), slider.rangeStartHue(), slider.rangeEndHue(), slider.featherEndHue()};
    }
    Hues positions() const
    {
        return {slider.handlePosition(0), slider.handlePosition(1), slider.handlePosition(2), slider.handlePosition(3)};
    }
    void set(const Hues& h) { slider.setHandleHues(h[0], h[1], h[2], h[3]); }

    FourHandleSlider slider;
};

TEST_F(FourHandleSliderTest, HuesAreStoredHalfATurnOnAndReadBack)
{
    QSignalSpy changed(&slider, QOverload<bool>::of(&FourHandleSlider::changed));
    set({0, 15, 30, 45});
    EXPECT_EQ(positions(), (Hues{180, 195, 210, 225}));
    EXPECT_EQ(hues(), (Hues{0, 15, 30, 45}));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_FALSE(changed.first().at(0).toBool());

    set({300, 330, 360, 20}); // 360 is red as well: position 180, read back as 0
    EXPECT_EQ(positions(), (Hues{120, 150, 180, 200}));
    EXPECT_EQ(hues(), (Hues{300, 330, 0, 20}));
}

TEST_F(FourHandleSliderTest, OutOfRangeHuesChangeNothing)
{
    set({10, 40, 60, 90});
    QSignalSpy changed(&slider, QOverload<bool>::of(&FourHandleSlider::changed));
    for (const Hues& bad : {Hues{361, 0, 10, 20}, Hues{0, -1, 10, 20}, Hues{0, 10, 20, 1000}}) {
        set(bad);
        EXPECT_EQ(hues(), (Hues{10, 40, 60, 90}));
    }
    EXPECT_EQ(changed.count(), 0);
}

TEST(FourHandleSliderMidHue, GoesUpTheCircle)
{
    struct Case {
        int a, b, mid;
    };
    for (const Case& c : {Case{350, 10, 0}, Case{10, 350, 180}, Case{0, 0, 0}, Case{352, 7, 0}, Case{300, 20, 340},
                          Case{20, 40, 30}, Case{359, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.a << ", " << c.b);
        EXPECT_EQ(FourHandleSlider::midHue(c.a, c.b), c.mid);
    }
}

TEST_F(FourHandleSliderTest, HandlesFarApartAndInOrderAreKept)
{
    set({0, 90, 180, 270});
    EXPECT_EQ(hues(), (Hues{0, 90, 180, 270}));
    EXPECT_TRUE(slider.isCyclicOrder());
    set({337, 352, 7, 22}); // across the wrap of the hue circle
    EXPECT_EQ(hues(), (Hues{337, 352, 7, 22}));
}

TEST_F(FourHandleSliderTest, BrokenOrderPacksTheHandlesAfterTheStart)
{
    // All on one hue: each later handle is stepped on until its marker clears its predecessor's.
    set({100, 100, 100, 100});
    const Hues packed = positions();
    EXPECT_TRUE(slider.isCyclicOrder());
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(slider.handlesOverlap(i, i + 1)) << i;
    // Outer 9-pixel marker to inner 5-pixel one: clear when 2 pixels apart (1 pixel shared is
    // allowed); two inner markers: 4 pixels apart; inner to outer: 2 pixels.
    EXPECT_EQ(packed[1] - packed[0], 2);
    EXPECT_EQ(packed[2] - packed[1], 4);
    EXPECT_EQ(packed[3] - packed[2], 2);

    // Inner handles swapped: the order is repaired from handle 0 forwards.
    set({40, 80, 60, 120});
    EXPECT_TRUE(slider.isCyclicOrder());
    EXPECT_EQ(slider.featherStartHue(), 40);
    EXPECT_EQ(slider.rangeStartHue(), 42);
}

TEST_F(FourHandleSliderTest, OverlapSeesAcrossTheWrap)
{
    // Handle 3 at the right end, handle 0 at the left end: neighbours across the wrap.
    set({181, 300, 340, 179}); // positions 1, 120, 160, 359
    EXPECT_EQ(slider.handlePosition(0), 1);
    EXPECT_EQ(slider.handlePosition(3), 359);
    EXPECT_TRUE(slider.isCyclicOrder());
    EXPECT_FALSE(slider.handlesOverlap(1, 2));
    EXPECT_TRUE(slider.handlesOverlap(3, 0) || slider.handlesOverlap(0, 3));
}

TEST_F(FourHandleSliderTest, MoveCentreShiftsTheWholeRangeWithWrap)
{
    set({337, 352, 7, 22});
    EXPECT_EQ(slider.centreHue(), 0);
    QSignalSpy changed(&slider, QOverload<bool>::of(&FourHandleSlider::changed));
    slider.moveCentreTo(0);
    EXPECT_EQ(changed.count(), 0); // already there

    slider.moveCentreTo(200);
    EXPECT_EQ(hues(), (Hues{177, 192, 207, 222}));
    EXPECT_EQ(slider.centreHue(), 199); // an odd-width range's midpoint rounds down
    slider.moveCentreTo(10);
    EXPECT_EQ(hues(), (Hues{348, 3, 18, 33}));
    EXPECT_EQ(changed.count(), 2);
    for (const QList<QVariant>& signal : changed)
        EXPECT_FALSE(signal.at(0).toBool());

    slider.moveCentreTo(361);
    slider.moveCentreTo(-5);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(slider.centreHue(), 10);
}

TEST_F(FourHandleSliderTest, DraggingAHandleStopsAtItsNeighbour)
{
    set({0, 90, 180, 270}); // positions 180, 270, 0, 90: handle 1 at pixel 270
    QSignalSpy changed(&slider, QOverload<bool>::of(&FourHandleSlider::changed));
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(270, 10));
    dragTo(&slider, QPoint(250, 10));
    EXPECT_EQ(slider.rangeStartHue(), 70);
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_TRUE(changed.last().at(0).toBool());
    dragTo(&slider, QPoint(150, 10)); // would pass handle 0 at 180: refused
    EXPECT_EQ(slider.rangeStartHue(), 70);
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 10));
    EXPECT_TRUE(slider.isCyclicOrder());
}

TEST_F(FourHandleSliderTest, DraggingInsideTheRangeMovesItWhole)
{
    set({0, 30, 60, 90}); // range between pixels 210 and 240
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(225, 10));
    dragTo(&slider, QPoint(245, 10));
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, QPoint(245, 10));
    EXPECT_EQ(hues(), (Hues{20, 50, 80, 110}));
}

} // namespace
