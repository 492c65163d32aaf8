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
// over the glow, two widened glow rows mixed by `t` and scaled by `gain`; returns non-zero when any byte
// written is. A portable form builds everywhere; on x86-64 processors with AVX2 and FMA a vector form.
struct VizCompositeKernel {
    const char* name;
    std::uint32_t (*row)(const std::uint8_t* scene, const float* g0, const float* g1, float t, float gain,
                         float sceneGain, std::uint8_t* out, std::size_t lanes);
};
// Every form this processor runs, the portable one first and the fastest last.
std::vector<const VizCompositeKernel*> vizCompositeKernels();

class VizRasterRenderer {
public:
    // A drawable of `width` x `height` device pixels (each side at least 1) at `contentsScale` device pixels
    // a point, with the bars where `bars` puts them; the composite runs on `kernel`, the fastest when null.
    VizRasterRenderer(int width, int height, double contentsScale, const std::vector<VizBarSlot>& bars,
                      const VizCompositeKernel* kernel = nullptr);

    // Draws the frame into image(): as the GL renderer does, the direct path without trail and glow, else
    // the trail, the scene over it, the glow under the scene and the bottom fade. Nothing without bars.
    void encode(const VizFrame& frame);
    // The glow's blur radius in points, clamped to 2...24 as the GL renderer's.
    void setBloomSigma(double points);
    double bloomSigma() const { return sigma_; }
    // The trail starts from a clean image on its next frame.
    void setNeedsTrailClear() { needsTrailClear_ = true; }

    // The last frame, with the contents scale as its device pixel ratio.
    const QImage& image() const { return image_; }
    // Rows [0, paintedRows()) of the image may hold something; every row below is transparent.
    int paintedRows() const { return paintedRows_; }
    // The glow works on an image this many times smaller each way (1 for narrow glows).
    int glowDownsample() const { return factor_; }

private:
    void shiftTrail(double dt, double length);
    // Draw over `target` (width_ pixels a row); `rows` grows to cover what they drew.
    void drawBars(std::uint32_t* target, int& rows);
    void drawWaves(std::uint32_t* target, int& rows);
    void blurScene();
    // The image from the scene under the bottom fade, over the glow at `intensity` (0: none).
    void composite(double intensity);
    void noteRows(int& rows, int drawn) const;

    const VizCompositeKernel* kernel_;
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
    int paintedRows_ = 0;
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
