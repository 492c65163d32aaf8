// Every shortcut the band takes to paint shows what a plain full paint of the same view shows: the captured
// row stretched once and tiled, the pictures of the ears and hairlines, rows painted once and copied down,
// only the rows that changed put, the window's own buffers. The X server's copies are stood in for here by
// copies in memory; the desktop test of the band windows makes them on the server.
#include <gtest/gtest.h>

#include <cstring>

#include "overlay/BandPaintCases.h"
#include "platform/linux/QtOverlayStorePainter.h"
#include "support/FakeOverlayWindowHost.h"

namespace velaro::test {
namespace {

// A window's two buffers and the window's pixels, in memory: a put copies pixels of the buffer painted to
// the window and copies rows of the window down, as the X server does.
class MemoryPixelBuffers final : public OverlayPixelBuffers {
public:
    MemoryPixelBuffers(QSize pixels, double dpr) : window_(pixels, QImage::Format_ARGB32_Premultiplied) {
        // Pixels nobody painted show: green in the buffers, magenta on the window.
        window_.fill(QColor(255, 0, 255));
        for (auto& buffer : buffers_) {
            buffer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
            buffer.setDevicePixelRatio(dpr);
            buffer.fill(QColor(0, 255, 0));
        }
    }
    const QImage& window() const { return window_; }

    QImage* beginPaint() override {
        painting_ = next_;
        return &buffers_[std::size_t(painting_)];
    }
    void put(const QRegion& devicePixels, const std::vector<OverlayRowCopy>& copies) override {
        const QImage& from = buffers_[std::size_t(painting_)];
        for (const QRect& r : devicePixels)
            for (int y = r.top(); y <= r.bottom(); ++y) copyRow(from, y, y, r.x(), r.width());
        for (const auto& copy : copies)
            for (int y = copy.rows.top(); y <= copy.rows.bottom(); ++y)
                copyRow(window_, copy.sourceY, y, copy.rows.x(), copy.rows.width());
        next_ = 1 - painting_;
        painting_ = -1;
    }
    int paintingIndex() const override { return painting_; }
    const QImage& image(int index) const override { return buffers_[std::size_t(index)]; }

private:
    void copyRow(const QImage& from, int fromY, int toY, int x, int width) {
        std::memcpy(window_.scanLine(toY) + x * 4, from.constScanLine(fromY) + x * 4, std::size_t(width) * 4);
    }

    QImage window_;
    std::array<QImage, 2> buffers_;
    int painting_ = -1;
    int next_ = 0;
};

TEST(BandPaintPathsTest, EveryFastPathShowsWhatAPlainFullPaintDoes) {
    for (const bool unified : {false, true}) {
        for (const double dpr : {1.0, 2.0}) {
            VirtualLoop hostLoop;
            FakeOverlayWindowHost host(hostLoop);
            BandPaintRig rig;
            rig.makeBand(host, unified);
            const Size points = rig.window().frame().size;
            const QSize size(int(points.width), int(points.height));
            MemoryPixelBuffers buffers(size * dpr, dpr);
            QtOverlayStorePainter painter;
            for (const auto& c : allBandPaintCases()) {
                // The next frame changes the sampled colours and the captured row, and with them some rows.
                for (const int frame : {0, 1}) {
                    rig.apply(c, frame);
                    ASSERT_TRUE(painter.paint(buffers, rig.window(), size, dpr));
                    const QImage plain = plainPaint(rig.window(), dpr);
                    ASSERT_EQ(plain.size(), buffers.window().size());
                    const auto difference = largestDifference(buffers.window(), plain);
                    EXPECT_LE(difference.worst, 2)
                        << (unified ? "unified, " : "separate, ") << dpr << " pixels a point, " << c.name()
                        << ", frame " << frame << ": device pixel (" << difference.at.x() << ", "
                        << difference.at.y() << ")";
                }
            }
        }
    }
}

}  // namespace
}  // namespace velaro::test
