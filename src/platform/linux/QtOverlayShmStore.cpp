// Two segments, painted in turn: while the server reads one, the other takes the next paint. Each put is
// followed by a request with a reply; once that reply is in, the server has read the put's pixels. The reply
// is looked for without blocking when the buffer is wanted again, a frame or two later. A put of a few
// pixels carries them in the request itself and needs no reply.
#include "platform/linux/QtOverlayShmStore.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/Log.h"

namespace velaro {

namespace {

constexpr const char* kTag = "OVERLAY-WINDOW";
// Puts up to this many bytes go inside their requests: copying them costs less than the reply that says a
// segment is free again, which wakes the toolkit's event thread once a put (a line's end moving on by a
// pixel ten times a second; a live band's first rows, stroke and ears, 60 times a second).
constexpr std::size_t kInlinePutBytes = 64 * 1024;

// Whether the screen's 32-bit visuals store pixels as Qt's premultiplied ARGB32 does.
bool argbVisualMatches(xcb_connection_t* conn) {
    const xcb_setup_t* setup = xcb_get_setup(conn);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem; xcb_format_next(&format))
        if (format.data->depth == 32 && format.data->bits_per_pixel != 32) return false;
    for (auto root = xcb_setup_roots_iterator(setup); root.rem; xcb_screen_next(&root))
        for (auto depth = xcb_screen_allowed_depths_iterator(root.data); depth.rem; xcb_depth_next(&depth)) {
            if (depth.data->depth != 32) continue;
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem; xcb_visualtype_next(&visual))
                if (visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && visual.data->red_mask == 0xff0000 &&
                    visual.data->green_mask == 0xff00 && visual.data->blue_mask == 0xff)
                    return true;
        }
    return false;
}

}  // namespace

std::unique_ptr<QtOverlayShmStore> QtOverlayShmStore::open(QWindow& window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* conn = x11 ? x11->connection() : nullptr;
    if (!conn || !window.handle() || window.format().alphaBufferSize() != 8) return nullptr;
    const auto* shm = xcb_get_extension_data(conn, &xcb_shm_id);
    if (!shm || !shm->present || !argbVisualMatches(conn)) return nullptr;
    return std::unique_ptr<QtOverlayShmStore>(
        new QtOverlayShmStore(conn, static_cast<std::uint32_t>(window.winId())));
}

QtOverlayShmStore::QtOverlayShmStore(xcb_connection_t* connection, std::uint32_t window)
    : conn_(connection), window_(window) {
    gc_ = xcb_generate_id(conn_);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(conn_, gc_, window_, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
}

QtOverlayShmStore::~QtOverlayShmStore() {
    for (auto& buffer : buffers_) release(buffer);
    xcb_free_gc(conn_, gc_);
    xcb_flush(conn_);
}

bool QtOverlayShmStore::resize(QSize devicePixels, double devicePixelRatio) {
    dpr_ = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    if (devicePixels == size_) {
        for (auto& buffer : buffers_) buffer.image.setDevicePixelRatio(dpr_);
        return buffers_[0].address != nullptr;
    }
    size_ = devicePixels;
    for (auto& buffer : buffers_) release(buffer);
    if (devicePixels.isEmpty()) return true;
    for (auto& buffer : buffers_)
        if (!attach(buffer, devicePixels)) return false;
    return true;
}

bool QtOverlayShmStore::attach(Buffer& buffer, QSize size) {
    const std::size_t bytes = std::size_t(size.width()) * size.height() * 4;
    buffer.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (buffer.shmid < 0) return false;
    buffer.address = shmat(buffer.shmid, nullptr, 0);
    if (buffer.address == reinterpret_cast<void*>(-1)) {
        buffer.address = nullptr;
        shmctl(buffer.shmid, IPC_RMID, nullptr);
        return false;
    }
    buffer.segment = xcb_generate_id(conn_);
    // Made once per size (at the window's first paint and when it is resized): the only wait for the server.
    auto* error = xcb_request_check(conn_, xcb_shm_attach_checked(conn_, buffer.segment, buffer.shmid, 0));
    // Once both sides hold it, the segment goes when the last of them lets go.
    shmctl(buffer.shmid, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        qCInfo(lcOverlay) << tagged(
            kTag, "the X server could not attach a shared memory segment: painting through Qt");
        shmdt(buffer.address);
        buffer = Buffer{};
        return false;
    }
    buffer.image = QImage(static_cast<uchar*>(buffer.address), size.width(), size.height(), size.width() * 4,
                          QImage::Format_ARGB32_Premultiplied);
    buffer.image.setDevicePixelRatio(dpr_);
    return true;
}

void QtOverlayShmStore::release(Buffer& buffer) {
    if (!buffer.address) return;
    // The server handles requests in order: a put still queued reads the segment before the detach.
    xcb_shm_detach(conn_, buffer.segment);
    if (buffer.fence) xcb_discard_reply(conn_, buffer.fence);
    buffer.image = QImage();
    shmdt(buffer.address);
    buffer = Buffer{};
}

bool QtOverlayShmStore::idle(Buffer& buffer) {
    if (!buffer.fence) return true;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(conn_, buffer.fence, &reply, &error)) return false;
    std::free(reply);
    std::free(error);
    buffer.fence = 0;
    return true;
}

