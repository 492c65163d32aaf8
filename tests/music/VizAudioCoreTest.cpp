// The band analysis fed synthetic blocks: its units against a full-scale sine, where tones land, the ring and
// the block limits, bad input, the input audit, and the lock-free hand-over of the bands.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "music/VizAudioCore.h"
#include "support/AllocationCounter.h"
#include "support/VirtualLoop.h"

namespace velaro::test {
namespace {

// Interleaved stereo frames of a sine, the same on both channels.
std::vector<float> stereoSine(double hz, double amplitude, int frames, double rate = 48000, int start = 0) {
    std::vector<float> out(2 * static_cast<std::size_t>(frames));
    for (int n = 0; n < frames; ++n) {
        const float v =
            static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * (start + n) / rate));
        out[2 * n] = out[2 * n + 1] = v;
    }
    return out;
}

AudioBlock oneBuffer(const std::vector<float>& samples, std::size_t bytes = SIZE_MAX) {
    AudioBlock block;
    block.bufferCount = 1;
    block.buffers[0] = {samples.data(), bytes == SIZE_MAX ? samples.size() * sizeof(float) : bytes};
    return block;
}

struct CoreRig {
    VirtualLoop loop;
    VizAudioCore core{loop.makeSerialQueue("viz.audio.fft"), loop};
    std::vector<std::string> health;
    std::vector<std::pair<double, std::string>> timedHealth;  // each health line with the time it came
    std::vector<std::string> summaries;
    int rebuilds = 0;
    int bandSets = 0;
    int silentSets = 0;  // sets of all zeros

    explicit CoreRig(AudioFormat format = {48000, 2, true}) {
        core.onLog = [this](VizAudioCore::LogKind kind, std::string line) {
            if (kind == VizAudioCore::LogKind::health) timedHealth.emplace_back(loop.uptime(), line);
            (kind == VizAudioCore::LogKind::health ? health : summaries).push_back(std::move(line));
        };
        core.onNeedsRebuild = [this] { ++rebuilds; };
        core.onBands = [this](const VizBands& bands) {
            ++bandSets;
            if (bands == VizBands{}) ++silentSets;
        };
        EXPECT_EQ(core.configure(format), VizAudioError::none);
        loop.runUntilIdle();
    }

    // `ticks` of the drain timer on the virtual loop, each after a 960-frame block of a 1 kHz sine.
    void playTicks(int ticks) {
        for (int tick = 0; tick < ticks; ++tick) {
            core.ingest(oneBuffer(stereoSine(1000, 0.5, 960, 48000, tick * 960)));
            loop.advance(VizAudioCore::timerInterval);
        }
    }

    // Whether a block counts as a delivery from the capture: a drain a tenth of a second after the last
    // delivery takes the capture for paused and publishes silence, unless a block came in between.
    bool countsAsDelivery(const AudioBlock& block) {
        core.drain();
        loop.advance(0.15);
        const int silent = silentSets;
        core.ingest(block);
        core.drain();
        return silentSets == silent;
    }

    // The samples the blocks since the configure left waiting in the ring, as the analysis sees them: the
    // whole hops among them are analysed (all but the two that fill the first window; drains spread them,
    // so as many drains as it takes), and single frames of `channels` samples added until the next analysis
    // say how much of a hop was left over.
    std::size_t waitingInRing(int channels) {
        for (int before = -1; before != bandSets;) {
            before = bandSets;
            core.drain();
        }
        const int sets = bandSets;
        const std::vector<float> frame(channels, 0.25f);
        std::size_t added = 0;
        while (bandSets == sets) {
            core.ingest(oneBuffer(frame));
            core.drain();
            ++added;
        }
        return std::size_t(bandSets + 2) * VizAudioCore::hopSize - added;
    }

    // Ingests `frames` of a stereo sine in 1024-frame blocks and drains after each.
    void playSine(double hz, double amplitude, int frames) {
        for (int done = 0; done < frames; done += 1024) {
            const auto block = stereoSine(hz, amplitude, 1024, 48000, done);
            core.ingest(oneBuffer(block));
            core.drain();
        }
    }
};

// How a case lays out a hop of a full-scale sine exactly on bin 64 (1500 Hz at 48 kHz) as the capture would
// deliver it. The mix halves L + R: a silent or poisoned right channel halves the level.
enum class Layout {
    interleaved,
    interleavedRightSilent,
    interleavedLeftPoisoned,
    split,
    splitOneBuffer,
    splitNoSecondData,
    mono
};

