// Mixing blocks into the ring, the hop-by-hop FFT analysis, the lock-free hand-over of the bands and the
// input audit.
#include "music/VizAudioCore.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numbers>
#include <numeric>
#include <type_traits>

#include "base/MainLoop.h"

namespace velaro {

static_assert(std::atomic<std::size_t>::is_always_lock_free);
static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float));

// ---- ring ----

VizRingBuffer::VizRingBuffer(std::size_t capacity) : storage_(capacity, 0.0f), mask_(capacity - 1) {}

std::size_t VizRingBuffer::write(const float* samples, std::size_t count) {
    return writeWith(count, [samples](float* out, std::size_t from, std::size_t n) {
        std::memcpy(out, samples + from, n * sizeof(float));
    });
}

bool VizRingBuffer::read(float* out, std::size_t count) {
    const std::size_t read = readIndex_.load(std::memory_order_relaxed);
    const std::size_t write = writeIndex_.load(std::memory_order_acquire);
    if (write - read < count) return false;
    const std::size_t slot = read & mask_;
    const std::size_t first = std::min(count, storage_.size() - slot);
    std::memcpy(out, storage_.data() + slot, first * sizeof(float));
    std::memcpy(out + first, storage_.data(), (count - first) * sizeof(float));
    readIndex_.store(read + count, std::memory_order_release);
    return true;
}

std::size_t VizRingBuffer::available() const {
    return writeIndex_.load(std::memory_order_acquire) - readIndex_.load(std::memory_order_relaxed);
}

// ---- band hand-over ----

void VizBandsExchange::publish() {
    published_ = back_;
    // Release: the reader that takes this buffer sees every value written into it.
    const std::uint8_t previous =
        middle_.exchange(static_cast<std::uint8_t>(back_ | freshBit), std::memory_order_acq_rel);
    back_ = previous & ~freshBit;
}

VizBands VizBandsExchange::latest() {
    if (middle_.load(std::memory_order_relaxed) & freshBit) {
        const std::uint8_t previous =
            middle_.exchange(static_cast<std::uint8_t>(front_), std::memory_order_acq_rel);
        front_ = previous & ~freshBit;
    }
    return slots_[front_];
}

// ---- core ----

const char* describe(VizAudioError error) {
    switch (error) {
        case VizAudioError::none:
            return "ok";
        case VizAudioError::badSampleRate:
            return "sample rate out of range";
        case VizAudioError::noChannels:
            return "no channels";
    }
    return "?";
}

namespace {
constexpr double kLowestBandHz = 40;
constexpr double kHighestBandHz = 16000;
constexpr double kAuditInterval = 1.0;
constexpr int kZeroSecondsForRebuild = 5;
constexpr int kMaxSilentRebuilds = 2;
// A capture that delivered nothing for this long is paused (its output idle, a reconnect): silence.
constexpr double kPauseIsSilence = 0.1;
// The Hann window in its power-normalised form, 0.8165 (1 - cos), 0.8165 being the square root of 2/3 to
// four places: its mean square is 1, so the bands read a tone at the level the visualizer's thresholds and
// gains were set for. The plain form, 0.5 (1 - cos), reads every band at 0.61 of that.
constexpr double kHannScale = 0.8165;

// A sample that is not a finite number counts as silence: one NaN would otherwise reach every band. Tested
// on the exponent bits, which the compiler vectorises (a float comparison may trap, which it will not).
inline float finiteOrZero(float x) {
    const auto bits = std::bit_cast<std::uint32_t>(x);
    const std::uint32_t keep = (bits & 0x7f800000u) == 0x7f800000u ? 0u : ~0u;
    return std::bit_cast<float>(bits & keep);
}
}  // namespace

