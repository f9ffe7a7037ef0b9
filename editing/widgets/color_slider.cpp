#include "editing/widgets/color_slider.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace {

struct ModelComponents {
    double hue;        // fraction of the circle; 0 for achromatic colours
    double saturation; // 0..1 in the gradient's model
    double level;      // HSV value or HSL lightness, 0..1
};

ModelComponents componentsOf(const QColor& colour, bool hsl)
{
    const double hue = hsl ? colour.hslHueF() : colour.hsvHueF();
    return {std::max(0.0, hue), hsl ? colour.hslSaturationF() : colour.hsvSaturationF(),
            hsl ? colour.lightnessF() : colour.valueF()};
}

double lerp(double from, double to, double t)
{
    return from + (to - from) * t;
}

} // namespace

ColorSlider::ColorSlider(QWidget* parent) : SliderWrapper(parent) {}

ColorSlider::~ColorSlider() = default;

void ColorSlider::setGradientColors(const QColor& start, const QColor& end)
{
    startColor = start;
    endColor = end;
    update();
}

void ColorSlider::setGradientSpec(int spec)
{
    gradientSpec = spec;
    update();
}

void ColorSlider::setGradientComponent(int component)
{
    gradientComponent = component;
    update();
}

QColor ColorSlider::gradientColorAt(double position) const
{
    const double p = std::clamp(position, 0.0, 1.0);
    if (gradientSpec != QColor::Hsv && gradientSpec != QColor::Hsl)
        return QColor();
    const bool hsl = gradientSpec == QColor::Hsl;
    const ModelComponents start = componentsOf(startColor, hsl);
    const ModelComponents end = componentsOf(endColor, hsl);
    ModelComponents out = start;
    switch (gradientComponent) {
    case Hue: {
        // Always upwards round the circle; equal ends make one full turn.
        const double endHue = start.hue >= end.hue ? end.hue + 1.0 : end.hue;
        out.hue = lerp(start.hue, endHue, p);
        if (out.hue > 1.0)
            out.hue -= 1.0;
        break;
    }
    case Saturation:
        out.saturation = lerp(start.saturation, end.saturation, p);
        break;
    case ValueOrLightness:
        out.level = lerp(start.level, end.level, p);
        break;
    default:
        out = {0.0, 0.0, 0.0};
        break;
    }
    out.hue = std::clamp(out.hue, 0.0, 1.0);
    return hsl ? QColor::fromHslF(out.hue, out.saturation, out.level, 1.0)
               : QColor::fromHsvF(out.hue, out.saturation, out.level, 1.0);
}

void ColorSlider::paintEvent(QPaintEvent*)
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    groove.adjust(handle.width() / 2, 0, -(handle.width() / 2), 0);

    QPainter painter(this);
    if (groove.width() > 0 && groove.height() > 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal ratio = std::max<qreal>(1, std::round(screen ? screen->devicePixelRatio() : 1.0));
        const QSize size = groove.size() * ratio;

        QPixmap gradient(size);
        gradient.fill(Qt::transparent);
        {
            QPainter columns(&gradient);
            const int w = size.width();
            for (int i = 0; i < w; ++i) {
                columns.setPen(gradientColorAt(w > 1 ? double(i) / double(w - 1) : 0.0));
                columns.drawLine(i, 0, i, size.height() - 1);
            }
        }

        QPixmap rounded(size);
        rounded.fill(Qt::transparent);
        {
            QPainter clip(&rounded);
            clip.setRenderHint(QPainter::Antialiasing);
            QPainterPath path;
            const qreal radius = size.height() / 2.0;
            path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
            clip.setClipPath(path);
            clip.drawPixmap(0, 0, gradient);
        }
        rounded.setDevicePixelRatio(ratio);

        painter.setRenderHint(QPainter::Antialiasing);
        painter.drawPixmap(groove.topLeft(), rounded);
    }

    if (!isEnabled())
        return;
    const int span = maximum() - minimum();
    const double position = span != 0 ? double(value() - minimum()) / double(span) : 0.0;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradientColorAt(position));
    const qreal radius = handle.width() / 2.0 - 1.0;
    painter.drawEllipse(QRectF(handle).center(), radius, radius);

    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
