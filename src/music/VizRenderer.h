// What the visualizer's frame step hands the GPU side each frame: the bar layout, the uniform and wave
// blocks in the byte layout the shaders read, and the renderer interface the controller draws through.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace velaro {

// The shader program's loop cap and the stride of the wave-parameter block; the frame step's wave-count
// cap is the same number.
inline constexpr int VIZ_MAX_WAVES = 50;
// The luminance ceiling of automatic colours on a light backdrop (Rec. 709).
inline constexpr float VIZ_ADAPT_TARGET_LUM = 0.62f;
inline constexpr int kVizBandCount = 64;
inline constexpr int kVizPaletteStops = 10;

struct VizFloat4 {
    float x = 0, y = 0, z = 0, w = 0;
    friend bool operator==(const VizFloat4&, const VizFloat4&) = default;
};

// One bar as the instance buffer holds it: left edge and width as fractions of the drawable width, length
// as a fraction of its height measured down from the top edge.
struct VizBarInstance {
    float x = 0;
    float width = 0;
    float height = 0;
    float pad = 0;
};
static_assert(sizeof(VizBarInstance) == 16);

// Where one bar sits; fixed when a renderer is made.
struct VizBarSlot {
    float x = 0;
    float width = 0;
};

// The uniform block, std140: seven vectors, then the palette stops, then the band envelope four to a vector.
// The byte offsets are what the shaders and the writer share; a new field goes after u6 only by moving the
// arrays up.
struct VizUniforms {
    VizFloat4 u0;  // fade alpha, drawable width px, drawable height px, ink mix (0 white .. 1 black)
    VizFloat4 u1;  // bars: mode mix, hue phase deg, hue span deg, saturation
    VizFloat4
        u2;  // style mix (0 bars .. 1 waves), wave edge softness px, wave opacity, edge anti-aliasing base
    VizFloat4 u3;  // waves: mode mix, hue phase deg, hue span deg, saturation
    VizFloat4 u4;  // palette mix, valid palette stops, palette turns across the width, palette flow phase
    VizFloat4 u5;  // live wave count K, hue spread inside a wave deg, peaks coverage, spectrum mix
    VizFloat4 u6;  // bar colour value, bar solid mix, user opacity, 0
    std::array<VizFloat4, kVizPaletteStops> pal;   // sRGB stops in x, y, z
    std::array<VizFloat4, kVizBandCount / 4> env;  // band envelope in device px, bass first
};
static_assert(sizeof(VizUniforms) == 528);
static_assert(offsetof(VizUniforms, u6) == 96);
static_assert(offsetof(VizUniforms, pal) == 112);
static_assert(offsetof(VizUniforms, env) == 272);

// The wave parameters: wp[k] is wave k's moving part (amplitude px, centre, width scale, ripple phase) and
// wp[k + VIZ_MAX_WAVES] its fixed lane (ripple frequency, value multiplier, hue offset, palette offset), so
// that a change of the live count only moves the loop bound.
struct VizWaveParams {
    std::array<VizFloat4, 2 * VIZ_MAX_WAVES> wp;
};
static_assert(sizeof(VizWaveParams) == 1600);

// One frame's values. The arrays belong to the caller and are only read during encodeFrame().
struct VizFrame {
    std::span<const float> heights;  // one per bar, fractions of the drawable height
    const VizUniforms* uniforms = nullptr;
    const VizWaveParams* waves = nullptr;
    bool trail = false;
    double bloomIntensity = 0;
    double trailLength = 0.1;  // seconds for the trail to lose half its opacity
    double dt = 1.0 / 60.0;    // seconds since the previous frame
};

// The frame's uniform block as a renderer may use it: every value finite, the palette-stop and wave counts
// clamped to the blocks' sizes and the stops past the valid count cleared. A corrupt value must never index
// past a block, whatever the caller says. No block counts as all zeros.
VizUniforms vizSanitisedUniforms(const VizUniforms* uniforms);

// The glow's blur radius in device pixels for a radius in points (clamped to 2...24; not a number counts as
// 2).
double vizBloomSigma(double points, double contentsScale);

// A Gaussian's one-sided weights 0...radius (radius 3 sigma, at least 1), normalised so that the whole
// symmetric kernel sums to 1.
std::vector<double> vizGaussianWeights(double sigma);

// The drawing side as the controller sees it: the real ones draw with OpenGL into a GL-surface window or on
// the CPU into a painted one, tests use one that records.
class VizRenderer {
public:
    virtual ~VizRenderer() = default;
    // Encodes and shows one frame; draws nothing when the renderer has no bars.
    virtual void encodeFrame(const VizFrame& frame) = 0;
    // The glow's blur radius in points; until it is set no glow is drawn.
    virtual void setBloomSigma(double points) = 0;
    // The trail starts from a clean image on its next frame.
    virtual void setNeedsTrailClear() = 0;
    // False once the window's GL context was lost or replaced: the controller then builds a new renderer.
    virtual bool isUsable() const = 0;
};

}  // namespace velaro
