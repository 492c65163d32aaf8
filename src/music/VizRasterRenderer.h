// The visualizer's look drawn on the CPU, for displays whose OpenGL is itself a CPU rasteriser (or missing):
// the bars, waves, falling trail and glow of the GL passes, into a premultiplied ARGB image that a painted
// window shows. Five full-surface passes through a software GL cost ten times what this does: here the glow
// is blurred at a reduced resolution (it is wide and smooth, so nothing of it shows the difference), the
// trail falls in place, and only rows that can hold something are worked on. Every buffer is made when the
// renderer is: a frame allocates nothing.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "music/VizRenderer.h"

namespace velaro {

// The composite's row loop: a row of premultiplied bytes from a scene row (null: none) at `sceneGain` a byte
// over the glow, two widened glow rows mixed by `t` and scaled by `gain`. A portable form builds everywhere;
// on x86-64 processors with AVX2 and FMA a vector form, and with AVX-512 too a wider one.
struct VizCompositeKernel {
    const char* name;
    void (*row)(const std::uint8_t* scene, const float* g0, const float* g1, float t, float gain,
                float sceneGain, std::uint8_t* out, std::size_t lanes);
};
// Every form this processor runs, the portable one first and the fastest last.
std::vector<const VizCompositeKernel*> vizCompositeKernels();

// How the renderer works: with its shortcuts, or plainly, every pixel of a bar blended over what lies under
// it and the glow widened a channel at a time. Both draw the same bytes; the plain way is what the shortcuts
// are checked against.
enum class VizRasterPath { fast, plain };

class VizRasterRenderer {
public:
    // A drawable of `width` x `height` device pixels (each side at least 1) at `contentsScale` device pixels
    // a point, with the bars where `bars` puts them; the composite runs on `kernel`, the fastest when null.
    VizRasterRenderer(int width, int height, double contentsScale, const std::vector<VizBarSlot>& bars,
                      const VizCompositeKernel* kernel = nullptr, VizRasterPath path = VizRasterPath::fast);

    // Draws the frame into image(): prepare(), then composeImage().
    void encode(const VizFrame& frame);
    // Draws the frame's layers as the GL renderer does: the direct path without trail and glow, else the
    // trail, the scene over it and the glow. Nothing without bars. The composite is left to compose().
    void prepare(const VizFrame& frame);
    // The prepared frame as the window shows it: the scene, under the bottom fade over the glow unless on
    // the direct path, into rows [0, rows) of premultiplied ARGB32 pixels `stride` bytes a row, as wide as
    // the drawable; every byte of those rows is written, the same every time until the next prepare().
    void compose(std::uint8_t* pixels, std::size_t stride, int rows) const;
    // The prepared frame composed into image().
    const QImage& composeImage();
    // The glow's blur radius in points, clamped to 2...24 as the GL renderer's.
    void setBloomSigma(double points);
    // The trail starts from a clean image on its next frame.
    void setNeedsTrailClear() { needsTrailClear_ = true; }

    // The last frame composed, with the contents scale as its device pixel ratio.
    const QImage& image() const { return image_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Rows [0, paintedRows()) of the prepared frame may hold something; every row below is transparent.
    int paintedRows() const { return paintedRows_; }

private:
    void shiftTrail(double dt, double length);
    // Draw over `target` (width_ pixels a row); `rows` grows to cover what they drew.
    void drawBars(std::uint32_t* target, int& rows);
    void drawWaves(std::uint32_t* target, int& rows);
    void blurScene();
    // Where the glow lies in a row of the image: between two widened rows, at what gain, and whether it
    // shows at all.
    struct GlowRow {
        int first = 0, second = 0;
        float t = 0, gain = 0;
        bool visible = false;
    };
    GlowRow glowRowAt(int y) const;
    void noteRows(int& rows, int drawn) const;

    const VizCompositeKernel* kernel_;
    bool plain_ = false;
    int width_ = 1, height_ = 1;
    double scale_ = 1;
    std::vector<VizBarSlot> bars_;
    std::vector<float> heights_;
    VizUniforms u_{};
    VizWaveParams waves_{};
    int liveWaves_ = 0;

    // The trail and the scene drawn over it; rows from sceneRows_ down are transparent.
    std::vector<std::uint32_t> scene_;
    int sceneRows_ = 0;
    bool needsTrailClear_ = true;
    bool lastTrailEnabled_ = true;
    QImage image_;
    int imageRows_ = 0;  // rows of image_ that may hold something
    int paintedRows_ = 0;
    // How the prepared frame is composed: the scene alone, or faded over the glow at this intensity.
    bool direct_ = true;
    float glowIntensity_ = 0;
    std::vector<float> fade_;  // the bottom fade of each row

    // The glow: the scene boxed down by factor_, blurred there with one side's Gaussian weights, then
    // widened back row by row (glowRows_) and blended in.
    double sigma_ = 0;
    int factor_ = 1;
    int lowWidth_ = 1, lowHeight_ = 1;
    std::vector<float> weights_;
    std::vector<float> low_, lowScratch_, padded_;
    std::vector<std::uint16_t> blockSum_;  // one block's rows summed, a byte lane each
    std::vector<float> glowRows_;
    std::vector<float> lowPeak_;  // the brightest value of each low row
    std::vector<int> column0_, column1_;
    std::vector<float> columnWeight_;

    // Each wave's lobe and colour at each column, for the live waves, a wave's columns together; the same
    // with the edge's width and factor, a column's waves together; the centre of each column (0...1), the
    // envelope there, and one wave's distance from its lobe's centre.
    std::vector<float> waveTop_, waveRed_, waveGreen_, waveBlue_;
    struct WaveCell {
        float top, edge, cover, red, green, blue;
    };
    std::vector<WaveCell> waveCells_;
    std::vector<float> columnCentre_, spectrum_, waveDx_;
    // One column's rows: the colour sum and clear product of the waves whose full run ends there, and of
    // the edges that cross them (red, green, blue, clear).
    std::vector<float> fullJoin_, edgeRows_;
};

}  // namespace velaro
