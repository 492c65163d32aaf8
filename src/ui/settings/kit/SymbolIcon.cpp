// Symbol glyphs rendered from the app's SVGs and recoloured.
#include "ui/settings/kit/SymbolIcon.h"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <cmath>

namespace velaro {
namespace {

QString resourcePath(std::string_view symbol) {
    return QStringLiteral(":/velaro/symbols/") + QString::fromUtf8(symbol.data(), qsizetype(symbol.size())) +
           QStringLiteral(".svg");
}

// The glyph as a mask in `colour`: rendered black, then every covered pixel takes the colour. Kept in Qt's
// pixmap cache, so a sidebar repaint reads no SVG.
QPixmap renderTinted(std::string_view symbol, QSize pixels, const QColor& colour) {
    if (pixels.isEmpty() || !hasSymbol(symbol)) return {};
    const QString key = QStringLiteral("velaro-symbol:%1:%2x%3:%4")
                            .arg(resourcePath(symbol))
                            .arg(pixels.width())
                            .arg(pixels.height())
                            .arg(colour.rgba(), 8, 16);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QSvgRenderer renderer(resourcePath(symbol));
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        renderer.render(&p, QRectF(QPointF(0, 0), QSizeF(pixels)));
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), colour);
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

// Draws the glyph at whatever size the icon is asked for, in one colour per mode.
class SymbolEngine final : public QIconEngine {
public:
    SymbolEngine(std::string symbol, QColor colour) : symbol_(std::move(symbol)), colour_(colour) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        paintSymbol(*painter, rect, symbol_, colourFor(mode));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return renderTinted(symbol_, size, colourFor(mode));
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = renderTinted(symbol_, size * scale, colourFor(mode));
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SymbolEngine(symbol_, colour_); }
    QString key() const override { return QStringLiteral("velaro-symbol"); }

private:
    QColor colourFor(QIcon::Mode mode) const {
        if (mode != QIcon::Disabled) return colour_;
        QColor dim = colour_;
        dim.setAlphaF(dim.alphaF() * 0.4f);
        return dim;
    }

    std::string symbol_;
    QColor colour_;
};

}  // namespace

bool hasSymbol(std::string_view symbol) {
    return !symbol.empty() && QFile::exists(resourcePath(symbol));
}

QIcon symbolIcon(std::string_view symbol) {
    return symbolIcon(symbol, Qt::black);
}

QIcon symbolIcon(std::string_view symbol, const QColor& colour) {
    if (!hasSymbol(symbol)) return {};
    return QIcon(new SymbolEngine(std::string(symbol), colour));
}

QPixmap symbolPixmap(std::string_view symbol, int size, const QColor& colour, qreal devicePixelRatio) {
    const int pixels = int(std::ceil(size * devicePixelRatio));
    QPixmap pixmap = renderTinted(symbol, QSize(pixels, pixels), colour);
    if (!pixmap.isNull()) pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

void paintSymbol(QPainter& painter, const QRectF& rect, std::string_view symbol, const QColor& colour) {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize pixels(int(std::ceil(rect.width() * ratio)), int(std::ceil(rect.height() * ratio)));
    const QPixmap pixmap = renderTinted(symbol, pixels, colour);
    if (pixmap.isNull()) return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect, pixmap, QRectF(pixmap.rect()));
    painter.restore();
}

}  // namespace velaro