AudioBlock hopOfSine(Layout layout, int hop, std::vector<float>& a, std::vector<float>& b,
                     double rate = 48000) {
    const auto stereo = stereoSine(rate * 64 / 2048, 1.0, 1024, rate, hop * 1024);
    AudioBlock block;
    block.bufferCount = 1;
    a.assign(stereo.begin(), stereo.end());
    b.assign(1024, 0.0f);
    switch (layout) {
        case Layout::interleaved:
            break;
        case Layout::interleavedRightSilent:
            for (std::size_t i = 1; i < a.size(); i += 2) a[i] = 0;
            break;
        case Layout::interleavedLeftPoisoned:
            for (std::size_t i = 0; i < a.size(); i += 2)
                a[i] =
                    i % 4 ? std::numeric_limits<float>::quiet_NaN() : -std::numeric_limits<float>::infinity();
            break;
        default:
            a.resize(1024);
            for (std::size_t i = 0; i < a.size(); ++i) a[i] = stereo[2 * i];
            block.bufferCount = layout == Layout::split || layout == Layout::splitNoSecondData ? 2 : 1;
            block.buffers[1] = {layout == Layout::split ? b.data() : nullptr, b.size() * sizeof(float)};
    }
    block.buffers[0] = {a.data(), a.size() * sizeof(float)};
    return block;
}

// What a bin-centred sine of amplitude 1 gives per FFT bin in the analysis' units (twice the DFT's
// magnitude) under the power-normalised Hann window 0.8165 (1 - cos): 2048 x 0.8165 in its bin, half that in
// each neighbour, nothing elsewhere. Each band is the mean of its bins.
VizBands expectedForBinCentredSine(const std::vector<std::pair<int, int>>& ranges, int bin) {
    constexpr double inBin = 2048 * 0.8165;
    VizBands expected{};
    for (int i = 0; i < vizBandCount; ++i) {
        double sum = 0;
        for (int k = ranges[i].first; k <= ranges[i].second; ++k)
            sum += k == bin ? inBin : std::abs(k - bin) == 1 ? inBin / 2 : 0.0;
        expected[i] = static_cast<float>(sum / (ranges[i].second - ranges[i].first + 1));
    }
    return expected;
}

