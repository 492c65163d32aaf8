// Wallpaper pictures the test hands out: every request waits until the test answers it, in any order; the
// test tells of new wallpapers.
#pragma once

#include <QImage>
#include <cstddef>
#include <optional>
#include <vector>

#include "sampling/WallpaperSnapshot.h"

namespace velaro::test {

class FakeWallpaperSnapshot final : public WallpaperPictureSource {
public:
    struct Request {
        double maxPixelSize;
        bool nativeScale;
        ImageHandler handler;
    };

    void captureWallpaperImage(double maxPixelSize, bool nativeScale, ImageHandler handler) override {
        requests.push_back({maxPixelSize, nativeScale, std::move(handler)});
    }
    // Answers the request made `index`-th (from 0) with `picture`; each request is answered once.
    void answer(std::size_t index, std::optional<QImage> picture) {
        auto handler = std::exchange(requests.at(index).handler, nullptr);
        if (handler) handler(std::move(picture));
    }
    // Answers the latest request.
    void answerLast(std::optional<QImage> picture) { answer(requests.size() - 1, std::move(picture)); }

    Stream<int> wallpaperChanged() const override { return changes_.stream(); }
    // The session names another wallpaper.
    void sendChange() { changes_.send(0); }

    std::vector<Request> requests;

private:
    PassthroughSubject<int> changes_;
};

// A picture of one colour, as the snapshot gives them (premultiplied 32-bit pixels).
inline QImage solidPicture(QColor colour, int width = 920, int height = 575) {
    QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
    picture.fill(colour);
    return picture;
}

}  // namespace velaro::test