VizAudioCore::VizAudioCore(std::unique_ptr<SerialQueue> processing, const Clock& clock)
    : clock_(clock),
      hann_(fftSize),
      window_(fftSize),
      windowed_(fftSize),
      hop_(hopSize),
      mags_(fftSize / 2),
      spectrum_(2 * (fftSize / 2 + 1)),
      mostWaitingSamples_(static_cast<std::size_t>(48000 * mostSpreadDelay)),
      lastSummaryAt_(-std::numeric_limits<double>::infinity()),
      queue_(std::move(processing)) {
    static_assert(decltype(layout_)::is_always_lock_free);
    fft_ = kiss_fftr_alloc(fftSize, 0, nullptr, nullptr);
    for (int n = 0; n < fftSize; ++n)
        hann_[n] = static_cast<float>(kHannScale * (1.0 - std::cos(2.0 * std::numbers::pi * n / fftSize)));
}

VizAudioCore::~VizAudioCore() {
    // The queue first: it finishes a drain in progress and drops the blocks still queued, so none of them
    // runs on the buffers freed below.
    queue_.reset();
    kiss_fftr_free(fft_);
}

VizAudioError VizAudioCore::checkFormat(double sampleRate, int channelCount) {
    if (!std::isfinite(sampleRate) || sampleRate <= 0 || sampleRate > maxSampleRate)
        return VizAudioError::badSampleRate;
    if (channelCount < 1) return VizAudioError::noChannels;
    return VizAudioError::none;
}

VizAudioError VizAudioCore::configure(const AudioFormat& format) {
    const VizAudioError error = checkFormat(format.sampleRate, format.channelCount);
    if (error != VizAudioError::none) return error;
    InputLayout layout;
    layout.channels = format.channelCount;
    layout.mode = format.channelCount <= 1 ? MixMode::mono
                  : format.interleaved     ? MixMode::stereoInterleaved
                                           : MixMode::stereoSplit;
    layout_.store(layout, std::memory_order_relaxed);
    // The window and the band edges belong to the analysis, which may be running right now.
    queue_->async([this, rate = format.sampleRate] { resetAnalysis(rate); });
    return VizAudioError::none;
}

std::vector<std::pair<int, int>> VizAudioCore::bandEdges(double sampleRate) {
    const double binHz = sampleRate / fftSize;
    const double high = std::min(sampleRate * 0.5 * 0.95, kHighestBandHz);
    const double ratio = high / kLowestBandHz;
    const int lastBin = fftSize / 2 - 1;
    std::vector<std::pair<int, int>> ranges;
    ranges.reserve(vizBandCount);
    for (int i = 0; i < vizBandCount; ++i) {
        const double f0 = kLowestBandHz * std::pow(ratio, double(i) / vizBandCount);
        const double f1 = kLowestBandHz * std::pow(ratio, double(i + 1) / vizBandCount);
        const int b0 = static_cast<int>(std::floor(f0 / binHz));
        const int b1 = static_cast<int>(std::floor(f1 / binHz));
        // Bin 0 holds DC (and Nyquist): never a band's. Low bands may share one bin.
        const int lo = std::min(std::max(b0, 1), lastBin);
        const int hi = std::min(std::max(b1, lo), lastBin);
        ranges.emplace_back(lo, hi);
    }
    return ranges;
}

void VizAudioCore::resetAnalysis(double sampleRate) {
    std::fill(window_.begin(), window_.end(), 0.0f);
    windowFill_ = 0;
    bandRanges_ = bandEdges(sampleRate);
    sampleRate_ = sampleRate;
    paceDrains();
    // A bound of a tenth of a second on what the spreading keeps waiting.
    mostWaitingSamples_ = static_cast<std::size_t>(sampleRate * mostSpreadDelay);
    zeroSeconds_ = 0;
    lastCallbackCount_ = configuredCallbacks_ = callbackCount_.load(std::memory_order_relaxed);
}

void VizAudioCore::paceDrains() {
    // Enough hops a drain to keep up with the input (1024 samples every 20 ms take 51.2 kHz).
    hopsPerDrain_ = std::max(1, static_cast<int>(std::ceil(sampleRate_ * drainInterval_ / hopSize)));
}

