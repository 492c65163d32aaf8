// Sparse pictures: laid down by their painted parts alone, they leave exactly what the whole picture would;
// and masked layers, made at the pixel density they are shown at.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <functional>
#include <string>
#include <vector>

#include "overlay/LayerPainting.h"

namespace velaro::test {
namespace {

// A busy, partly translucent background, so that any pixel the pieces skip or blend twice shows.
QImage noise(QSize size, double dpr) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const unsigned h = unsigned(x) * 2654435761u ^ unsigned(y) * 40503u;
            const int a = 64 + int(h % 192);
            image.setPixel(x, y, qPremultiply(qRgba(int(h >> 8) & 255, int(h >> 16) & 255, int(h >> 24), a)));
        }
    return image;
}

QImage picture(QSize size, double dpr, const std::function<void(QPainter&)>& paint) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return image;
}

TEST(SparsePictureTest, DrawsExactlyWhatTheWholePictureDrawsFromAFewPieces) {
    // The band's top edge: a line along the top with quarter circles at both ends.
    const auto topEdge = [](double w, double r) {
        return [w, r](QPainter& p) {
            QPainterPath path;
            path.moveTo(0.5, 0.5 + r);
            path.arcTo(QRectF(0.5, 0.5, 2 * r, 2 * r), 180, -90);
            path.lineTo(w - r - 0.5, 0.5);
            path.arcTo(QRectF(w - 2 * r - 0.5, 0.5, 2 * r, 2 * r), 90, -90);
            p.setPen(QPen(QColor(255, 255, 255, 45), 1));
            p.drawPath(path);
        };
    };
    struct Case {
        std::string name;
        QSize pixels;
        double dpr;
        std::function<void(QPainter&)> paint;
        double opacity;
        double mostPainted;  // share of the picture's pixels the pieces may cover at most
    };
    const std::vector<Case> cases = {
        {"curved top edge", {600, 22}, 1, topEdge(600, 20), 1, 0.25},
        {"curved top edge, translucent", {600, 22}, 1, topEdge(600, 20), 0.45, 0.25},
        {"curved top edge at twice the density", {1200, 43}, 2, topEdge(600, 20), 1, 0.25},
        {"straight line", {300, 2}, 1, topEdge(300, 0), 1, 0.51},
        {"one dot off the column grid",
         {70, 9},
         1,
         [](QPainter& p) { p.fillRect(QRectF(33.3, 4.2, 1, 1), QColor(0, 128, 255, 200)); },
         1,
         0.06},
        {"nothing painted", {64, 8}, 1, [](QPainter&) {}, 1, 0},
        {"painted all over",
         {40, 6},
         1,
         [](QPainter& p) { p.fillRect(QRect(0, 0, 40, 6), Qt::red); },
         0.7,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage whole = picture(c.pixels, c.dpr, c.paint);
        const SparsePicture sparse = sparsePicture(whole);
        const QSize field(c.pixels.width() + 6, c.pixels.height() + 4);
        // Placed off the origin, as a view inside a window is.
        const QPointF origin(2 / c.dpr, 2 / c.dpr);
        QImage expected = noise(field, c.dpr), actual = expected;
        {
            QPainter p(&expected);
            p.setOpacity(c.opacity);
            p.drawImage(origin, whole);
        }
        {
            QPainter p(&actual);
            p.setOpacity(c.opacity);
            drawSparsePicture(p, origin, sparse);
        }
        EXPECT_EQ(actual, expected);
        long covered = 0;
        for (const QRect& r : sparse.painted) covered += long(r.width()) * r.height();
        EXPECT_LE(double(covered), c.mostPainted * c.pixels.width() * c.pixels.height());
    }
}

TEST(LayerTest, ALayerHasThePixelsOfWhatItCoversAtRatiosOneAndTwoAlsoInsideAnotherLayer) {
    // A 100 x 20-point view: the pill clip's layer inside the reveal's, as the unified band paints them.
    const Size size{100, 20};
    const auto nothing = [](QPainter&) {};
    for (const double ratio : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << ratio << " pixels a point");
        QImage target(QSize(int(100 * ratio), int(20 * ratio)), QImage::Format_ARGB32_Premultiplied);
        target.setDevicePixelRatio(ratio);
        target.fill(Qt::transparent);
        QSize outer, inner;
        QPainter p(&target);
        paintInLayer(
            p, size,
            [&](QPainter& q) {
                outer = QSize(q.device()->width(), q.device()->height());
                paintInLayer(
                    q, size, [&](QPainter& r) { inner = QSize(r.device()->width(), r.device()->height()); },
                    nothing);
            },
            nothing);
        EXPECT_EQ(outer, target.size()) << outer.width() << " x " << outer.height() << " pixels";
        EXPECT_EQ(inner, target.size()) << inner.width() << " x " << inner.height() << " pixels";
        // A painter scaled up draws the layer's points larger: its pixels follow.
        p.scale(1.5, 1.5);
        EXPECT_DOUBLE_EQ(layerPixelRatio(p), 1.5 * ratio);
    }
}

}  // namespace
}  // namespace velaro::test
