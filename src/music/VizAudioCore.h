// The visualizer's band analysis: captured samples in, 64 logarithmically spaced frequency-band levels out,
// with a once-a-second audit of the input. It does no audio I/O: the engine feeds it blocks (ingest), a
// timer on its processing queue analyses them (drain), and the render loop reads the newest bands. While
// the capture delivers nothing the timer sleeps, and the next block wakes it.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/AudioCapture.h"

struct kiss_fftr_state;

namespace velaro {

class Clock;
class SerialQueue;

inline constexpr int vizBandCount = 64;
using VizBands = std::array<float, vizBandCount>;

// Single-producer single-consumer ring of mono samples. Each side advances only its own index (they count
// samples from 0 and never wrap) and reads the other's with acquire order; no locks.
class VizRingBuffer {
public:
    // `capacity` must be a power of two.
    explicit VizRingBuffer(std::size_t capacity);

    // Producer: copies what fits; the surplus of a full ring is dropped, never overwritten. Returns the count
    // written.
    std::size_t write(const float* samples, std::size_t count);
    // Producer: lets `fill(slots, from, n)` write samples [from, from + n) of `count` straight into the
    // free slots, in one run or two (at the end of the storage), as far as they reach. Returns the count.
    template <typename Fill>
    std::size_t writeWith(std::size_t count, Fill&& fill) {
        const std::size_t write = writeIndex_.load(std::memory_order_relaxed);
        const std::size_t read = readIndex_.load(std::memory_order_acquire);
        const std::size_t n = std::min(storage_.size() - (write - read), count);
        if (n < 1) return 0;
        const std::size_t slot = write & mask_;
        const std::size_t first = std::min(n, storage_.size() - slot);
        fill(storage_.data() + slot, std::size_t{0}, first);
        if (n > first) fill(storage_.data(), first, n - first);
        writeIndex_.store(write + n, std::memory_order_release);
        return n;
    }
    // Consumer: copies out `count` samples when that many wait, else takes nothing and returns false.
    bool read(float* out, std::size_t count);
    // Consumer: samples waiting.
    std::size_t available() const;
    std::size_t capacity() const { return storage_.size(); }

private:
    std::vector<float> storage_;
    std::size_t mask_;
    std::atomic<std::size_t> writeIndex_{0};
    std::atomic<std::size_t> readIndex_{0};
};

// Hands the newest band set from one writer thread to one reader thread without a lock: three buffers, the
// writer fills its own and swaps it with the shared middle one, the reader swaps the middle one for its own
// when a fresh set waits. Neither side ever touches a buffer the other holds, so a set is never torn.
class VizBandsExchange {
public:
    // Writer: the buffer to fill next.
    VizBands& back() { return slots_[back_]; }
    // Writer: publishes what `back()` holds; `back()` is another buffer afterwards.
    void publish();
    // Writer: the set it published last.
    const VizBands& lastPublished() const { return slots_[published_]; }
    // Reader: a copy of the newest published set (all zeros before the first).
    VizBands latest();

private:
    static constexpr std::uint8_t freshBit = 4;
    std::array<VizBands, 3> slots_{};
    int back_ = 0;
    int published_ = 2;
    int front_ = 1;
    std::atomic<std::uint8_t> middle_{2};
};

// What configure refuses.
enum class VizAudioError {
    none,
    badSampleRate,  // not finite, not above 0, or above 384 kHz
    noChannels,
};
const char* describe(VizAudioError error);

class VizAudioCore {
public:
    enum class MixMode { mono, stereoInterleaved, stereoSplit };
    // Health lines are always worth printing; the once-a-second summary only when debugging.
    enum class LogKind { health, summary };

    static constexpr int fftSize = 2048;
    static constexpr int hopSize = 1024;
    static constexpr std::size_t ringCapacity = 32768;
    // The largest stereo callback accepted, in frames.
    static constexpr std::size_t maxCallbackFrames = 8192;
    static constexpr double timerInterval = 0.02;
    static constexpr double mostDrainInterval = 0.05;
    // The most input the spreading of hops over the drains may keep waiting.
    static constexpr double mostSpreadDelay = 0.1;
    static constexpr double maxSampleRate = 384000;

    // `processing` is the "viz.audio.fft" queue the timer, drain and configure's reset run on; the core owns
    // it and empties it before anything else goes. `clock` times the audit.
    VizAudioCore(std::unique_ptr<SerialQueue> processing, const Clock& clock);
    ~VizAudioCore();
    VizAudioCore(const VizAudioCore&) = delete;
    VizAudioCore& operator=(const VizAudioCore&) = delete;

    static VizAudioError checkFormat(double sampleRate, int channelCount);

