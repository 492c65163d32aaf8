// The visualizer's frame step: crossfades, gain, bars, waves, glow and the uniform blocks.
#include "music/VizFrameStep.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velaro {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr float kWaveDepthPoints = 48;
constexpr float kBarReach = 0.4f;  // of the window's height
// A change of the glow's intensity this small moves no pixel by half a step of 8-bit colour (its light is at
// most 1).
constexpr double kUnseenGlowChange = 0.5 / 255;

// A linear crossfade: at most 4 x dt toward the target, never past it.
void stepToward(float& value, float target, double dt) {
    const float most = static_cast<float>(4 * dt);
    value = value < target ? std::min(value + most, target) : std::max(value - most, target);
}

void easeToward(float& value, float target, double factor) {
    value += static_cast<float>(factor) * (target - value);
}

// Eases a phase in degrees toward a target along the shorter arc, and keeps it in [0, 360).
void easeHueToward(float& phase, float target, double factor) {
    double diff = std::fmod(double(target) - phase, 360.0);
    if (diff > 180) diff -= 360;
    if (diff < -180) diff += 360;
    double next = std::fmod(phase + factor * diff, 360.0);
    if (next < 0) next += 360;
    phase = static_cast<float>(next);
}

void advanceHue(float& phase, double degrees) {
    phase += static_cast<float>(degrees);
    if (phase >= 360) phase -= 360;
    if (!(phase >= 0 && phase < 360))
        phase = static_cast<float>(std::fmod(std::fmod(phase, 360.0) + 360.0, 360.0));
}

void advanceAngle(float& angle, double radians) {
    angle += static_cast<float>(radians);
    if (angle >= kTwoPi) angle -= static_cast<float>(kTwoPi);
}

float& component(VizFloat4& v, int i) {
    switch (i) {
        case 0:
            return v.x;
        case 1:
            return v.y;
        case 2:
            return v.z;
        default:
            return v.w;
    }
}

float finiteOr(double value, float fallback) {
    return std::isfinite(value) ? static_cast<float>(value) : fallback;
}

// Hue in degrees, saturation and brightness of a colour; a colour that is not a number counts as white.
std::array<float, 3> hsbDegrees(const Color& color) {
    const bool finite = std::isfinite(color.red) && std::isfinite(color.green) && std::isfinite(color.blue);
    const ColorHsb hsb = toHsb(finite ? color : Color::white());
    return {static_cast<float>(hsb.hue * 360), static_cast<float>(hsb.saturation),
            static_cast<float>(hsb.brightness)};
}

// phases(p)[k]: a quarter turn apart for the first four waves, then spread by the golden angle.
float startPhase(double p, int k) {
    if (k < 4) return static_cast<float>((p + k) * std::numbers::pi / 2);
    return static_cast<float>(std::fmod((p + k) * 2.39996, kTwoPi));
}

constexpr float kDriftSpeed[4] = {0.05f, 0.07f, 0.09f, 0.11f};
constexpr float kRippleSpeed[4] = {0.22f, 0.28f, 0.35f, 0.4f};
constexpr float kWaveWidth[4] = {0.34f, 0.27f, 0.21f, 0.16f};
constexpr float kRippleFreq[4] = {1.3f, 1.7f, 2.2f, 2.8f};
constexpr float kHueOffset[4] = {0, 75, 150, 225};
constexpr float kPaletteOffset[4] = {0, 0.3f, 0.55f, 0.8f};
constexpr float kSolidValue[4] = {1.0f, 0.92f, 0.85f, 0.78f};

}  // namespace

VizFloat4 vizPaletteStop(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (begin < end && text[begin] == '#') ++begin;
    const std::string_view digits(text.data() + begin, end - begin);
    // The strict parser takes its own optional "#" and trims other blanks: exactly six characters that it
    // reads as six digits can be nothing but the digits themselves.
    const auto color = digits.size() == 6 && digits.front() != '#' ? colorFromHex(digits) : std::nullopt;
    if (!color) return {1, 1, 1, 0};
    return {static_cast<float>(color->red), static_cast<float>(color->green), static_cast<float>(color->blue),
            0};
}

VizFrameStep::VizFrameStep() {
    for (int k = 0; k < VIZ_MAX_WAVES; ++k) {
        const double golden = k * 0.61803;
        waveSpeedMult_[k] =
            k < 4 ? 1.0f : static_cast<float>(1 + 0.15 * ((golden - std::floor(golden)) - 0.5));
        waveTheta_[k] = startPhase(0, k);
        wavePhi_[k] = startPhase(0.5, k);
        waveValueMult_[k] = 1;
    }
    frame_.uniforms = &uniforms_;
    frame_.waves = &waves_;
}