TEST(VizAudioCore, AFullScaleSineGivesEveryBandItsLevelInRawUnitsWhateverTheLayout) {
    struct Case {
        const char* name;
        Layout layout;
        AudioFormat format;
        double scale;
    };
    const Case cases[] = {
        {"interleaved", Layout::interleaved, {48000, 2, true}, 1.0},
        {"interleaved, right silent", Layout::interleavedRightSilent, {48000, 2, true}, 0.5},
        {"interleaved, left NaN and infinities count as silence",
         Layout::interleavedLeftPoisoned,
         {48000, 2, true},
         0.5},
        {"split, right silent", Layout::split, {48000, 2, false}, 0.5},
        {"split with one buffer passes channel 0", Layout::splitOneBuffer, {48000, 2, false}, 1.0},
        {"split, second buffer without data", Layout::splitNoSecondData, {48000, 2, false}, 1.0},
        {"mono", Layout::mono, {48000, 1, true}, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoreRig rig(c.format);
        std::vector<float> a, b;
        for (int hop = 0; hop < 4; ++hop) {
            rig.core.ingest(hopOfSine(c.layout, hop, a, b));
            rig.core.drain();
        }
        const VizBands bands = rig.core.latestBands();
        const VizBands expected = expectedForBinCentredSine(VizAudioCore::bandEdges(48000), 64);
        for (int i = 0; i < vizBandCount; ++i)
            EXPECT_NEAR(bands[i], expected[i] * c.scale, 0.05 + 1e-4 * expected[i]) << "band " << i;
        // A second on, the audit sums the second up with the level of the last window.
        rig.loop.advance(1);
        rig.core.drain();
        ASSERT_FALSE(rig.summaries.empty());
        EXPECT_TRUE(std::isfinite(std::stod(rig.summaries.back().substr(4)))) << rig.summaries.back();
    }
}

// A tone between bins, worked out the long way: band 34 (bins 41 to 45) of a 1 kHz sine is the mean of
// twice the magnitude of a plain DFT of the frame (samples 1024 to 3071, the first analysed) under a Hann
// window of unit power (mean square 1).
TEST(VizAudioCore, ABandOfAToneMatchesADirectTransformUnderAUnitPowerWindow) {
    CoreRig rig;
    rig.playSine(1000, 0.5, 3 * 1024);
    const double twoPi = 2 * std::numbers::pi;
    double sum = 0;
    for (int k = 41; k <= 45; ++k) {
        std::complex<double> bin = 0;
        for (int i = 0; i < 2048; ++i)
            bin += std::sqrt(2.0 / 3) * (1 - std::cos(twoPi * i / 2048)) * 0.5 *
                   std::sin(twoPi * 1000 * (1024 + i) / 48000) * std::polar(1.0, -twoPi * k * i / 2048);
        sum += 2 * std::abs(bin);
    }
    EXPECT_NEAR(rig.core.latestBands()[34], sum / 5, sum / 5 * 2e-4);
}

TEST(VizAudioCore, FirstAnalysisRunsOnTheThirdHopAfterAConfigure) {
    CoreRig rig;
    rig.playSine(1000, 0.5, 2 * 1024);
    EXPECT_EQ(rig.bandSets, 0);
    EXPECT_EQ(rig.core.latestBands(), VizBands{});
    rig.playSine(1000, 0.5, 1024);
    EXPECT_EQ(rig.bandSets, 1);

    // A new format restarts the window: again two hops without analysis.
    ASSERT_EQ(rig.core.configure({44100, 2, true}), VizAudioError::none);
    rig.loop.runUntilIdle();
    rig.playSine(1000, 0.5, 2 * 1024);
    EXPECT_EQ(rig.bandSets, 1);
    rig.playSine(1000, 0.5, 1024);
    EXPECT_EQ(rig.bandSets, 2);
    // Fewer than a hop waits in the ring for the next drain: 24 frames more make the hop.
    rig.core.ingest(oneBuffer(stereoSine(1000, 0.5, 1000)));
    rig.core.drain();
    EXPECT_EQ(rig.bandSets, 2);
    rig.core.ingest(oneBuffer(stereoSine(1000, 0.5, 23, 48000, 1000)));
    rig.core.drain();
    EXPECT_EQ(rig.bandSets, 2);
    rig.core.ingest(oneBuffer(stereoSine(1000, 0.5, 1, 48000, 1023)));
    rig.core.drain();
    EXPECT_EQ(rig.bandSets, 3);
}

TEST(VizAudioCore, TonesPeakInTheirOwnBand) {
    // A 1 kHz tone at 48 kHz falls in bin 42.7, inside band 34 (bins 41 to 45).
    struct Case {
        double hz;
        int band;
    };
    for (const Case& c : {Case{1000, 34}, Case{200, 17}, Case{3000, 46}, Case{12000, 60}}) {
        CoreRig rig;
        rig.playSine(c.hz, 0.3, 4 * 1024);
        const VizBands bands = rig.core.latestBands();
        const auto loudest = std::max_element(bands.begin(), bands.end()) - bands.begin();
        EXPECT_EQ(loudest, c.band) << c.hz << " Hz";
    }
}

// A fragment of several hops gives one band set a drain, and the sets are those of the hops analysed one
// by one as they came; only what waits beyond a tenth of a second is analysed in the same drain.
// Stereo frames of something like music: a sweep with a beat, so that every hop's set differs from the next.
std::vector<float> music(int frames, int start) {
    std::vector<float> out(2 * static_cast<std::size_t>(frames));
    for (int n = 0; n < frames; ++n) {
        const double t = (start + n) / 48000.0;
        const float v = static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * (200 + 2000 * t) * t) *
                                           (1 + std::sin(2 * std::numbers::pi * 3 * t)));
        out[2 * n] = out[2 * n + 1] = v;
    }
    return out;
}

