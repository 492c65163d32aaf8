// The pixels of a translucent overlay window on X11, kept in shared memory segments of our own and put on
// the window over Qt's connection without ever waiting for the server. Qt's backing store waits for a
// round trip before each paint that follows a shared-memory flush; a band repainted every frame cannot
// afford that wait (nor the wake-up it costs).
#pragma once

#include <QImage>
#include <QRegion>
#include <QSize>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/linux/QtOverlayStorePainter.h"

struct xcb_connection_t;
class QWindow;

namespace velaro {

class QtOverlayShmStore final : public OverlayPixelBuffers {
public:
    // Null where it cannot serve the window: not on X11, no MIT-SHM, a window without a 32-bit ARGB visual,
    // or segments the server cannot attach. The window must have its native window already.
    static std::unique_ptr<QtOverlayShmStore> open(QWindow& window);
    ~QtOverlayShmStore() override;
    QtOverlayShmStore(const QtOverlayShmStore&) = delete;
    QtOverlayShmStore& operator=(const QtOverlayShmStore&) = delete;

    // Sizes the buffers to the window's device pixels, `devicePixelRatio` of them a point; false when the
    // server could not attach them (the store is then unusable).
    bool resize(QSize devicePixels, double devicePixelRatio);

    // A buffer the server has finished reading, to paint into; null while both still wait for it (the caller
    // tries again a little later). Its content outside what is painted now is stale: paint every pixel of
    // the region that is then put.
    QImage* beginPaint() override;
    // Puts `devicePixels` of the buffer just painted on the window, then has the server make `copies`, and
    // asks for a reply behind the put, which says the buffer may be painted again.
    void put(const QRegion& devicePixels, const std::vector<OverlayRowCopy>& copies) override;

    int paintingIndex() const override { return painting_; }
    const QImage& image(int index) const override { return buffers_[static_cast<std::size_t>(index)].image; }

private:
    struct Buffer {
        int shmid = -1;
        std::uint32_t segment = 0;
        void* address = nullptr;
        QImage image;
        unsigned fence = 0;  // sequence of the reply that says the server is done with it; 0 = none
    };
    QtOverlayShmStore(xcb_connection_t* connection, std::uint32_t window);
    bool attach(Buffer& buffer, QSize size);
    void release(Buffer& buffer);
    bool idle(Buffer& buffer);
    void copyDown(const std::vector<OverlayRowCopy>& copies);

    xcb_connection_t* conn_;
    std::uint32_t window_;
    std::uint32_t gc_ = 0;
    std::array<Buffer, 2> buffers_;
    int painting_ = -1;  // the buffer handed out by beginPaint
    int next_ = 0;       // the buffer tried first
    QSize size_;
    double dpr_ = 1.0;
};

}  // namespace velaro