    // Takes the capture's format: blocks ingested from now on are mixed by it; the analysis window restarts
    // and the band edges follow the rate on the processing queue, in turn with the analysis. Call it while
    // no block is being ingested. A refused format changes nothing.
    VizAudioError configure(const AudioFormat& format);
    // Producer side (the capture's thread): mixes one block to mono into the ring. Neither allocates nor
    // locks, except to wake a sleeping timer (once after each pause of the capture). Gaps are dropped,
    // sizes cut to whole frames, non-finite samples count as silence.
    void ingest(const AudioBlock& block);
    // Consumer side (the processing queue): analyses the full hops waiting, then audits the input. Hops that
    // came in one fragment are spread over the drains, one a drain or as many as the sample rate fills in a
    // drain's interval, of which only the newest is analysed: the bands change at every tick, not at every
    // fragment, one set a tick. What waits beyond a tenth of a second is worked off at once, a set for each
    // interval's worth. A capture that delivered nothing for a tenth of a second is silent: the bands fall
    // to zero once.
    void drain();
    // Start and stop the drain timer, every 20 ms on the processing queue unless the reads come less often
    // (see setReadInterval); both return at once. The timer sleeps from an audit that found a whole second
    // without a block until the next block comes.
    void startTimer();
    void stopTimer();
    // How often the bands are read (the display's frames); returns at once. The drains then come a little
    // more often than the reads, so that every read finds a set it has not seen, but never more often than
    // every timerInterval nor less often than every mostDrainInterval: sets made between two reads are
    // work nobody sees. Until told, they come every timerInterval.
    void setReadInterval(double seconds);
    // Whether the captured output plays at all, from any thread (the capture's, as soon as it learns it);
    // never blocks. The audit counts only the seconds the output played throughout: the capture of an
    // output that plays nothing hears exact zeros or nothing, and neither means the capture broke. Until
    // told otherwise the output counts as playing.
    void setOutputPlaying(bool playing);

    // The newest bands, in the analysis' raw units. One reader thread (the render loop's).
    VizBands latestBands() { return bands_.latest(); }

    // Set before the timer first starts; called on the processing queue.
    std::function<void(LogKind, std::string)> onLog;
    std::function<void()> onNeedsRebuild;
    std::function<void(const VizBands&)> onBands;

    // Stereo blocks dropped whole for holding more than maxCallbackFrames frames.
    std::uint64_t droppedCallbacks() const { return droppedCallbacks_.load(std::memory_order_relaxed); }

    // The FFT bins of each band at a sample rate: 40 Hz up to 16 kHz (or 0.95 of Nyquist below that).
    static std::vector<std::pair<int, int>> bandEdges(double sampleRate);

private:
    // Read on the audio thread for every block: eight bytes aligned to eight, so that every compiler swaps it
    // with one instruction instead of calling the atomic library.
    struct alignas(8) InputLayout {
        MixMode mode = MixMode::stereoInterleaved;
        int channels = 2;
    };

    void resetAnalysis(double sampleRate);
    void paceDrains();
    // Mixes a block into the ring; true when it held a sample other than an exact zero.
    bool mixInto(const AudioBlock& block, InputLayout layout);
    void analyse();
    void audit();
    void notePause();
    void resumeTimer();
    std::string summaryLine() const;
    void armTimer(std::uint64_t generation);
    void log(LogKind kind, std::string message);
    void logSummary();

    const Clock& clock_;
    std::atomic<InputLayout> layout_{InputLayout{}};
    static_assert(std::atomic<InputLayout>::is_always_lock_free);
    VizRingBuffer ring_{ringCapacity};
    std::atomic<std::uint64_t> callbackCount_{0};
    std::atomic<bool> sawNonZero_{false};
    std::atomic<std::uint64_t> droppedCallbacks_{0};
    // Set on the processing queue when the timer stops for want of blocks; the block that clears it wakes
    // the timer.
    std::atomic<bool> timerAsleep_{false};
    // The output's starts and stops, counted: an odd count means it plays nothing.
    std::atomic<std::uint64_t> outputState_{0};
    static bool outputPlays(std::uint64_t state) { return (state & 1) == 0; }

    // Processing queue only from here on.
    kiss_fftr_state* fft_ = nullptr;
    std::vector<float> hann_, window_, windowed_, hop_, mags_;
    std::vector<float> spectrum_;  // fftSize / 2 + 1 complex bins, real and imaginary parts in turn
    int windowFill_ = 0;
    std::vector<std::pair<int, int>> bandRanges_;
    double drainInterval_ = timerInterval;
    int hopsPerDrain_ = 1;            // hops one drain takes of those that wait together
    double sampleRate_ = 48000;
    std::size_t mostWaitingSamples_;  // more waiting than this is worked off at once
    VizBandsExchange bands_;
    float lastRMS_ = 0;

    double lastSummaryAt_;
    std::uint64_t lastCallbackCount_ = 0;
    int zeroSeconds_ = 0;
    int silentRebuilds_ = 0;
    bool gaveUpLogged_ = false;
    bool ioIdleLogged_ = false;
    bool idleAudited_ = false;               // the last audit found a second without blocks
    std::uint64_t configuredCallbacks_ = 0;  // the callback count at the last configure
    std::uint64_t auditedOutputState_ = 0;   // the output's state the last audit saw
    std::uint64_t pauseCallbacks_ = 0;
    double lastDeliveryAt_ = 0;
    bool pauseSilenced_ = false;

    bool timerOn_ = false;
    std::uint64_t timerGeneration_ = 0;
    double nextTick_ = 0;

    // Last member: destroyed first, so no queued block outlives the buffers it works on.
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace velaro
