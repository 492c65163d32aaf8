// A bare MIT-SHM grab of one rectangle of the root into a segment of its own, over a capture session's
// connection: the physical limit the benchmarks hold the capture against.
#pragma once

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/X11CaptureSession.h"

namespace velaro::bench {

class BareShmGrab {
public:
    BareShmGrab(x11capture::Session& session, const x11capture::PixelRect& area)
        : BareShmGrab(session.connection(), session.root(), area) {}
    // Over a connection of its own, as a program that only grabs has.
    BareShmGrab(xcb_connection_t* c, xcb_window_t root, const x11capture::PixelRect& area)
        : c_(c),
          root_(root),
          area_(area),
          bytes_(static_cast<std::size_t>(area.width) * area.height * 4) {
        const int id = shmget(IPC_PRIVATE, bytes_, IPC_CREAT | 0600);
        addr_ = shmat(id, nullptr, 0);
        seg_ = xcb_generate_id(c_);
        std::free(xcb_request_check(c_, xcb_shm_attach_checked(c_, seg_, id, 0)));
        shmctl(id, IPC_RMID, nullptr);
    }
    ~BareShmGrab() {
        xcb_shm_detach(c_, seg_);
        xcb_flush(c_);
        shmdt(addr_);
    }
    BareShmGrab(const BareShmGrab&) = delete;
    BareShmGrab& operator=(const BareShmGrab&) = delete;

    bool grab() {
        auto* reply = xcb_shm_get_image_reply(
            c_,
            xcb_shm_get_image(c_, root_, static_cast<std::int16_t>(area_.x),
                              static_cast<std::int16_t>(area_.y), static_cast<std::uint16_t>(area_.width),
                              static_cast<std::uint16_t>(area_.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, seg_,
                              0),
            nullptr);
        const bool ok = reply != nullptr;
        std::free(reply);
        return ok;
    }
    // The pixels of the last grab, until the next one.
    const std::uint8_t* pixels() const { return static_cast<const std::uint8_t*>(addr_); }
    std::size_t bytes() const { return bytes_; }

private:
    xcb_connection_t* c_;
    xcb_window_t root_;
    x11capture::PixelRect area_;
    std::size_t bytes_;
    void* addr_ = nullptr;
    std::uint32_t seg_ = 0;
};

}  // namespace velaro::bench