TEST(VizAudioCore, HopsThatComeTogetherArePublishedOneDrainApart) {
    struct Published {
        std::vector<VizBands> sets;
        void record(CoreRig& rig) {
            rig.core.onBands = [this](const VizBands& bands) { sets.push_back(bands); };
        }
    };
    CoreRig plain, spread;
    Published plainSets, spreadSets;
    plainSets.record(plain);
    spreadSets.record(spread);
    const int fragments[] = {3, 2, 2, 5, 1, 4, 2};  // hops in each fragment
    int start = 0;
    for (const int hops : fragments) {
        const auto block = music(hops * 1024, start);
        for (int hop = 0; hop < hops; ++hop) {
            plain.core.ingest(oneBuffer(music(1024, start + hop * 1024)));
            plain.core.drain();
        }
        start += hops * 1024;
        spread.core.ingest(oneBuffer(block));
        // The first fragment fills the window with two hops and analyses the third at once.
        const int sets = spreadSets.sets.empty() ? hops - 2 : hops;
        for (int drain = 0; drain < sets; ++drain) {
            const std::size_t before = spreadSets.sets.size();
            spread.core.drain();
            EXPECT_EQ(spreadSets.sets.size(), before + 1) << "one set a drain";
        }
        spread.core.drain();
        EXPECT_EQ(spreadSets.sets.size(), plainSets.sets.size()) << "no hop left waiting";
    }
    ASSERT_EQ(spreadSets.sets.size(), plainSets.sets.size());
    for (std::size_t i = 0; i < plainSets.sets.size(); ++i)
        EXPECT_EQ(spreadSets.sets[i], plainSets.sets[i]) << i;
    for (std::size_t i = 1; i < plainSets.sets.size(); ++i)
        EXPECT_NE(plainSets.sets[i], plainSets.sets[i - 1]);

    // Eight hops (0.17 s) at once: the drain analyses until no more than 0.1 s (4800 samples) waits.
    const std::size_t before = spreadSets.sets.size();
    spread.core.ingest(oneBuffer(music(8 * 1024, start)));
    spread.core.drain();
    EXPECT_EQ(spreadSets.sets.size(), before + 4);
    for (int drain = 0; drain < 4; ++drain) spread.core.drain();
    EXPECT_EQ(spreadSets.sets.size(), before + 8);

    // At 96 kHz one hop a drain would fall behind the input: a drain takes two and shows the newer.
    CoreRig fast({96000, 2, true});
    fast.core.ingest(oneBuffer(stereoSine(1000, 0.5, 7 * 1024, 96000)));
    fast.core.drain();
    EXPECT_EQ(fast.bandSets, 1) << "two hops fill the window, two more are taken";
    fast.core.drain();
    EXPECT_EQ(fast.bandSets, 2);
    fast.core.drain();
    EXPECT_EQ(fast.bandSets, 3) << "the last hop";
    fast.core.drain();
    EXPECT_EQ(fast.bandSets, 3);
}

// Read as often as the CPU path draws (30 times a second), the drains come a little more often than the
// reads and each shows the newest hop it took, the set a drain after every hop makes of it: the sets the
// reads never see are not made. Reads faster than the hops keep the 20 ms pace; slow ones drain every 50 ms.
TEST(VizAudioCore, DrainsFollowTheReadsAndShowTheNewestHop) {
    struct Case {
        double readInterval;
        double setsPerSecond;
    };
    for (const Case c : {Case{1.0 / 30, 30 / 0.95}, Case{1.0 / 60, 46.9}, Case{1.0, 20},
                         Case{std::numeric_limits<double>::quiet_NaN(), 46.9}}) {
        SCOPED_TRACE(c.readInterval);
        CoreRig every, paced;
        std::vector<VizBands> made, shown;
        every.core.onBands = [&made](const VizBands& bands) { made.push_back(bands); };
        paced.core.onBands = [&shown](const VizBands& bands) { shown.push_back(bands); };
        paced.core.setReadInterval(c.readInterval);
        paced.core.startTimer();
        paced.loop.runUntilIdle();
        // Four seconds of 720-frame blocks every 15 ms, as the capture hands them over; the first drains
        // after every block, so at every hop.
        for (int block = 0; block < 267; ++block) {
            const auto samples = music(720, block * 720);
            every.core.ingest(oneBuffer(samples));
            every.core.drain();
            paced.core.ingest(oneBuffer(samples));
            paced.loop.advance(0.015);
        }
        EXPECT_NEAR(double(shown.size()) / 4, c.setsPerSecond, 1.5);
        std::size_t at = 0;
        for (const VizBands& set : shown) {
            while (at < made.size() && made[at] != set) ++at;
            ASSERT_LT(at, made.size()) << "a set no hop makes, or one out of turn";
        }
    }
}