void VizAudioCore::setReadInterval(double seconds) {
    if (!std::isfinite(seconds)) return;
    // The reads' own timer and ours drift apart; drains a little more frequent stay ahead of the reads.
    constexpr double kAheadOfReads = 0.95;
    queue_->async([this, interval = std::clamp(seconds * kAheadOfReads, timerInterval, mostDrainInterval)] {
        drainInterval_ = interval;
        paceDrains();
    });
}

void VizAudioCore::setOutputPlaying(bool playing) {
    // Each start or stop adds one: the low bit says "not playing", the rest count the changes.
    std::uint64_t state = outputState_.load(std::memory_order_relaxed);
    while (outputPlays(state) != playing &&
           !outputState_.compare_exchange_weak(state, state + 1, std::memory_order_relaxed)) {
    }
}

// ---- producer ----

namespace {
// The mixing loops are built for AVX-512, for AVX2 and for any x86-64, and the better one is chosen at load
// time.
#if defined(__x86_64__) && !defined(__clang__)
#define VELARO_VECTOR_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELARO_VECTOR_CLONES
#endif

// The bits of a sample's magnitude, OR-ed over a run: 0 exactly when every sample is an exact zero (an
// integer OR vectorises where a float maximum would not). An infinity or NaN sets every exponent bit; so
// may several large finite samples together, which only costs a second, exact pass.
[[gnu::always_inline]] inline std::uint32_t magnitudeBits(float x) {
    return std::bit_cast<std::uint32_t>(x) & 0x7fffffffu;
}
[[gnu::always_inline]] inline bool mayHoldNonFinite(std::uint32_t magnitudes) {
    return (magnitudes & 0x7f800000u) == 0x7f800000u;
}

// Averages pairs of samples (left[i * step], right[i * step]) into `out`. The fast pass trusts the input;
// a run that may have met an infinity or a NaN (or two samples too large to add) is mixed again with such
// samples counted as silence.
template <typename Step>
[[gnu::always_inline]] inline std::uint32_t mixRun(const float* left, const float* right, Step step,
                                                   float* out, std::size_t n) {
    std::uint32_t magnitudes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = (left[i * step] + right[i * step]) * 0.5f;
        magnitudes |= magnitudeBits(out[i]);
    }
    if (!mayHoldNonFinite(magnitudes)) return magnitudes;
    magnitudes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = finiteOrZero(left[i * step]) * 0.5f + finiteOrZero(right[i * step]) * 0.5f;
        magnitudes |= magnitudeBits(out[i]);
    }
    return magnitudes;
}

VELARO_VECTOR_CLONES std::uint32_t mixInterleavedStereo(const float* in, float* out, std::size_t n) {
    return mixRun(in, in + 1, std::integral_constant<std::size_t, 2>(), out, n);
}

std::uint32_t mixInterleavedWide(const float* in, std::size_t stride, float* out, std::size_t n) {
    return mixRun(in, in + 1, stride, out, n);
}

VELARO_VECTOR_CLONES std::uint32_t mixSplitStereo(const float* left, const float* right, float* out,
                                                  std::size_t n) {
    return mixRun(left, right, std::integral_constant<std::size_t, 1>(), out, n);
}

VELARO_VECTOR_CLONES std::uint32_t copyMono(const float* in, float* out, std::size_t n) {
    std::uint32_t magnitudes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = in[i];
        magnitudes |= magnitudeBits(out[i]);
    }
    if (!mayHoldNonFinite(magnitudes)) return magnitudes;
    magnitudes = 0;
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = finiteOrZero(in[i]);
        magnitudes |= magnitudeBits(out[i]);
    }
    return magnitudes;
}
}  // namespace

