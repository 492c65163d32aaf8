// The tour's fonts and artwork.
#include "onboarding/TourPalette.h"

#include <QFile>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QSvgRenderer>

#include "ui/settings/kit/SettingsStyle.h"

namespace velaro::tour {

QGradientStops groundStops() {
    return {
        {0.0, rgb(0.0667, 0.0275, 0.0)},      {0.0, rgb(0.0706, 0.0314, 0.0)},
        {0.253285, rgb(0.0745, 0.0314, 0.0)}, {0.83149, rgb(0.9882, 0.2706, 0.0039)},
        {1.0, rgb(1.0, 0.2745, 0.0039)},
    };
}

double renderedSize(const FontSpec& spec) {
    return SettingsStyle::readableTextSize(spec.size, 1.0);
}

QFont font(const FontSpec& spec, const QPaintDevice& device) {
    QFont f = QGuiApplication::font();
    f.setStyleStrategy(QFont::PreferAntialias);
    // Point sizes scale with the device's resolution; dividing it out leaves a size in device-independent
    // pixels, which is what the pages are laid out in.
    const int dpi = device.logicalDpiY() > 0 ? device.logicalDpiY() : 96;
    f.setPointSizeF(renderedSize(spec) * 72.0 / dpi);
    f.setWeight(spec.weight);
    if (spec.stretch != 100) f.setStretch(spec.stretch);
    return f;
}

QImage artwork(const QString& name, QSizeF size, qreal scale) {
    const QString path = QStringLiteral(":/tour/%1.svg").arg(name);
    if (!QFile::exists(path)) return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || size.isEmpty() || scale <= 0) return {};
    QImage image((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
    renderer.render(&painter, QRectF(QPointF(0, 0), size));
    return image;
}

void PageArtwork::draw(QPainter& painter, qreal scale) {
    if (scale != scale_) {
        scale_ = scale;
        image_ = artwork(name_, {750, 500}, scale);
    }
    if (!image_.isNull()) painter.drawImage(QRectF(0, 0, 750, 500), image_);
}

}  // namespace velaro::tour