const std::vector<VizBarSlot>& VizFrameStep::layoutBars(double widthPoints, double thickness, double gap,
                                                        int maxBars) {
    slots_.clear();
    interp_.clear();
    const double W = widthPoints;
    if (std::isfinite(W) && W > 0) {
        // The stored settings are range-checked when loaded; a zero pitch would still divide by zero here.
        const double t = std::isfinite(thickness) ? std::clamp(thickness, 1.0, 8.0) : 2.0;
        const double g = std::isfinite(gap) ? std::clamp(gap, 1.0, 12.0) : 1.0;
        const double pitch = t + g;
        const int n = std::max(8, std::min(static_cast<int>(W / pitch), std::max(maxBars, 8)));
        slots_.reserve(n);
        interp_.reserve(n);
        for (int i = 0; i < n; ++i) {
            slots_.push_back({static_cast<float>((g / 2 + (W - pitch * n) / 2 + pitch * i) / W),
                              static_cast<float>(t / W)});
            const double at = double(i) / (n - 1) * 63;
            const int k = std::min(static_cast<int>(at), 62);
            interp_.push_back({k, static_cast<float>(at - k)});
        }
    }
    smoothed_.assign(slots_.size(), 0.0f);
    heights_.assign(slots_.size(), 0.0f);
    frame_.heights = heights_;
    return slots_;
}

void VizFrameStep::setStyle(bool waves) {
    wakeOnChange(wavesStyle_, waves);
}

void VizFrameStep::showStyleNow(bool waves) {
    wavesStyle_ = waves;
    styleMix_ = waves ? 1.0f : 0.0f;
}

void VizFrameStep::setSolidColor(const Color& color) {
    const auto [h, s, v] = hsbDegrees(color);
    wakeOnChange(solidHue_, h);
    wakeOnChange(solidSat_, s);
    wakeOnChange(solidVal_, v);
}

void VizFrameStep::setWaveSolidColor(const Color& color) {
    const auto [h, s, v] = hsbDegrees(color);
    wakeOnChange(solidHueW_, h);
    wakeOnChange(solidSatW_, s);
}

void VizFrameStep::setPalette(const std::vector<std::string>& palette) {
    if (palette == paletteHexCache_) return;
    moving_ = true;
    paletteHexCache_ = palette;
    paletteCount_ = std::min<int>(static_cast<int>(palette.size()), kVizPaletteStops);
    for (int i = 0; i < paletteCount_; ++i) paletteScratch_[i] = vizPaletteStop(palette[i]);
}

void VizFrameStep::setBackingScale(double scale) {
    backingScale_ = std::isfinite(scale) && scale > 0 ? static_cast<float>(scale) : 1.0f;
}

void VizFrameStep::stepColours(double dt, const VizStepSettings& settings) {
    stepToward(colorMix_, barsAreDark_ ? 1.0f : 0.0f, dt);
    stepToward(modeMix_, colorMode_ == VizBarsColorMode::mono ? 0.0f : 1.0f, dt);
    stepToward(styleMix_, wavesStyle_ ? 1.0f : 0.0f, dt);

    const double r = std::min(4 * dt, 1.0);
    if (colorMode_ == VizBarsColorMode::solid || colorMode_ == VizBarsColorMode::artwork) {
        easeToward(chromaticSpan_, 0, r);
        easeToward(chromaticSat_, solidSat_, r);
        easeToward(chromaticVal_, solidVal_, r);
        easeToward(chromaticSolidMix_, colorMode_ == VizBarsColorMode::solid ? 1.0f : 0.0f, r);
        easeHueToward(huePhase_, solidHue_, r);
    } else {
        easeToward(chromaticSpan_, 300, r);
        easeToward(chromaticSat_, 0.9f, r);
        easeToward(chromaticVal_, 1, r);
        easeToward(chromaticSolidMix_, 0, r);
        advanceHue(huePhase_, finiteOr(settings.hueSpeed, 0) * dt);
    }

    stepToward(modeMixW_, waveColorMode_ == VizWaveColorMode::mono ? 0.0f : 1.0f, dt);
    float paletteTarget = 0;
    switch (waveColorMode_) {
        case VizWaveColorMode::solid:
        case VizWaveColorMode::artwork:
            easeToward(chromaticSpanW_, 0, r);
            easeToward(chromaticSatW_, solidSatW_, r);
            easeHueToward(huePhaseW_, solidHueW_, r);
            break;
        case VizWaveColorMode::palette:
            paletteTarget = 1;
            break;
        case VizWaveColorMode::mono:
        case VizWaveColorMode::rainbow:
            easeToward(chromaticSpanW_, 300, r);
            easeToward(chromaticSatW_, 0.9f, r);
            advanceHue(huePhaseW_, finiteOr(settings.waveHueSpeed, 0) * dt);
            break;
    }
    stepToward(paletteMix_, paletteTarget, dt);
    const double flow = palettePhase_ + dt * finiteOr(settings.waveHueSpeed, 0) / 360;
    palettePhase_ = static_cast<float>(flow - std::floor(flow));
}