TEST(VizAudioCore, BandEdgesSpanFortyHertzToSixteenKilohertzOrJustBelowNyquist) {
    struct Case {
        double rate;
        std::pair<int, int> first, last;
    };
    // At 48 kHz a bin is 23.4375 Hz: band 0 is bin 1 alone, the top ends at 16 kHz (bin 682). At 32 kHz the
    // top is 0.95 of Nyquist, 15.2 kHz (bin 972 of 15.625 Hz).
    for (const Case& c : {Case{48000, {1, 1}, {621, 682}}, Case{32000, {2, 2}, {886, 972}},
                          Case{44100, {1, 2}, {676, 743}}}) {
        const auto ranges = VizAudioCore::bandEdges(c.rate);
        ASSERT_EQ(ranges.size(), 64u);
        EXPECT_EQ(ranges.front(), c.first) << c.rate;
        EXPECT_EQ(ranges.back(), c.last) << c.rate;
        for (std::size_t i = 1; i < ranges.size(); ++i) {
            EXPECT_LE(ranges[i].first, ranges[i].second);
            EXPECT_GE(ranges[i].first, ranges[i - 1].first);
        }
    }
}

TEST(VizAudioCore, RingTakesWhatFitsAndKeepsItsOrderAcrossTheWrap) {
    VizRingBuffer ring(8);
    const float a[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(ring.write(a, 5), 5u);
    EXPECT_EQ(ring.write(a, 5), 3u) << "a full ring drops the surplus";
    EXPECT_EQ(ring.write(a, 1), 0u);
    float out[8] = {};
    EXPECT_FALSE(ring.read(out, 9));
    ASSERT_TRUE(ring.read(out, 6));
    EXPECT_EQ(std::vector<float>(out, out + 6), (std::vector<float>{1, 2, 3, 4, 5, 1}));
    const float b[] = {7, 8, 9, 10, 11};
    EXPECT_EQ(ring.write(b, 5), 5u) << "the write wraps at the end of the storage";
    EXPECT_EQ(ring.available(), 7u);
    ASSERT_TRUE(ring.read(out, 7));
    EXPECT_EQ(std::vector<float>(out, out + 7), (std::vector<float>{2, 3, 7, 8, 9, 10, 11}));
    EXPECT_EQ(ring.available(), 0u);
}

TEST(VizAudioCore, BlocksAreCutToWholeFramesAndLongStereoBlocksAreDropped) {
    struct Case {
        const char* name;
        AudioFormat format;
        std::size_t samples;
        std::size_t bytes;
        std::size_t ringGains;
        std::uint64_t dropped;
    };
    const Case cases[] = {
        {"8192 stereo frames fit", {48000, 2, true}, 2 * 8192, 2 * 8192 * 4, 8192, 0},
        {"8193 stereo frames are dropped", {48000, 2, true}, 2 * 8193, 2 * 8193 * 4, 0, 1},
        {"a partial frame is cut", {48000, 2, true}, 2 * 100 + 1, 2 * 100 * 4 + 5, 100, 0},
        {"mono has no frame limit", {48000, 1, true}, 10000, 10000 * 4, 10000, 0},
        {"a ring-full mono block keeps what fits", {48000, 1, true}, 40000, 40000 * 4, 32768, 0},
        {"six interleaved channels mix the first two", {48000, 6, true}, 6 * 300, 6 * 300 * 4, 300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoreRig rig(c.format);
        const std::vector<float> samples(c.samples, 0.25f);
        EXPECT_TRUE(rig.countsAsDelivery(oneBuffer(samples, c.bytes))) << "a dropped block is a callback too";
        EXPECT_EQ(rig.core.droppedCallbacks(), c.dropped);
        EXPECT_EQ(rig.waitingInRing(c.format.channelCount), c.ringGains);
    }
}

TEST(VizAudioCore, GapsAndShortSecondChannelsWriteOnlyWhatIsThere) {
    CoreRig rig({48000, 2, false});
    // A gap (no data) counts as a callback and writes nothing.
    AudioBlock gap;
    gap.bufferCount = 1;
    gap.buffers[0] = {nullptr, 4096};
    EXPECT_TRUE(rig.countsAsDelivery(gap));
    EXPECT_TRUE(rig.countsAsDelivery(AudioBlock{}));
    EXPECT_EQ(rig.waitingInRing(1), 0u);
    // A shorter second channel limits the mix to what both hold.
    CoreRig shorter({48000, 2, false});
    const std::vector<float> left(600, 0.5f), right(200, 0.5f);
    AudioBlock block;
    block.bufferCount = 2;
    block.buffers[0] = {left.data(), left.size() * sizeof(float)};
    block.buffers[1] = {right.data(), right.size() * sizeof(float)};
    shorter.core.ingest(block);
    EXPECT_EQ(shorter.waitingInRing(1), 200u);
}

TEST(VizAudioCore, ConfigureRefusesFormatsItCannotAnalyseAndKeepsTheOldOne) {
    struct Case {
        double rate;
        int channels;
        VizAudioError error;
    };
    const Case cases[] = {
        {0, 2, VizAudioError::badSampleRate},
        {-48000, 2, VizAudioError::badSampleRate},
        {std::numeric_limits<double>::quiet_NaN(), 2, VizAudioError::badSampleRate},
        {std::numeric_limits<double>::infinity(), 2, VizAudioError::badSampleRate},
        {384001, 2, VizAudioError::badSampleRate},
        {48000, 0, VizAudioError::noChannels},
        {384000, 1, VizAudioError::none},
        {8000, 2, VizAudioError::none},
    };
    for (const Case& c : cases) {
        CoreRig rig({48000, 2, false});
        EXPECT_EQ(rig.core.configure({c.rate, c.channels, true}), c.error) << c.rate << " Hz " << c.channels;
        rig.loop.runUntilIdle();
        // A sine on bin 64 of the rate in force, laid out as the format in force delivers it, lands in the
        // bands that rate gives (a split block's silent right channel halves it).
        const bool kept = c.error != VizAudioError::none;
        const double rate = kept ? 48000 : c.rate;
        const Layout layout = kept ? Layout::split : c.channels == 1 ? Layout::mono : Layout::interleaved;
        std::vector<float> a, b;
        for (int hop = 0; hop < 4; ++hop) {
            rig.core.ingest(hopOfSine(layout, hop, a, b, rate));
            rig.core.drain();
        }
        const VizBands bands = rig.core.latestBands();
        const VizBands expected = expectedForBinCentredSine(VizAudioCore::bandEdges(rate), 64);
        const double scale = kept ? 0.5 : 1.0;
        for (int i = 0; i < vizBandCount; ++i)
            EXPECT_NEAR(bands[i], expected[i] * scale, 0.05 + 1e-4 * expected[i])
                << c.rate << " Hz " << c.channels << ", band " << i;
    }
}

// The audit with the drain timer running on the virtual loop: for `seconds` the capture calls back 50 times
// a second with blocks of `value` (not at all when `callbacks` is false). The audit acts once a second at a
// phase the test does not fix, so the phases below leave a second of margin either way.
void runSeconds(CoreRig& rig, double seconds, bool callbacks, float value = 0) {
    const std::vector<float> block(2 * 960, value);
    for (int tick = 0; tick < std::lround(seconds * 50); ++tick) {
        if (callbacks) rig.core.ingest(oneBuffer(block));
        rig.loop.advance(VizAudioCore::timerInterval);
    }
}

TEST(VizAudioCore, AuditRebuildsTwiceOnExactZerosThenStandsDownUntilSignalReturns) {
    CoreRig rig;
    rig.core.startTimer();
    rig.loop.runUntilIdle();
    runSeconds(rig, 1, true, 0.1f);
    runSeconds(rig, 4, true, 0.0f);
    EXPECT_EQ(rig.rebuilds, 0) << "fewer than five silent seconds";
    runSeconds(rig, 2, true, 0.0f);
    EXPECT_EQ(rig.rebuilds, 1);
    ASSERT_FALSE(rig.health.empty());
    EXPECT_EQ(rig.health.back(), "health: 5s of exact-zero samples with a live IOProc — full rebuild #1");
    runSeconds(rig, 5, true, 0.0f);
    EXPECT_EQ(rig.rebuilds, 2);
    EXPECT_EQ(rig.health.back(), "health: 5s of exact-zero samples with a live IOProc — full rebuild #2");
    runSeconds(rig, 6, true, 0.0f);
    EXPECT_EQ(rig.health.back(), "health: standing down (2 rebuilds; waiting for signal or device change)");
    const auto linesBefore = rig.health.size();
    runSeconds(rig, 10, true, 0.0f);
    EXPECT_EQ(rig.rebuilds, 2) << "two rebuilds at the most";
    EXPECT_EQ(rig.health.size(), linesBefore) << "standing down is said once";

    runSeconds(rig, 1.5, true, 0.2f);
    EXPECT_EQ(rig.health.size(), linesBefore + 1);
    EXPECT_EQ(rig.health.back(), "health: signal restored");
    // …and the count starts over.
    runSeconds(rig, 6.5, true, 0.0f);
    EXPECT_EQ(rig.rebuilds, 3);
}

// The audit's times (in hundredths of a second) with the drain timer started at 0: five whole seconds of
// exact zeros from a playing output ask for a rebuild, five more for the second, five more stand down. Only
// seconds the output played throughout count; "idle" is said only of callbacks that came and stopped.
TEST(VizAudioCore, AuditSchedule) {
    struct Stretch {
        double seconds;
        bool blocks, playing;
        float value;
    };
    const std::string r1 = "full rebuild #1", r2 = "full rebuild #2", down = "standing down",
                      idle = "IOProc idle", back = "callbacks resumed";
    const std::pair<std::vector<Stretch>, std::vector<std::string>> cases[] = {
        {{{30, true, true, 0}}, {"500 " + r1, "1000 " + r2, "1500 " + down}},
        // The count starts at the first silent second; the signal's return resets it.
        {{{2.5, true, true, 0.1f}, {17, true, true, 0}, {1, true, true, 0.2f}},
         {"800 " + r1, "1300 " + r2, "1800 " + down, "2000 signal restored"}},
        // An output that stops pauses the count, which restarts with the block that wakes the timer.
        {{{3.5, true, true, 0}, {3.5, false, false, 0}, {11, true, true, 0}}, {"1200 " + r1, "1700 " + r2}},
        // An idle output's zeros never count; once it plays, its first whole second does.
        {{{20.5, true, false, 0}, {7, true, true, 0}}, {"2600 " + r1}},
        // Callbacks late at the start are not idle; callbacks that stop are.
        {{{1.5, false, true, 0}, {1.5, true, true, 0.1f}, {2, false, true, 0}, {2, true, true, 0.1f}},
         {"450 " + idle, "600 " + back}},
    };
    for (const auto& [script, expected] : cases) {
        CoreRig rig;
        rig.core.startTimer();
        rig.loop.runUntilIdle();
        for (const Stretch& stretch : script) {
            rig.core.setOutputPlaying(stretch.playing);
            runSeconds(rig, stretch.seconds, stretch.blocks, stretch.value);
        }
        rig.loop.advance(VizAudioCore::timerInterval / 2);
        std::vector<std::string> said;
        for (const auto& [at, line] : rig.timedHealth)
            for (const std::string& what : {r1, r2, down, idle, back, std::string("signal restored")})
                if (line.find(what) != std::string::npos)
                    said.push_back(std::to_string(std::lround(at * 100)) + " " + what);
        EXPECT_EQ(said, expected);
    }
}

TEST(VizAudioCore, AnIdleCaptureNeverCountsAsSilence) {
    CoreRig rig;
    rig.core.startTimer();
    rig.loop.runUntilIdle();
    runSeconds(rig, 3, true, 0.0f);
    runSeconds(rig, 20, false);
    EXPECT_EQ(rig.rebuilds, 0);
    EXPECT_EQ(std::count(rig.health.begin(), rig.health.end(),
                         "health: IOProc idle (no callbacks) — zero-audit paused"),
              1);
    // Callbacks resume; the silent seconds before the pause were forgotten.
    runSeconds(rig, 4, true, 0.0f);
    EXPECT_EQ(rig.health.back(), "health: IOProc callbacks resumed — zero-audit active");
    EXPECT_EQ(rig.rebuilds, 0);
    runSeconds(rig, 2, true, 0.0f);
    EXPECT_EQ(rig.rebuilds, 1);

    // Stopped, the timer drains and audits no more.
    rig.core.stopTimer();
    rig.loop.runUntilIdle();
    const auto lines = rig.health.size() + rig.summaries.size();
    runSeconds(rig, 10, true, 0.0f);
    EXPECT_EQ(rig.health.size() + rig.summaries.size(), lines);
    EXPECT_EQ(rig.rebuilds, 1);
}

TEST(VizAudioCore, APausedCaptureFallsSilentAndItsTimerSleepsUntilTheNextBlock) {
    CoreRig rig;
    rig.core.startTimer();
    rig.loop.runUntilIdle();
    rig.playTicks(50);
    ASSERT_GT(rig.core.latestBands()[34], 1.0f);

    // The capture pauses (its output went idle): a tenth of a second later the bands are silence, once.
    const int sets = rig.bandSets;
    runSeconds(rig, 0.06, false);
    EXPECT_GT(rig.core.latestBands()[34], 1.0f) << "too soon";
    runSeconds(rig, 0.1, false);
    EXPECT_EQ(rig.core.latestBands(), VizBands{});
    EXPECT_EQ(rig.bandSets, sets + 1);
    // At the first audit that found no block the timer goes to sleep: nothing wakes the queue any more.
    runSeconds(rig, 2, false);
    EXPECT_EQ(rig.loop.pendingTimers(), 0u);
    EXPECT_EQ(rig.bandSets, sets + 1);

    // The next block wakes it, and the music shows again from a silent window.
    rig.playTicks(10);
    EXPECT_GT(rig.core.latestBands()[34], 1.0f);
    EXPECT_GT(rig.loop.pendingTimers(), 0u);
}

TEST(VizAudioCore, SummaryNamesTheLoudestBandsAndDrawsTheSpectrum) {
    CoreRig rig;
    rig.core.startTimer();
    rig.loop.runUntilIdle();
    rig.playTicks(60);
    ASSERT_FALSE(rig.summaries.empty());
    const std::string& line = rig.summaries.back();
    EXPECT_EQ(line.rfind("rms=0.35", 0), 0u) << line;  // a sine of amplitude 0.5 has an RMS of 0.354
    EXPECT_NE(line.find(" top[34:"), std::string::npos) << line;
    const auto bar = line.find('|');
    ASSERT_NE(bar, std::string::npos);
    const std::string spark = line.substr(bar + 1, 64);
    EXPECT_EQ(spark[34], '@') << line;
    EXPECT_EQ(spark[0], ' ') << line;
    EXPECT_EQ(line.back(), '|');
}

TEST(VizAudioCore, IngestAndAnalysisAllocateNothing) {
    if (!canCountAllocations())
        GTEST_SKIP() << "allocations are counted in sanitizer builds and the benchmark";
    CoreRig rig;
    rig.playSine(1000, 0.5, 4 * 1024);  // the audit logs its first summary here
    const auto block = stereoSine(1000, 0.5, 1024);
    const int before = rig.bandSets;
    long allocations = 0;
    {
        AllocationCounter counter;
        for (int i = 0; i < 20; ++i) {
            rig.core.ingest(oneBuffer(block));
            rig.core.drain();
        }
        allocations = counter.count();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(rig.bandSets - before, 20);
}

TEST(VizBandsExchange, AReaderRacingThePublisherNeverSeesATornSet) {
    VizBandsExchange exchange;
    // The writer goes on until the reader has read many times while it wrote: on a loaded machine a fixed
    // number of sets can be written before the reader's first read, and then nothing raced.
    // Sets are numbered in floats, exact up to 2^24.
    constexpr int atLeastSets = 200000, racedReads = 1000, mostSets = 1 << 24;
    std::atomic<int> reads{0};
    std::atomic<int> written{0};
    std::thread writer([&] {
        int k = 0;
        while (k < mostSets && (k < atLeastSets || reads.load() < racedReads)) {
            ++k;
            exchange.back().fill(static_cast<float>(k));
            exchange.publish();
        }
        written = k;
    });
    float last = 0;
    int torn = 0, backwards = 0;
    while (written.load() == 0 || last < static_cast<float>(written.load())) {
        const VizBands bands = exchange.latest();
        ++reads;
        for (float v : bands) torn += v != bands[0];
        backwards += bands[0] < last;
        last = bands[0];
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(last, static_cast<float>(written.load())) << "the reader ends on the newest set";
}

}  // namespace
}  // namespace velaro::test