QImage* QtOverlayShmStore::beginPaint() {
    painting_ = -1;
    if (!buffers_[0].address) return nullptr;
    for (int i = 0; i < 2; ++i) {
        const int index = (next_ + i) % 2;
        if (idle(buffers_[index])) {
            painting_ = index;
            return &buffers_[index].image;
        }
    }
    return nullptr;
}

void QtOverlayShmStore::copyDown(const std::vector<OverlayRowCopy>& copies) {
    const QRect bounds(QPoint(), size_);
    for (const OverlayRowCopy& copy : copies) {
        const QRect rows = copy.rows.intersected(bounds);
        if (rows.isEmpty() || copy.sourceY < 0 || copy.sourceY >= size_.height()) continue;
        const auto x = static_cast<std::int16_t>(rows.x());
        const auto width = static_cast<std::uint16_t>(rows.width());
        xcb_copy_area(conn_, window_, window_, gc_, x, static_cast<std::int16_t>(copy.sourceY), x,
                      static_cast<std::int16_t>(rows.y()), width, 1);
        // The rows copied so far are the source of the next copy: n rows take about log2(n) requests.
        for (int done = 1; done < rows.height();) {
            const int more = std::min(done, rows.height() - done);
            xcb_copy_area(conn_, window_, window_, gc_, x, static_cast<std::int16_t>(rows.y()), x,
                          static_cast<std::int16_t>(rows.y() + done), width,
                          static_cast<std::uint16_t>(more));
            done += more;
        }
    }
}

void QtOverlayShmStore::put(const QRegion& devicePixels, const std::vector<OverlayRowCopy>& copies) {
    if (painting_ < 0) return;
    Buffer& buffer = buffers_[painting_];
    const QRect bounds(QPoint(), size_);
    std::size_t bytes = 0;
    for (const QRect& rect : devicePixels) {
        const QRect r = rect.intersected(bounds);
        bytes += std::size_t(r.width()) * std::size_t(r.height()) * 4;
    }
    if (bytes <= kInlinePutBytes) {
        // The server never reads the segment, so it needs no reply. The other buffer still takes the next
        // paint: this one then holds the picture the window shows, for the next one to be compared with.
        std::vector<std::uint32_t> pixels;
        for (const QRect& rect : devicePixels) {
            const QRect r = rect.intersected(bounds);
            if (r.isEmpty()) continue;
            pixels.resize(std::size_t(r.width()) * std::size_t(r.height()));
            for (int y = 0; y < r.height(); ++y)
                std::memcpy(&pixels[std::size_t(y) * std::size_t(r.width())],
                            buffer.image.constScanLine(r.y() + y) + std::size_t(r.x()) * 4,
                            std::size_t(r.width()) * 4);
            xcb_put_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, window_, gc_, r.width(), r.height(), r.x(), r.y(),
                          0, 32, std::uint32_t(pixels.size() * 4),
                          reinterpret_cast<const std::uint8_t*>(pixels.data()));
        }
        copyDown(copies);
        xcb_flush(conn_);
        next_ = (painting_ + 1) % 2;
        painting_ = -1;
        return;
    }
    for (const QRect& rect : devicePixels) {
        const QRect r = rect.intersected(bounds);
        if (r.isEmpty()) continue;
        xcb_shm_put_image(conn_, window_, gc_, size_.width(), size_.height(), r.x(), r.y(), r.width(), r.height(),
                          r.x(), r.y(), 32, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, buffer.segment, 0);
    }
    copyDown(copies);
    buffer.fence = xcb_get_input_focus(conn_).sequence;
    xcb_flush(conn_);
    next_ = (painting_ + 1) % 2;
    painting_ = -1;
}

}  // namespace velaro
