#include "editing/widgets/four_handle_slider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <utility>

namespace {

constexpr int kTurn = 360;           // slider units and degrees in one turn
constexpr int kRangeDrag = 4;        // dragHandle value while the range between handles 1 and 2 moves
constexpr int kMaxSeparationSteps = 360;

// Left offset and width of each handle's marker, pixels from the handle's position.
constexpr int kMarkerOffset[FourHandleSlider::kHandleCount] = {-8, -2, -2, 0};
constexpr int kMarkerWidth[FourHandleSlider::kHandleCount] = {9, 5, 5, 9};

// A hue given by a caller is accepted when it is 0..360; negative hues read as huge unsigned ones.
bool isAcceptedHue(int hue)
{
    return static_cast<unsigned>(hue) <= unsigned(kTurn);
}

// The marker copied across the wrap: shifted right when it sticks out on the left, left when it
// sticks out on the right; empty when it lies within the width.
QRect wrappedCopy(const QRect& marker, int width)
{
    if (marker.left() < 0)
        return marker.translated(width, 0);
    if (marker.left() + marker.width() > width)
        return marker.translated(-width, 0);
    return QRect();
}

bool overlapsMoreThanOnePixel(const QRect& a, const QRect& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QRect common = a.intersected(b);
    return !common.isEmpty() && common.width() > 1;
}

} // namespace

FourHandleSlider::FourHandleSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setRange(0, kTurn);
    setMinimumHeight(18);
    for (int i = 0; i < kHandleCount; ++i)
        handles[i] = positionOfHue(0);
}

FourHandleSlider::~FourHandleSlider() = default;

int FourHandleSlider::wrapIntoRange(int position) const
{
    if (position > maximum())
        return position - kTurn;
    if (position < minimum())
        return position + kTurn;
    return position;
}

int FourHandleSlider::positionOfHue(int hue) const
{
    return wrapIntoRange((hue + 180) % kTurn);
}

int FourHandleSlider::hueOfHandle(int handle) const
{
    return (handles[handle] + 180) % kTurn;
}

void FourHandleSlider::setHandleHues(int featherStart, int rangeStart, int rangeEnd, int featherEnd)
{
    const int hues[kHandleCount] = {featherStart, rangeStart, rangeEnd, featherEnd};
    if (!std::all_of(std::begin(hues), std::end(hues), isAcceptedHue))
        return;
    for (int i = 0; i < kHandleCount; ++i)
        handles[i] = positionOfHue(hues[i]);
    resolveOverlaps(0, true);
    update();
    emit changed(false);
}

int FourHandleSlider::midHue(int a, int b)
{
    int mid = b < a ? ((a + b - kTurn) / 2) % kTurn : (a + b) / 2;
    if (mid < 0)
        mid += kTurn;
    else if (mid > kTurn)
        mid -= kTurn;
    return mid;
}

int FourHandleSlider::centreHue() const
{
    return midHue(rangeStartHue(), rangeEndHue());
}

void FourHandleSlider::shiftHandles(int shift)
{
    for (int& position : handles)
        position = wrapIntoRange(position + shift);
}

void FourHandleSlider::moveCentreTo(int hue)
{
    if (!isAcceptedHue(hue) || hue == centreHue())
        return;
    const int shift = hue - centreHue();
    shiftHandles(shift);
    if (shift > 0)
        resolveOverlaps(3, true);
    else
        resolveOverlaps(0, false);
    update();
    emit changed(false);
}

int FourHandleSlider::pixelOfPosition(int position) const
{
    return QStyle::sliderPositionFromValue(minimum(), maximum(), position, width(), false);
}

int FourHandleSlider::positionOfPixel(int x) const
{
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x, std::max(1, width()), false);
}

QRect FourHandleSlider::markerRect(int handle) const
{
    const int x = pixelOfPosition(handles[handle]);
    return QRect(x + kMarkerOffset[handle], 0, kMarkerWidth[handle], height());
}

bool FourHandleSlider::handlesOverlap(int first, int second) const
{
    const QRect a = markerRect(first);
    const QRect b = markerRect(second);
    const QRect aCopy = wrappedCopy(a, width());
    const QRect bCopy = wrappedCopy(b, width());
    return overlapsMoreThanOnePixel(a, b) || overlapsMoreThanOnePixel(a, bCopy) || overlapsMoreThanOnePixel(aCopy, b)
        || overlapsMoreThanOnePixel(aCopy, bCopy);
}

bool FourHandleSlider::isCyclicOrder() const
{
    std::array<std::pair<int, int>, kHandleCount> sorted;
    for (int i = 0; i < kHandleCount; ++i)
        sorted[i] = {handles[i], i};
    std::sort(sorted.begin(), sorted.end());
    for (int k = 0; k < kHandleCount; ++k) {
        const int previous = sorted[(k + kHandleCount - 1) % kHandleCount].second;
        if (sorted[k].second != (previous + 1) % kHandleCount)
            return false;
    }
    return true;
}