bool VizAudioCore::mixInto(const AudioBlock& block, InputLayout layout) {
    const AudioBlock::Buffer& first = block.buffers[0];
    const AudioBlock::Buffer* second =
        block.bufferCount >= 2 && block.buffers[1].data ? &block.buffers[1] : nullptr;
    const auto stride = static_cast<std::size_t>(layout.channels);
    std::size_t frames = 0;
    switch (layout.mode) {
        case MixMode::mono:
            frames = first.byteSize / sizeof(float);
            break;
        case MixMode::stereoInterleaved:
            frames = first.byteSize / (sizeof(float) * stride);
            break;
        case MixMode::stereoSplit:
            frames = first.byteSize / sizeof(float);
            // Mix only what both channels hold.
            if (second) frames = std::min(frames, second->byteSize / sizeof(float));
            break;
    }
    // Mono blocks have no size limit apart from the ring's free space.
    if (layout.mode != MixMode::mono && frames > maxCallbackFrames) {
        droppedCallbacks_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    // Mixed straight into the ring's free slots (in one or two runs), never through a scratch copy.
    std::uint32_t bits = 0;
    ring_.writeWith(frames, [&](float* out, std::size_t from, std::size_t n) {
        const float* in = first.data;
        switch (layout.mode) {
            case MixMode::mono:
                bits |= copyMono(in + from, out, n);
                break;
            case MixMode::stereoInterleaved:
                bits |= stride == 2 ? mixInterleavedStereo(in + 2 * from, out, n)
                                    : mixInterleavedWide(in + stride * from, stride, out, n);
                break;
            case MixMode::stereoSplit:
                bits |= second ? mixSplitStereo(in + from, second->data + from, out, n)
                               : copyMono(in + from, out, n);
                break;
        }
    });
    return bits != 0;
}

void VizAudioCore::ingest(const AudioBlock& block) {
    callbackCount_.fetch_add(1, std::memory_order_relaxed);
    // The first block after a pause wakes the timer; only one block can win the flag.
    if (timerAsleep_.load(std::memory_order_relaxed) &&
        timerAsleep_.exchange(false, std::memory_order_acq_rel))
        queue_->async([this] { resumeTimer(); });
    if (block.bufferCount < 1 || !block.buffers[0].data) return;
    if (mixInto(block, layout_.load(std::memory_order_relaxed)))
        sawNonZero_.store(true, std::memory_order_relaxed);
}

// ---- consumer ----

void VizAudioCore::drain() {
    // The capture hands over its samples a fragment at a time (two hops and more): analysed together, they
    // would change the bands once a fragment, and the display would draw that seldom. Spread over the
    // ticks, they are shown a steady fraction of a fragment late. A turn takes the hops one interval brings
    // and analyses only the newest: a set of an older one would be replaced before anyone read it. Turns
    // follow while more than a tenth of a second waits.
    for (;;) {
        int hops = 0;
        while (hops < hopsPerDrain_ && ring_.read(hop_.data(), hopSize)) {
            std::memmove(window_.data(), window_.data() + hopSize, (fftSize - hopSize) * sizeof(float));
            std::memcpy(window_.data() + (fftSize - hopSize), hop_.data(), hopSize * sizeof(float));
            // The fill test comes before the add: the first analysis runs on the third hop after a configure.
            if (windowFill_ < fftSize)
                windowFill_ += hopSize;
            else
                ++hops;
        }
        if (hops > 0) analyse();
        if (hops < hopsPerDrain_ || ring_.available() <= mostWaitingSamples_) break;
    }
    notePause();
    audit();
}

void VizAudioCore::notePause() {
    const std::uint64_t calls = callbackCount_.load(std::memory_order_relaxed);
    const double now = clock_.uptime();
    if (calls != pauseCallbacks_) {
        pauseCallbacks_ = calls;
        lastDeliveryAt_ = now;
        pauseSilenced_ = false;
        return;
    }
    if (pauseSilenced_ || now - lastDeliveryAt_ < kPauseIsSilence) return;
    // What would have come had the capture gone on delivering its silence: the bands fall to zero, and the
    // next analysis starts from a silent window.
    pauseSilenced_ = true;
    std::fill(window_.begin(), window_.end(), 0.0f);
    bands_.back().fill(0.0f);
    bands_.publish();
    lastRMS_ = 0;
    if (onBands) onBands(bands_.lastPublished());
}

void VizAudioCore::analyse() {
    if (bandRanges_.size() != vizBandCount) return;
    for (int n = 0; n < fftSize; ++n) windowed_[n] = window_[n] * hann_[n];
    auto* bins = reinterpret_cast<kiss_fft_cpx*>(spectrum_.data());
    kiss_fftr(fft_, windowed_.data(), bins);
    // Magnitudes in the units the visualizer's thresholds were tuned in: twice the plain DFT's, as a packed
    // real FFT gives them, with DC and Nyquist sharing bin 0.
    mags_[0] = 2.0f * std::sqrt(bins[0].r * bins[0].r + bins[fftSize / 2].r * bins[fftSize / 2].r);
    for (int k = 1; k < fftSize / 2; ++k)
        mags_[k] = 2.0f * std::sqrt(bins[k].r * bins[k].r + bins[k].i * bins[k].i);

    VizBands& target = bands_.back();
    for (int i = 0; i < vizBandCount; ++i) {
        const auto [lo, hi] = bandRanges_[i];
        float sum = 0;
        for (int k = lo; k <= hi; ++k) sum += mags_[k];
        target[i] = sum / static_cast<float>(hi - lo + 1);
    }
    bands_.publish();

    // Four running sums, so the additions do not wait on one another.
    double squares[4] = {};
    for (int n = 0; n < fftSize; n += 4)
        for (int j = 0; j < 4; ++j) squares[j] += double(window_[n + j]) * window_[n + j];
    lastRMS_ = static_cast<float>(std::sqrt((squares[0] + squares[1] + squares[2] + squares[3]) / fftSize));
    if (onBands) onBands(bands_.lastPublished());
}

void VizAudioCore::log(LogKind kind, std::string message) {
    if (onLog) onLog(kind, std::move(message));
}

void VizAudioCore::logSummary() {
    if (onLog) onLog(LogKind::summary, summaryLine());
}

void VizAudioCore::audit() {
    const double now = clock_.uptime();
    // The ticks come on a planned beat whose times are not exact in binary: the tick within half a beat of
    // the second is the second's, so the audits keep a one-second beat instead of slipping a tick.
    if (now - lastSummaryAt_ < kAuditInterval - drainInterval_ / 2) return;
    lastSummaryAt_ = now;

    const std::uint64_t calls = callbackCount_.load(std::memory_order_relaxed);
    const std::uint64_t previous = std::exchange(lastCallbackCount_, calls);
    const bool nonZero = sawNonZero_.exchange(false, std::memory_order_relaxed);
    const std::uint64_t output = outputState_.load(std::memory_order_relaxed);
    const bool playedThroughout = std::exchange(auditedOutputState_, output) == output && outputPlays(output);

    idleAudited_ = calls == previous;
    if (calls != previous && ioIdleLogged_) {
        ioIdleLogged_ = false;
        log(LogKind::health, "health: IOProc callbacks resumed — zero-audit active");
    }
    if (!playedThroughout || calls == previous) {
        // An output that plays nothing is captured as exact zeros or not at all, and neither says the
        // capture broke; no callbacks at all is not silence either, the capture is paused or reconnecting.
        // Only callbacks that came since the set-up and then stopped while the output plays are worth a
        // line: before the first one nothing stopped.
        if (playedThroughout && !ioIdleLogged_ && previous != configuredCallbacks_) {
            ioIdleLogged_ = true;
            log(LogKind::health, "health: IOProc idle (no callbacks) — zero-audit paused");
        }
        zeroSeconds_ = 0;
        if (!nonZero) return;
    } else if (!nonZero) {
        if (++zeroSeconds_ >= kZeroSecondsForRebuild) {
            zeroSeconds_ = 0;
            if (silentRebuilds_ < kMaxSilentRebuilds) {
                ++silentRebuilds_;
                log(LogKind::health, "health: " + std::to_string(kZeroSecondsForRebuild) +
                                         "s of exact-zero samples with a live IOProc — full rebuild #" +
                                         std::to_string(silentRebuilds_));
                if (onNeedsRebuild) onNeedsRebuild();
            } else if (!gaveUpLogged_) {
                gaveUpLogged_ = true;
                log(LogKind::health,
                    "health: standing down (2 rebuilds; waiting for signal or device change)");
            }
            return;
        }
        logSummary();
        return;
    } else {
        zeroSeconds_ = 0;
    }
    if (silentRebuilds_ > 0 || gaveUpLogged_) {
        silentRebuilds_ = 0;
        gaveUpLogged_ = false;
        log(LogKind::health, "health: signal restored");
    }
    logSummary();
}

std::string VizAudioCore::summaryLine() const {
    const VizBands& bands = bands_.lastPublished();
    std::array<int, vizBandCount> order;
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return bands[a] > bands[b]; });
    std::string top;
    char item[48];
    for (int i = 0; i < 3; ++i) {
        std::snprintf(item, sizeof item, "%d:%.4f", order[i], double(bands[order[i]]));
        if (i) top += ' ';
        top += item;
    }
    const float peak = bands[order[0]];
    static constexpr char ramp[] = " .:-=+*#%@";
    std::string spark(vizBandCount, ramp[0]);
    if (peak > 0)
        for (int i = 0; i < vizBandCount; ++i)
            spark[i] = ramp[std::min(static_cast<int>(bands[i] / peak * 9), 9)];
    char rms[32];
    std::snprintf(rms, sizeof rms, "rms=%.4f", double(lastRMS_));
    return std::string(rms) + " top[" + top + "] |" + spark + "|";
}

