// Blurred backdrops of the bar and its two top corners, made from the top rows of captured frames with a
// separable Gaussian of our own: only on every second frame, and only when those rows have changed since
// the last backdrop that was handed out.
#pragma once

#include <QImage>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "platform/CaptureFrame.h"
#include "sampling/ImageRing.h"

namespace velaro {

// What the stream wants blurred, in pixels of the captured frame, and the point sizes of the three images.
struct UnifiedBlur {
    int overlayHeightPixels = 0;
    int leftRadiusPixels = 0;
    int rightRadiusPixels = 0;
    Size overlayPointSize;
    Size leftPointSize;
    Size rightPointSize;
    friend bool operator==(const UnifiedBlur&, const UnifiedBlur&) = default;
};

// A rendered backdrop and the size in points at which it is drawn.
struct BackdropImage {
    QImage image;  // Format_RGB32
    Size pointSize;
};

// A separable Gaussian blur over BGRA pixels with edges clamped (edge pixels repeat outward). Working
// buffers are kept between calls, so blurring frames of one size allocates nothing after the first.
class GaussianBlur {
public:
    // Blurs `rows` rows of `width` BGRA pixels. With `halfSize` the pixels are first averaged 2 × 2, giving
    // ceil(width / 2) × ceil(rows / 2) pixels. `sigma` is the standard deviation in pixels of that (possibly
    // halved) image. Returns false for an empty input. The result is read with result()/resultWidth()/…
    bool run(const std::uint8_t* pixels, int width, int rows, int bytesPerRow, bool halfSize, double sigma);

    // BGRA bytes, 4 × resultWidth() a row, alpha 255.
    const std::uint8_t* result() const { return out_.data(); }
    int resultWidth() const { return width_; }
    int resultHeight() const { return height_; }

private:
    void makeKernel(double sigma);
    int width_ = 0;
    int height_ = 0;
    double kernelSigma_ = -1;
    std::vector<float> kernel_;   // weights 0…k, symmetric
    std::vector<float> plane_;    // the input as floats: blue, green, red of each pixel
    std::vector<float> padded_;   // one row with k clamped pixels at each end
    std::vector<float> rowsOut_;  // after the horizontal pass
    std::vector<float> acc_;      // one row of the vertical pass
    std::vector<std::uint8_t> out_;
};

class BlurredBackdrop {
public:
    using BackdropSink = std::function<void(const BackdropImage& bar)>;
    using CornerSink = std::function<void(const std::optional<BackdropImage>& left,
                                          const std::optional<BackdropImage>& right)>;

    // Radius in pixels of the captured frame; a changed radius drops the baseline.
    void setRadius(double radius);
    double radius() const { return radius_; }

    // The stream stopped: drop the baseline and store none until invalidate() (each even frame publishes).
    void holdCommit();
    // Drop the baseline and end a hold, so the next even frame blurs and publishes again.
    void invalidate();

    // The blur step of one frame (whose pixels are valid). Calls `onBackdrop` and `onCorners` when a
    // backdrop is made.
    void step(const CaptureFrame& frame, const UnifiedBlur& blur, const BackdropSink& onBackdrop,
              const CornerSink& onCorners);

    // Whether the last step skipped its frame (only every second frame is blurred): the next one blurs.
    bool owesStep() const { return frameCounter_ % 2 != 0; }

    // Rows of the frame the blur works on: the bar plus the larger corner radius, at most the frame's height.
    static int regionRows(const CaptureFrame& frame, const UnifiedBlur& blur);

private:
    bool regionMatchesBaseline(const CaptureFrame& frame, int rows) const;
    bool publish(const CaptureFrame& frame, const UnifiedBlur& blur, int rows, const BackdropSink& onBackdrop,
                 const CornerSink& onCorners);
    void commitBaseline(const CaptureFrame& frame, int rows);
    void dropBaseline();
    // Copies a rectangle of the blur result into a reusable image.
    BackdropImage cropResult(ImageRing& ring, int x, int y, int w, int h, Size pointSize);

    double radius_ = 12.0;
    int frameCounter_ = 0;
    bool hasBaseline_ = false;
    std::vector<std::uint8_t> baseline_;
    int baselineWidth_ = 0;
    int baselineHeight_ = 0;
    bool commitHeld_ = false;
    GaussianBlur blur_;
    ImageRing barImages_;
    ImageRing leftImages_;
    ImageRing rightImages_;
};

}  // namespace velaro
