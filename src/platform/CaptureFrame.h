// One captured frame of a screen strip, as a capture stream delivers it to its frame analysis.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace velaro {

struct CaptureFrame {
    // Pixels in BGRA byte order (B at the lowest address), premultiplied alpha, rows top to bottom.
    std::shared_ptr<const std::vector<std::uint8_t>> pixels;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;  // at least width * 4
    // False for frames the stream marks as not carrying a complete new image (idle, blank, suspended).
    bool complete = true;
    // Uptime in seconds at which the frame was taken.
    double timestamp = 0;

    const std::uint8_t* row(int y) const {
        return pixels->data() + static_cast<std::size_t>(y) * bytesPerRow;
    }
    bool isValid() const {
        return pixels && width > 0 && height > 0 && bytesPerRow >= width * 4 &&
               pixels->size() >= static_cast<std::size_t>(bytesPerRow) * height;
    }
};

}  // namespace velaro
