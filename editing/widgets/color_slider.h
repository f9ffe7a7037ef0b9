// A SliderWrapper whose groove is a colour gradient and whose handle shows the colour under it.
//
// The gradient runs one component of a colour model from the start colour to the end colour:
// hue (0), saturation (1) or value/lightness (2), in HSV (QColor::Hsv, 2) or HSL (QColor::Hsl, 4).
// Any other model paints no colours.
#pragma once

#include "editing/widgets/slider_wrapper.h"

#include <QColor>

class ColorSlider : public SliderWrapper {
    Q_OBJECT

public:
    enum Component { Hue = 0, Saturation = 1, ValueOrLightness = 2 };

    explicit ColorSlider(QWidget* parent = nullptr);
    ~ColorSlider() override;

    void setGradientColors(const QColor& start, const QColor& end);
    void setGradientSpec(int spec);
    void setGradientComponent(int component);

    QColor gradientStartColor() const { return startColor; }
    QColor gradientEndColor() const { return endColor; }
    int gradientSpecSetting() const { return gradientSpec; }
    int gradientComponentSetting() const { return gradientComponent; }

    // The colour at a position from 0 (left end) to 1 (right end); positions outside are clamped.
    // Invalid unless the model is HSV or HSL. A hue gradient between two equal hues runs once
    // round the whole circle, starting at that hue.
    QColor gradientColorAt(double position) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int gradientSpec = 0;      // QColor::Spec of the gradient: 2 (HSV) or 4 (HSL)
    QColor startColor;         // left end
    QColor endColor;           // right end
    int gradientComponent = 0; // Component that runs along the groove
};
