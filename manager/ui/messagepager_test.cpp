#include "manager/ui/messagepager.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>

#include <cstdlib>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace {

const QColor kOrange(0xe6, 0x93, 0x2e);
const QColor kGrey(0xa0, 0xa0, 0xa0);

QList<int> dotLefts(const MessageViewPager &pager)
{
    QList<int> lefts;
    for (const QRect &dot : pager.dots()) {
        EXPECT_EQ(dot.size(), QSize(10, 10));
        EXPECT_EQ(dot.top(), 0);
        lefts << dot.left();
    }
    return lefts;
}

QImage paint(MessageViewPager &pager)
{
    QImage image(pager.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    pager.render(&image, QPoint(), QRegion(), QWidget::DrawChildren); // no window background
    return image;
}

QColor centreColour(const QImage &image, const QRect &dot)
{
    return image.pixelColor(dot.center());
}

void sendMouse(MessageViewPager &pager, QEvent::Type type, const QPoint &pos)
{
    QMouseEvent event(type, pos, Qt::LeftButton, type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&pager, &event);
}

struct LayoutCase {
    int width;
    int count;
    QList<int> lefts;
};

void PrintTo(const LayoutCase &c, std::ostream *out)
{
    *out << c.count << " pages on " << c.width << " pixels";
}

class PagerLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PagerLayoutTest, DotsSitInARowNearTheMiddle)
{
    const LayoutCase &c = GetParam();
    MessageViewPager pager;
    pager.resize(c.width, 14);
    pager.setMessageCount(c.count);
    EXPECT_EQ(dotLefts(pager), c.lefts);
}

INSTANTIATE_TEST_SUITE_P(Counts, PagerLayoutTest,
                         ::testing::Values(LayoutCase{600, 3, {265, 285, 305}}, LayoutCase{600, 2, {280, 300}},
                                           LayoutCase{600, 1, {}}, LayoutCase{600, 0, {}}, LayoutCase{600, -4, {}},
                                           LayoutCase{601, 4, {260, 280, 300, 320}},
                                           // Too narrow for the row: the start is truncated toward zero.
                                           LayoutCase{101, 9, {-44, -24, -4, 16, 36, 56, 76, 96, 116}}),
                         [](const ::testing::TestParamInfo<LayoutCase> &info) {
                             const int count = info.param.count;
                             return "Width" + std::to_string(info.param.width) + (count < 0 ? "Minus" : "Count") +
                                    std::to_string(std::abs(count));
                         });

TEST(MessageViewPagerTest, StartsEmptyWithTheSizesOfTheStrip)
{
    MessageViewPager pager;
    EXPECT_EQ(pager.messageCount(), 0);
    EXPECT_EQ(pager.currentMessage(), -1);
    EXPECT_EQ(pager.hoveredMessage(), -1);
    EXPECT_TRUE(pager.dots().isEmpty());
    EXPECT_EQ(pager.minimumSize(), QSize(100, 14));
    EXPECT_TRUE(pager.hasMouseTracking());
    EXPECT_EQ(pager.sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    EXPECT_EQ(pager.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

TEST(MessageViewPagerTest, ResizingMovesTheDotsAndCountKeepsTheCurrentPage)
{
    MessageViewPager pager;
    pager.resize(600, 14);
    pager.setMessageCount(3);
    pager.setCurrentMessage(2);
    pager.show(); // a hidden widget gets its resize event only when shown
    pager.resize(400, 14);
    QApplication::processEvents();
    EXPECT_EQ(dotLefts(pager), (QList<int>{165, 185, 205}));
    pager.setMessageCount(5);
    EXPECT_EQ(pager.currentMessage(), 2);
}

TEST(MessageViewPagerTest, CurrentPageIsClampedToTheDots)
{
    const struct {
        int count;
        int requested;
        int current;
    } cases[] = {{3, 1, 1}, {3, 7, 2}, {3, -1, 0}, {0, 5, 0}, {1, 3, 0}};
    for (const auto &c : cases) {
        MessageViewPager pager;
        pager.setMessageCount(c.count);
        pager.setCurrentMessage(c.requested);
        EXPECT_EQ(pager.currentMessage(), c.current) << c.count << " pages, asked for " << c.requested;
    }
}

TEST(MessageViewPagerTest, CurrentAndHoveredDotsAreOrangeTheOthersGrey)
{
    MessageViewPager pager;
    pager.resize(600, 14);
    pager.setMessageCount(4);
    pager.setCurrentMessage(1);
    const QList<QRect> dots = pager.dots();

    QImage image = paint(pager);
    EXPECT_EQ(centreColour(image, dots[0]), kGrey);
    EXPECT_EQ(centreColour(image, dots[1]), kOrange);
    EXPECT_EQ(centreColour(image, dots[2]), kGrey);
    EXPECT_EQ(centreColour(image, dots[3]), kGrey);
    // Nothing is drawn between the dots.
    EXPECT_EQ(image.pixelColor(dots[0].right() + 5, 5).alpha(), 0);

    sendMouse(pager, QEvent::MouseMove, dots[3].center());
    EXPECT_EQ(pager.hoveredMessage(), 3);
    image = paint(pager);
    EXPECT_EQ(centreColour(image, dots[1]), kOrange);
    EXPECT_EQ(centreColour(image, dots[3]), kOrange);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&pager, &leave);
    EXPECT_EQ(pager.hoveredMessage(), -1);
    EXPECT_EQ(centreColour(paint(pager), dots[3]), kGrey);
}

TEST(MessageViewPagerTest, OnePageDrawsNothing)
{
    MessageViewPager pager;
    pager.resize(600, 14);
    pager.setMessageCount(1);
    pager.setCurrentMessage(0);
    const QImage image = paint(pager);
    for (int x = 0; x < image.width(); ++x)
        ASSERT_EQ(image.pixelColor(x, 5).alpha(), 0) << "at x " << x;
}

TEST(MessageViewPagerTest, ClickOnADotSelectsItsPage)
{
    MessageViewPager pager;
    pager.resize(600, 14);
    pager.setMessageCount(3); // dots at 265, 285, 305
    QSignalSpy selected(&pager, &MessageViewPager::messageSelected);

    const struct {
        QPoint pos;
        int index; // -1: nothing selected
    } clicks[] = {
        {{290, 5}, 1},
        {{265, 0}, 0},  // top-left corner pixel
        {{314, 9}, 2},  // bottom-right corner pixel
        {{280, 5}, -1}, // between dots 0 and 1
        {{285, 10}, -1}, // just below dot 1
        {{264, 5}, -1},
    };
    for (const auto &click : clicks) {
        selected.clear();
        sendMouse(pager, QEvent::MouseMove, click.pos);
        EXPECT_EQ(pager.hoveredMessage(), click.index) << click.pos.x() << "," << click.pos.y();
        sendMouse(pager, QEvent::MouseButtonRelease, click.pos);
        EXPECT_EQ(pager.hoveredMessage(), -1);
        if (click.index < 0) {
            EXPECT_EQ(selected.count(), 0) << click.pos.x() << "," << click.pos.y();
        } else {
            ASSERT_EQ(selected.count(), 1) << click.pos.x() << "," << click.pos.y();
            EXPECT_EQ(selected.at(0).at(0).toInt(), click.index);
        }
    }
    // Selecting does not move the mark by itself; the view answers with its current page.
    EXPECT_EQ(pager.currentMessage(), -1);
}

} // namespace
