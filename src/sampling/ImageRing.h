// A few reusable images for results handed to other threads: a slot is written again only once every
// receiver has let go of it, so steady streams of results cost no allocation.
#pragma once

#include <QImage>
#include <atomic>
#include <vector>

namespace velaro {

class ImageRing {
public:
    explicit ImageRing(int slotCount = 3) : slots_(static_cast<std::size_t>(slotCount)) {}

    // An image of the given size and format that no one else holds, ready to be written through bits().
    // Hand out copies of it (they share the pixels); the slot is reused once those copies are gone.
    QImage& acquire(int width, int height, QImage::Format format) {
        const std::size_t n = slots_.size();
        for (std::size_t k = 0; k < n; ++k) {
            QImage& slot = slots_[(next_ + k) % n];
            if (!slot.isNull() && slot.isDetached() && slot.width() == width && slot.height() == height &&
                slot.format() == format) {
                return take((next_ + k) % n);
            }
        }
        // Nothing free of that shape: replace a slot nobody holds if there is one, else the oldest one
        // (its holders keep their copy alive).
        std::size_t pick = next_;
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t i = (next_ + k) % n;
            if (slots_[i].isNull() || slots_[i].isDetached()) {
                pick = i;
                break;
            }
        }
        slots_[pick] = QImage(width, height, format);
        return take(pick);
    }

private:
    QImage& take(std::size_t index) {
        // The last receiver released its copy on another thread; see its reads before writing over them.
        std::atomic_thread_fence(std::memory_order_acquire);
        next_ = (index + 1) % slots_.size();
        return slots_[index];
    }

    std::vector<QImage> slots_;
    std::size_t next_ = 0;
};

}  // namespace velaro
