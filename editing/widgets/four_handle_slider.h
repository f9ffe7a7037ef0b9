// A horizontal slider that shows one hue range of the selective-colour editor as four handles on a
// hue circle that wraps round at the slider's ends:
//   handle 0  where the feathered lower edge begins      (featherStart)
//   handle 1  where the full-strength range begins       (rangeStart)
//   handle 2  where the full-strength range ends         (rangeEnd)
//   handle 3  where the feathered upper edge ends        (featherEnd)
//
// Positions are slider units over one turn (360 units, 0..360 unless the owner sets another turn).
// A hue h is kept as (h + 180) mod 360, so the slider's middle stands for red. The handles are
// kept apart and in cyclic order: whenever they are set, the ones after the changed handle are
// pushed on until their markers no longer overlap.
//
// The user drags one handle, or the range between handles 1 and 2 as a whole; such changes are
// announced as changed(true), the operations of the class announce changed(false).
#pragma once

#include <QRect>
#include <QSlider>

#include <array>

class FourHandleSlider : public QSlider {
    Q_OBJECT

public:
    static constexpr int kHandleCount = 4;

    explicit FourHandleSlider(QWidget* parent = nullptr);
    ~FourHandleSlider() override;

    int featherStartHue() const { return hueOfHandle(0); }
    int rangeStartHue() const { return hueOfHandle(1); }
    int rangeEndHue() const { return hueOfHandle(2); }
    int featherEndHue() const { return hueOfHandle(3); }
    int hueOfHandle(int handle) const;
    int handlePosition(int handle) const { return handles[handle]; }

    // Stores four hues (0..360 each; any other value leaves everything unchanged and silent),
    // separates the handles from handle 0 onwards, repaints and emits changed(false).
    void setHandleHues(int featherStart, int rangeStart, int rangeEnd, int featherEnd);

    // The midpoint of handles 1 and 2 going up the circle.
    int centreHue() const;
    // Moves every handle by hue - centreHue(); nothing for a hue outside 0..360 or the current centre.
    void moveCentreTo(int hue);

    // The midpoint going up the circle from hue a to hue b (350, 10 gives 0; 10, 350 gives 180).
    static int midHue(int a, int b);

    // The marker of a handle in widget pixels: 9 pixels wide for the outer handles (standing
    // outside their positions), 5 pixels centred for the inner ones; full height.
    QRect markerRect(int handle) const;
    // Whether the markers of two handles overlap by more than 1 pixel, across the wrap included.
    bool handlesOverlap(int first, int second) const;
    // Whether the handles, sorted by position, run 0, 1, 2, 3 round the circle from any start.
    bool isCyclicOrder() const;

signals:
    void changed(bool byMouseEvent = false);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int wrapIntoRange(int position) const;
    int positionOfHue(int hue) const;
    int pixelOfPosition(int position) const;
    int positionOfPixel(int x) const;
    // Moves the handles after `start` (forward: start + 1, …; backward: start - 1, …) on, one unit
    // at a time, until each no longer overlaps the one before it; stops as soon as the handles are
    // in cyclic order and the next one is clear.
    void resolveOverlaps(int start, bool forward);
    void stepHandle(int handle, bool forward);
    // Adds `shift` units to every handle, each wrapped into range.
    void shiftHandles(int shift);

    std::array<int, kHandleCount> handles{}; // positions in slider units
    int dragHandle = -1;                      // the handle being dragged, kRangeDrag, or -1
    int dragLastPosition = 0;                 // slider position of the pointer at the last drag step
};