bool VizFrameStep::step(double dt, std::span<const float> bands, const VizStepSettings& settings,
                        double alpha, double drawableWidth, double drawableHeight) {
    if (!std::isfinite(dt) || dt < 0) dt = 0;
    stepColours(dt, settings);
    if (bands.size() != kVizBandCount || interp_.size() != slots_.size() || slots_.empty()) return false;

    // One value that is not a number would otherwise become the gain reference for good (max keeps it and
    // it never decays), and every later bar with it: it counts as silence.
    float peak = 0;
    for (int j = 0; j < kVizBandCount; ++j) {
        bands_[j] = std::isfinite(bands[j]) ? bands[j] : 0.0f;
        peak = std::max(peak, bands_[j]);
    }
    agcPeak_ = std::max({peak, agcPeak_ * static_cast<float>(std::exp(-0.25 * dt)), 1e-5f});
    const float level = std::min(peak / agcPeak_, 1.0f);
    easeToward(energySmoothed_, level, 1 - std::exp(-dt / 0.2));

    const float attack = static_cast<float>(std::exp(-dt / 0.05));
    const float release = static_cast<float>(std::exp(-dt / 0.3));
    float moved = 0, tallest = 0;
    for (std::size_t i = 0; i < interp_.size(); ++i) {
        const auto [k, f] = interp_[i];
        float v = bands_[k] + f * (bands_[k + 1] - bands_[k]);
        v = std::pow(std::clamp(v / agcPeak_, 0.0f, 1.0f), 0.45f);
        const float a = smoothed_[i] < v ? attack : release;
        smoothed_[i] += (1 - a) * (v - smoothed_[i]);
        const float height = smoothed_[i] * kBarReach;
        moved = std::max(moved, std::abs(height - heights_[i]));
        tallest = std::max(tallest, height);
        heights_[i] = height;
    }

    const int waveCount = std::clamp(settings.waveCount, 4, VIZ_MAX_WAVES);
    const int peaks = std::clamp(settings.wavePeaks, 2, 50);
    const float coverage = 0.85f * std::pow(std::clamp((peaks - 5) / 45.0f, 0.0f, 1.0f), 0.7f);
    if (waveColorMode_ != VizWaveColorMode::palette)
        easeToward(waveHueMix_, waveColorMode_ == VizWaveColorMode::rainbow ? 1.0f : 0.0f,
                   std::min(4 * dt, 1.0));
    // With the bars alone on screen the wave state rests, and resumes where it stopped.
    if (styleMix_ > 0.001f) stepWaves(dt, waveCount, peaks, coverage);

    const VizUniforms before = uniforms_;
    const double bloomBefore = frame_.bloomIntensity;
    writeUniforms(settings, alpha, drawableWidth, drawableHeight, waveCount, coverage);
    const float effectiveMode = modeMix_ + (modeMixW_ - modeMix_) * styleMix_;
    const bool darkMono = effectiveMode < 0.5f && colorMix_ > 0.9f;
    frame_.bloomIntensity = bloomActive_ && !darkMono
                                ? finiteOr(settings.bloomIntensity, 0) * (0.55 + 0.45 * energySmoothed_)
                                : 0.0;

    // Bars shorter than half a pixel draw nothing, whatever their colour.
    const bool barsShow = styleMix_ < 0.999f && tallest * drawableHeight >= 0.5;
    // The hue turns in every mode; it shows only while the bars take some of the chromatic colour.
    const VizUniforms& u = uniforms_;
    const bool hueShows = u.u1.x > 0 || before.u1.x > 0;
    // The glow follows the smoothed energy, which nears the level without ever reaching it: it rests once
    // neither its last step nor what is left of its way would move a pixel by half a step of 8-bit colour.
    const double glowLeft = frame_.bloomIntensity > 0
                                ? finiteOr(settings.bloomIntensity, 0) * 0.45 * (level - energySmoothed_)
                                : 0;
    const bool glowMoving = !(std::abs(frame_.bloomIntensity - bloomBefore) <= kUnseenGlowChange &&
                              std::abs(glowLeft) <= kUnseenGlowChange);
    const bool looksChanged =
        !(u.u0 == before.u0 && (!hueShows || u.u1 == before.u1) && u.u2 == before.u2 && u.u6 == before.u6) ||
        glowMoving;
    moving_ = styleMix_ > 0.001f || moved * drawableHeight > 0.01 || (barsShow && looksChanged);
    stillFor_ = moving_ ? 0 : stillFor_ + dt;
    // A trail loses half its light every trail length: eight of them leave less than a byte's step.
    restAfter_ = trailActive_ ? std::max(2.0, 8.0 * finiteOr(settings.trailLength, 0.1f)) : 0.0;
    frame_.trail = trailActive_;
    frame_.trailLength = settings.trailLength;
    frame_.dt = dt;
    frame_.heights = heights_;
    return true;
}