// ---- timer ----

void VizAudioCore::startTimer() {
    queue_->async([this] {
        if (timerOn_) return;
        timerOn_ = true;
        resumeTimer();
    });
}

void VizAudioCore::stopTimer() {
    queue_->async([this] {
        timerOn_ = false;
        ++timerGeneration_;
        timerAsleep_.store(false, std::memory_order_relaxed);
    });
}

void VizAudioCore::resumeTimer() {
    if (!timerOn_) return;
    // The audit judges whole seconds of input: its first look comes a second after the start (or the
    // block that woke the timer), not before the capture had the chance to call back once. The output
    // started playing before that block came: the second from here on is a whole second of it.
    idleAudited_ = false;
    auditedOutputState_ = outputState_.load(std::memory_order_relaxed);
    lastSummaryAt_ = clock_.uptime();
    nextTick_ = lastSummaryAt_ + drainInterval_;
    armTimer(++timerGeneration_);
}

void VizAudioCore::armTimer(std::uint64_t generation) {
    // Each tick aims at the planned time, not "an interval after the last one", so the rate does not drift.
    queue_->asyncAfter(std::max(0.0, nextTick_ - clock_.uptime()), [this, generation] {
        if (generation != timerGeneration_) return;
        drain();
        if (std::exchange(idleAudited_, false)) {
            // A whole second without blocks: sleep until the next one. A block that came after the audit
            // found the timer awake and did not wake it; unless it did after all, the timer goes on.
            timerAsleep_.store(true, std::memory_order_release);
            if (callbackCount_.load(std::memory_order_acquire) == lastCallbackCount_ ||
                !timerAsleep_.exchange(false, std::memory_order_acq_rel))
                return;
        }
        const double now = clock_.uptime();
        nextTick_ += drainInterval_;
        if (nextTick_ < now) nextTick_ = now + drainInterval_;
        armTimer(generation);
    });
}

}  // namespace velaro
