// The visualizer's per-frame computation: fades and crossfades, the bands turned into bar heights and wave
// lobes with automatic gain, and the blocks the renderer draws from. Pure arithmetic over preallocated
// state: nothing here allocates per frame, reads a clock or touches a window.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

#include "base/Color.h"
#include "music/VizRenderer.h"
#include "settings/ValueTypes.h"

namespace velaro {

// The settings the step reads every frame.
struct VizStepSettings {
    double hueSpeed = 20;      // degrees a second, bars
    double waveHueSpeed = 12;  // degrees a second, waves and palette flow
    int waveCount = 4;
    int wavePeaks = 20;
    double waveEdgeSoftness = 0;  // points
    double waveOpacity = 0.8;
    double waveSpectrum = 0.5;
    double opacity = 1;
    double bloomIntensity = 2;
    double trailLength = 0.1;
};

// A palette string as a stop: spaces and tabs trimmed at both ends, one leading "#" dropped, then exactly six
// hexadecimal digits; anything else is white.
VizFloat4 vizPaletteStop(const std::string& text);

class VizFrameStep {
public:
    VizFrameStep();

    // Lays `barCount` bars out across `widthPoints`: thickness and gap are clamped to 1...8 and 1...12 (a
    // number that is not finite takes the default), the count is the width over the pitch, at least 8 and at
    // most `maxBars` (the width in device pixels), and the leftover is split evenly on both sides. Bands
    // spread over the bars from bass at the left. No bars on a window without width.
    const std::vector<VizBarSlot>& layoutBars(double widthPoints, double thickness, double gap, int maxBars);
    int barCount() const { return static_cast<int>(slots_.size()); }

    // What the controller's tick decides, read by the next frames. A change puts an end to a rest: the
    // next step draws the crossfade it starts.
    void setStyle(bool waves);
    // A rebuild shows the current style at once, without a crossfade.
    void showStyleNow(bool waves);
    void setColorMode(VizBarsColorMode mode) { wakeOnChange(colorMode_, mode); }
    void setWaveColorMode(VizWaveColorMode mode) { wakeOnChange(waveColorMode_, mode); }
    // The bars' and the waves' picked or artwork colours.
    void setSolidColor(const Color& color);
    void setWaveSolidColor(const Color& color);
    // Parses the palette when it differs from the one parsed last; at most the first 10 strings count.
    void setPalette(const std::vector<std::string>& palette);
    void setBarsAreDark(bool dark) { wakeOnChange(barsAreDark_, dark); }
    void setTrailActive(bool on) { wakeOnChange(trailActive_, on); }
    void setBloomActive(bool on) { wakeOnChange(bloomActive_, on); }
    void setBackingScale(double scale);

    // One frame of `dt` seconds over the newest bands, at the fade `alpha`, for a drawable of the given size
    // in device pixels: advances every fade and crossfade and, when the bands hold exactly 64 values and the
    // bars are laid out, fills frame(). Returns whether there is a frame to draw.
    bool step(double dt, std::span<const float> bands, const VizStepSettings& settings, double alpha,
              double drawableWidth, double drawableHeight);
    // The last frame filled; its arrays belong to this object.
    const VizFrame& frame() const { return frame_; }
    // Whether another step over the same bands would draw what the last one drew: no bar moved by a
    // hundredth of a pixel, no wave shows (they drift forever), the colours, glow and fade of bars that show
    // stood still, and any trail has had the time to fade out.
    bool atRest() const { return !moving_ && stillFor_ >= restAfter_; }

private:
    template <class T>
    void wakeOnChange(T& field, const T& value) {
        if (field == value) return;
        field = value;
        moving_ = true;
    }
    void stepColours(double dt, const VizStepSettings& settings);
    void stepWaves(double dt, int waveCount, int peaks, float coverage);
    void writeUniforms(const VizStepSettings& settings, double alpha, double width, double height,
                       int waveCount, float coverage);

    struct Interp {
        int k = 0;
        float f = 0;
    };

    // Layout and bars.
    std::vector<VizBarSlot> slots_;
    std::vector<Interp> interp_;
    std::vector<float> smoothed_;
    std::vector<float> heights_;
    std::array<float, kVizBandCount> bands_{};  // this frame's bands, non-finite values as 0

    // Gain.
    float agcPeak_ = 1e-5f;
    float energySmoothed_ = 0;

    // Colours and crossfades.
    bool barsAreDark_ = false;
    float colorMix_ = 0;
    VizBarsColorMode colorMode_ = VizBarsColorMode::mono;
    float modeMix_ = 0;
    float huePhase_ = 0;
    float chromaticSpan_ = 300, chromaticSat_ = 0.9f, chromaticVal_ = 1, chromaticSolidMix_ = 0;
    float solidHue_ = 0, solidSat_ = 1, solidVal_ = 1;
    bool trailActive_ = true, bloomActive_ = true;
    bool wavesStyle_ = false;
    float styleMix_ = 0;

    // Waves.
    std::array<float, VIZ_MAX_WAVES> waveTheta_{}, wavePhi_{}, waveSpeedMult_{}, waveEnergy_{},
        waveValueMult_{};
    float waveHueMix_ = 0;
    VizWaveColorMode waveColorMode_ = VizWaveColorMode::mono;
    float modeMixW_ = 0, huePhaseW_ = 0, chromaticSpanW_ = 300, chromaticSatW_ = 0.9f;
    float solidHueW_ = 0, solidSatW_ = 1;
    float paletteMix_ = 0, palettePhase_ = 0;
    std::array<VizFloat4, kVizPaletteStops> paletteScratch_{};
    std::vector<std::string> paletteHexCache_;
    int paletteCount_ = 8;
    std::array<float, kVizBandCount> waveEnvSmoothed_{};
    float gSlowPeak_ = 0.0001f;
    float loudSmoothed_ = 0;
    float breath_ = 0.25f;  // H: 0.25 silent ... 1 at full loudness
    static constexpr float rippleFreqMean_ = 2.0f;
    float backingScale_ = 2.0f;

    // Motion of the last step.
    bool moving_ = true;
    double stillFor_ = 0;
    double restAfter_ = 0;

    // The blocks handed to the renderer.
    VizUniforms uniforms_{};
    VizWaveParams waves_{};
    VizFrame frame_;
};

}  // namespace velaro