void FourHandleSlider::stepHandle(int handle, bool forward)
{
    int& position = handles[handle];
    if (forward)
        position = position >= maximum() ? minimum() + 1 : position + 1;
    else
        position = position <= minimum() ? maximum() - 1 : position - 1;
}

void FourHandleSlider::resolveOverlaps(int start, bool forward)
{
    int previous = start;
    int previousPosition = handles[start];
    // One pixel in slider units, rounded up; a widget not yet laid out counts as one pixel wide.
    const int w = std::max(1, width());
    const int onePixel = (kTurn + w - 1) / w;
    for (int k = 1; k < kHandleCount; ++k) {
        const int next = forward ? (start + k) % kHandleCount : (start - k + kHandleCount) % kHandleCount;
        if (isCyclicOrder() && !handlesOverlap(previous, next))
            return;
        handles[next] = previousPosition;
        if (forward && previous == 3 && next == 0)
            handles[next] += onePixel;
        else if (!forward && previous == 0 && next == 3)
            handles[next] -= onePixel;
        for (int step = 0; step < kMaxSeparationSteps; ++step) {
            stepHandle(next, forward);
            if (!handlesOverlap(previous, next)) {
                previousPosition = handles[next];
                previous = next;
                break;
            }
        }
    }
}

void FourHandleSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    const int w = width();
    const int grooveTop = h / 2 - 2;

    // The hue circle along the groove, red in the middle as the positions have it.
    QLinearGradient hues(0, 0, std::max(1, w), 0);
    for (int step = 0; step <= 12; ++step) {
        const double at = step / 12.0;
        hues.setColorAt(at, QColor::fromHsv((int(at * kTurn) + 180) % kTurn, 200, 220));
    }
    painter.fillRect(QRect(0, grooveTop, w, 4), hues);

    // The full-strength range as a band, the feathers as thinner bands; both may wrap.
    const auto drawBand = [&](int from, int to, int top, int bandHeight, const QColor& colour) {
        const int x0 = pixelOfPosition(handles[from]);
        const int x1 = pixelOfPosition(handles[to]);
        if (x0 <= x1) {
            painter.fillRect(QRect(x0, top, x1 - x0, bandHeight), colour);
        } else {
            painter.fillRect(QRect(x0, top, w - x0, bandHeight), colour);
            painter.fillRect(QRect(0, top, x1, bandHeight), colour);
        }
    };
    const QColor feather = isEnabled() ? QColor(198, 198, 199, 110) : QColor(120, 120, 120, 80);
    const QColor range = isEnabled() ? QColor(198, 198, 199, 200) : QColor(120, 120, 120, 140);
    drawBand(0, 1, grooveTop - 3, 10, feather);
    drawBand(2, 3, grooveTop - 3, 10, feather);
    drawBand(1, 2, grooveTop - 5, 14, range);

    const QColor markerColour = isEnabled() ? QColor(0xC6, 0xC6, 0xC7) : QColor(110, 110, 110);
    for (int i = 0; i < kHandleCount; ++i) {
        const QRect marker = markerRect(i);
        const QRect copy = wrappedCopy(marker, w);
        for (const QRect& r : {marker, copy}) {
            if (r.isEmpty())
                continue;
            painter.setPen(QColor(0x25, 0x27, 0x30));
            painter.setBrush(markerColour);
            painter.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
        }
    }
}

void FourHandleSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragHandle = -1;
    // The inner markers are tested first: they sit on top of the outer ones when close.
    for (int handle : {1, 2, 0, 3}) {
        const QRect marker = markerRect(handle);
        if (marker.contains(event->pos()) || wrappedCopy(marker, width()).contains(event->pos())) {
            dragHandle = handle;
            break;
        }
    }
    if (dragHandle < 0) {
        // Between the range's markers the whole range moves.
        const int x0 = pixelOfPosition(handles[1]);
        const int x1 = pixelOfPosition(handles[2]);
        const int x = event->pos().x();
        if (x0 <= x1 ? (x > x0 && x < x1) : (x > x0 || x < x1))
            dragHandle = kRangeDrag;
    }
    dragLastPosition = positionOfPixel(event->pos().x());
    event->accept();
}

void FourHandleSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (dragHandle < 0) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const int position = positionOfPixel(std::clamp(event->pos().x(), 0, std::max(0, width() - 1)));
    const int shift = position - dragLastPosition;
    if (shift == 0)
        return;
    if (dragHandle == kRangeDrag) {
        shiftHandles(shift);
    } else {
        const int saved = handles[dragHandle];
        handles[dragHandle] = wrapIntoRange(saved + shift);
        // A handle stops at its neighbours: it may not pass them or cover their markers.
        const int before = (dragHandle + kHandleCount - 1) % kHandleCount;
        const int after = (dragHandle + 1) % kHandleCount;
        if (!isCyclicOrder() || handlesOverlap(dragHandle, before) || handlesOverlap(dragHandle, after)) {
            handles[dragHandle] = saved;
            return;
        }
    }
    dragLastPosition = position;
    update();
    emit changed(true);
}

void FourHandleSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragHandle < 0) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragHandle = -1;
    event->accept();
}