void VizFrameStep::stepWaves(double dt, int waveCount, int peaks, float coverage) {
    const double rise = 1 - std::exp(-dt / 0.06), fall = 1 - std::exp(-dt / 0.35);
    float sum = 0;
    for (int j = 0; j < kVizBandCount; ++j) {
        const float e = std::clamp(bands_[j] / agcPeak_, 0.0f, 1.0f);
        sum += e;
        const float s = std::sqrt(e);
        easeToward(waveEnvSmoothed_[j], s, s > waveEnvSmoothed_[j] ? rise : fall);
    }
    const float mean = sum / kVizBandCount;
    gSlowPeak_ = std::max({mean, gSlowPeak_ * static_cast<float>(std::exp(-0.125 * dt)), 0.0001f});
    const float g = std::pow(std::clamp(mean / gSlowPeak_, 0.0f, 1.0f), 0.7f);
    easeToward(loudSmoothed_, g, 1 - std::exp(-dt / (g > loudSmoothed_ ? 0.08 : 0.6)));
    breath_ = 0.75f * loudSmoothed_ + 0.25f;

    const float depth = backingScale_ * kWaveDepthPoints * breath_;
    for (int j = 0; j < kVizBandCount; ++j)
        component(uniforms_.env[j / 4], j % 4) = depth * waveEnvSmoothed_[j];

    const double r = std::min(4 * dt, 1.0);
    const float w = static_cast<float>(kVizBandCount) / waveCount;
    const double energyEase = 1 - std::exp(-dt / 0.2);
    for (int k = 0; k < waveCount; ++k) {
        // Each band's share of this wave's slice of the spectrum.
        const float from = k * w, to = (k + 1) * w;
        float total = 0;
        for (int j = static_cast<int>(from); j < kVizBandCount && j < to; ++j)
            total += bands_[j] * (std::min<float>(j + 1, to) - std::max<float>(j, from));
        const float target = std::sqrt(std::clamp(total / w / agcPeak_, 0.0f, 1.0f));
        easeToward(waveEnergy_[k], target, energyEase);
        advanceAngle(waveTheta_[k], dt * kDriftSpeed[k % 4] * waveSpeedMult_[k]);
        advanceAngle(wavePhi_[k], dt * kRippleSpeed[k % 4] * waveSpeedMult_[k]);
        const float valueTarget = waveColorMode_ == VizWaveColorMode::solid ? kSolidValue[k % 4] : 1.0f;
        easeToward(waveValueMult_[k], valueTarget, r);

        waves_.wp[k] = {breath_ * kWaveDepthPoints * backingScale_ * waveEnergy_[k],
                        0.5f + 0.35f * std::sin(waveTheta_[k]), kWaveWidth[k % 4], wavePhi_[k]};
        const float ripple = kRippleFreq[k % 4] + (rippleFreqMean_ - kRippleFreq[k % 4]) * coverage;
        waves_.wp[k + VIZ_MAX_WAVES] = {peaks / 5.0f * ripple, waveValueMult_[k],
                                        kHueOffset[k % 4] * waveHueMix_, kPaletteOffset[k % 4]};
    }
}

void VizFrameStep::writeUniforms(const VizStepSettings& settings, double alpha, double width, double height,
                                 int waveCount, float coverage) {
    VizUniforms& u = uniforms_;
    u.u0 = {static_cast<float>(alpha), static_cast<float>(width), static_cast<float>(height), colorMix_};
    u.u1 = {modeMix_, huePhase_, chromaticSpan_, chromaticSat_};
    u.u2 = {styleMix_, finiteOr(settings.waveEdgeSoftness, 0) * backingScale_,
            finiteOr(settings.waveOpacity, 0) * std::sqrt(4.0f / waveCount), 0.75f};
    u.u3 = {modeMixW_, huePhaseW_, chromaticSpanW_, chromaticSatW_};
    u.u4 = {paletteMix_, static_cast<float>(paletteCount_), 0.45f, palettePhase_};
    u.u5 = {static_cast<float>(waveCount), 25 * waveHueMix_, coverage, finiteOr(settings.waveSpectrum, 0)};
    // The user opacity never goes below 0.2: that bounds how much the glow outshines faint bars.
    u.u6 = {chromaticVal_, chromaticSolidMix_, std::clamp(finiteOr(settings.opacity, 1), 0.2f, 1.0f), 0};
    u.pal = paletteScratch_;
}

}  // namespace velaro
