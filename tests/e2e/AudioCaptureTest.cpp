// System audio in the test desktop: tones played into the PulseAudio null sink reach the visualizer's bands
// through the real capture, also after the default output changes and after the sound server restarts, and
// the app itself reports what it hears.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/QtMainLoop.h"
#include "e2e/E2eSupport.h"
#include "e2e/SoundOutputs.h"
#include "music/MusicVisualizerAudioEngine.h"
#include "platform/linux/PulseAudioCapture.h"
#include "support/LogCapture.h"

namespace velaro::e2e {
namespace {

// A 1 kHz tone lands in band 34 at 48 kHz, 3 kHz in band 46.
constexpr int kBandOf1kHz = 34;
constexpr int kBandOf3kHz = 46;

bool haveSoundServer() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

#define VELARO_REQUIRE_SOUND_SERVER()                                                    \
    do {                                                                                 \
        VELARO_REQUIRE_DESKTOP();                                                        \
        if (!haveSoundServer()) GTEST_SKIP() << "the test desktop runs no sound server"; \
    } while (0)

// A sine played into a sink with pacat, keeping `bufferMs` buffered, for as long as the object lives (at
// most `seconds`).
class Tone {
public:
    Tone(double hz, const QString& sink, double seconds = 20, int bufferMs = 50) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(
            QStringLiteral("pacat"),
            {QStringLiteral("--playback"), QStringLiteral("--raw"), QStringLiteral("--device=") + sink,
             QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
             QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=%1").arg(bufferMs)});
        process_.waitForStarted(5000);
        const int frames = static_cast<int>(seconds * 48000);
        QByteArray samples(frames * 2 * static_cast<int>(sizeof(float)), Qt::Uninitialized);
        auto* out = reinterpret_cast<float*>(samples.data());
        for (int n = 0; n < frames; ++n)
            out[2 * n] = out[2 * n + 1] =
                static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * hz * n / 48000));
        process_.write(samples);
    }
    ~Tone() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    bool started() const { return process_.state() == QProcess::Running; }

private:
    QProcess process_;
};

CommandResult pactl(const QStringList& arguments) {
    return run(QStringLiteral("pactl"), arguments);
}

// A second null sink for the length of a test; the first one is the default again afterwards.
class SecondSink {
public:
    SecondSink() {
        const auto r = pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                              QStringLiteral("sink_name=velaro_null2")});
        module_ = QString::fromLatin1(r.out).trimmed();
    }
    ~SecondSink() {
        pactl({QStringLiteral("set-default-sink"), QStringLiteral("velaro_null")});
        if (!module_.isEmpty()) pactl({QStringLiteral("unload-module"), module_});
    }
    bool loaded() const { return !module_.isEmpty(); }

private:
    QString module_;
};

// The band that stands out: the loudest, and well above the median of all.
int dominantBand(const VizBands& bands) {
    VizBands sorted = bands;
    std::sort(sorted.begin(), sorted.end());
    const auto loudest = std::max_element(bands.begin(), bands.end());
    if (*loudest < 1.0f || *loudest < 10 * sorted[vizBandCount / 2]) return -1;
    return static_cast<int>(loudest - bands.begin());
}

struct RunningEngine {
    test::LogCapture log;  // a failed set-up says there which step failed
    QtMainLoop loop;
    MusicVisualizerAudioEngine engine{loop, std::make_unique<PulseAudioCapture>(loop)};

    bool hears(int band, std::chrono::milliseconds within) {
        return waitUntil([&] { return dominantBand(engine.latestBands()) == band; }, within);
    }
};

TEST(AudioCaptureTest, AToneInTheDefaultSinkShowsInItsBandAndStopsWhenItEnds) {
    VELARO_REQUIRE_SOUND_SERVER();
    RunningEngine e;
    e.engine.start();
    ASSERT_TRUE(e.engine.isRunning()) << testing::PrintToString(e.log.lines);
    {
        Tone tone(1000, QStringLiteral("velaro_null"));
        ASSERT_TRUE(tone.started());
        EXPECT_TRUE(e.hears(kBandOf1kHz, std::chrono::seconds(3)))
            << "dominant band " << dominantBand(e.engine.latestBands());
    }
    EXPECT_TRUE(e.hears(-1, std::chrono::seconds(3))) << "the tone stopped; the bands fall silent";
    e.engine.stop();
}

TEST(AudioCaptureTest, WhileTheOutputPlaysNothingNoBlockComes) {
    VELARO_REQUIRE_SOUND_SERVER();
    QtMainLoop loop;
    PulseAudioCapture capture(loop);
    const auto opened = capture.open();
    ASSERT_TRUE(opened.ok) << opened.failure.step;
    std::atomic<int> blocks{0};
    capture.startDelivery([&](const AudioBlock&) { ++blocks; });
    // Blocks stop coming within a moment of the start, and again of the end of a tone.
    auto stillFor = [&](std::chrono::milliseconds span) {
        int seen = blocks;
        return waitUntil(
            [&, since = std::chrono::steady_clock::now()]() mutable {
                if (blocks != seen) {
                    seen = blocks;
                    since = std::chrono::steady_clock::now();
                }
                return std::chrono::steady_clock::now() - since >= span;
            },
            std::chrono::seconds(5));
    };
    EXPECT_TRUE(stillFor(std::chrono::seconds(1))) << "the idle output's silence keeps coming";
    {
        Tone tone(1000, QStringLiteral("velaro_null"));
        ASSERT_TRUE(tone.started());
        const int before = blocks;
        EXPECT_TRUE(waitUntil([&] { return blocks > before + 10; }, std::chrono::seconds(3)))
            << "no blocks while the tone plays";
    }
    EXPECT_TRUE(stillFor(std::chrono::seconds(1))) << "blocks go on after the tone ended";
    capture.close();
}

TEST(AudioCaptureTest, AfterTheDefaultOutputChangesAToneThereShows) {
    VELARO_REQUIRE_SOUND_SERVER();
    SecondSink second;
    ASSERT_TRUE(second.loaded());
    RunningEngine e;
    e.engine.start();
    ASSERT_TRUE(e.engine.isRunning()) << testing::PrintToString(e.log.lines);

    Tone elsewhere(3000, QStringLiteral("velaro_null2"));
    ASSERT_TRUE(elsewhere.started());
    EXPECT_FALSE(e.hears(kBandOf3kHz, std::chrono::milliseconds(1500))) << "not the default output yet";

    ASSERT_EQ(pactl({QStringLiteral("set-default-sink"), QStringLiteral("velaro_null2")}).exitCode, 0);
    EXPECT_TRUE(e.hears(kBandOf3kHz, std::chrono::seconds(3)))
        << "dominant band " << dominantBand(e.engine.latestBands());
    EXPECT_TRUE(e.engine.isRunning());
    e.engine.stop();
}

TEST(AudioCaptureTest, StartedWithoutAnyOutputTheEngineWaitsAndHearsTheNextOne) {
    VELARO_REQUIRE_SOUND_SERVER();
    RunningEngine e;
    OutputUnplugged unplugged;
    ASSERT_TRUE(unplugged.unloaded());
    e.engine.start();
    EXPECT_TRUE(e.engine.isRunning()) << "no output is no failure: " << testing::PrintToString(e.log.lines);
    // The output is captured as soon as it is back: a tone 2 s later shows at once. (The test desktop's
    // null sink hands its monitor the first sound 2 s after it is made, whoever listens.)
    unplugged.restore();
    waitUntil([] { return false; }, std::chrono::seconds(2));
    Tone tone(1000, QStringLiteral("velaro_null"));
    EXPECT_TRUE(e.hears(kBandOf1kHz, std::chrono::seconds(2)))
        << "dominant band " << dominantBand(e.engine.latestBands());
    e.engine.stop();
}

TEST(AudioCaptureTest, ASoundServerRestartBringsTheBandsBackWithinTheBackOff) {
    VELARO_REQUIRE_SOUND_SERVER();
    RunningEngine e;
    e.engine.start();
    ASSERT_TRUE(e.engine.isRunning()) << testing::PrintToString(e.log.lines);

    const auto restart = run(sourceDir() + QStringLiteral("/scripts/desktop-session"),
                             {QStringLiteral("restart-audio")}, std::chrono::seconds(60));
    ASSERT_EQ(restart.exitCode, 0) << restart.describe().toStdString();
    // Retries come 0.5, 1, 2, 4 s apart: a server back within a second or two is found within 8 s.
    Tone tone(1000, QStringLiteral("velaro_null"));
    ASSERT_TRUE(tone.started());
    EXPECT_TRUE(e.hears(kBandOf1kHz, std::chrono::seconds(10)))
        << "dominant band " << dominantBand(e.engine.latestBands());
    EXPECT_TRUE(e.engine.isRunning()) << "the capture reconnected by itself";
    e.engine.stop();
}

// When a diagnostic line holding a text was first written, from whatever thread wrote it; the lines go
// nowhere else while this lives.
class LineTimer {
public:
    using Clock = std::chrono::steady_clock;
    explicit LineTimer(std::string text)
        : text_(std::move(text)), previous_(setLogSink([this](std::string_view, std::string_view message) {
              if (message.find(text_) != std::string_view::npos && firstAt_ == 0)
                  firstAt_ = Clock::now().time_since_epoch().count();
          })) {}
    ~LineTimer() { setLogSink(std::move(previous_)); }
    LineTimer(const LineTimer&) = delete;
    LineTimer& operator=(const LineTimer&) = delete;
    std::optional<Clock::time_point> firstAt() const {
        const auto at = firstAt_.load();
        if (at == 0) return std::nullopt;
        return Clock::time_point(Clock::duration(at));
    }

private:
    const std::string text_;
    std::atomic<Clock::rep> firstAt_{0};
    LogSink previous_;
};

// Retries after a loss wait 0.5, 1, 2, 4 and 8 s: a server away for 8 s would be tried again only 15.5 s
// after it went, about 7 s after its return. Its socket's return is noticed instead.
TEST(AudioCaptureTest, AfterALongOutageCaptureResumesWithinASecondOfTheServersReturn) {
    VELARO_REQUIRE_SOUND_SERVER();
    RunningEngine e;
    e.engine.start();
    ASSERT_TRUE(e.engine.isRunning()) << testing::PrintToString(e.log.lines);
    LineTimer reconnected("capture reconnected");

    const auto restart = run(sourceDir() + QStringLiteral("/scripts/desktop-session"),
                             {QStringLiteral("restart-audio"), QStringLiteral("--down"), QStringLiteral("8")},
                             std::chrono::seconds(60));
    ASSERT_EQ(restart.exitCode, 0) << restart.describe().toStdString();
    // The script returns once the server takes clients and has its output.
    const auto back = LineTimer::Clock::now();
    ASSERT_TRUE(waitUntil([&] { return reconnected.firstAt().has_value(); }, std::chrono::seconds(10)))
        << "the capture did not reconnect";
    EXPECT_LE(*reconnected.firstAt() - back, std::chrono::seconds(1));
    Tone tone(1000, QStringLiteral("velaro_null"));
    ASSERT_TRUE(tone.started());
    EXPECT_TRUE(e.hears(kBandOf1kHz, std::chrono::seconds(5)))
        << "dominant band " << dominantBand(e.engine.latestBands());
    e.engine.stop();
}

// A player that keeps 200 ms buffered leaves the output's pace to the capture: the server hands over
// fragments of two hops. The analysis still publishes a band set at every tick, about 47 a second, not two
// at once every fragment (which the display would show as one).
TEST(AudioCaptureTest, FragmentsOfSeveralHopsStillChangeTheBandsAtEveryTick) {
    VELARO_REQUIRE_SOUND_SERVER();
    using Clock = std::chrono::steady_clock;
    QtMainLoop loop;
    VizAudioCore core(loop.makeSerialQueue("viz.audio.fft"), loop);
    std::mutex mutex;
    std::vector<Clock::time_point> sets;
    // The frames of each delivery: blocks that come within a few milliseconds of each other are one.
    std::vector<std::size_t> deliveries;
    Clock::time_point lastBlock;
    core.onBands = [&](const VizBands& bands) {
        const std::lock_guard lock(mutex);
        if (bands != VizBands{}) sets.push_back(Clock::now());
    };
    // Declared after the core, so that it ends first: no block reaches a core that is gone.
    PulseAudioCapture capture(loop);
    const auto opened = capture.open();
    ASSERT_TRUE(opened.ok) << opened.failure.step;
    ASSERT_EQ(core.configure(opened.format), VizAudioError::none);
    capture.startDelivery([&](const AudioBlock& block) {
        core.ingest(block);
        const std::lock_guard lock(mutex);
        const auto now = Clock::now();
        if (deliveries.empty() || now - lastBlock > std::chrono::milliseconds(5)) deliveries.push_back(0);
        deliveries.back() += block.buffers[0].byteSize / (sizeof(float) * opened.format.channelCount);
        lastBlock = now;
    });
    core.startTimer();

    Tone tone(1000, QStringLiteral("velaro_null"), 20, 200);
    ASSERT_TRUE(tone.started());
    // Two seconds of sets once they flow.
    const auto enough = [&] {
        const std::lock_guard lock(mutex);
        return sets.size() >= 10 && sets.back() - sets[9] >= std::chrono::seconds(2);
    };
    ASSERT_TRUE(waitUntil(enough, std::chrono::seconds(10))) << sets.size() << " band sets";
    capture.close();
    core.stopTimer();

    const std::lock_guard lock(mutex);
    ASSERT_GT(deliveries.size(), 10u);
    std::vector<std::size_t> sizes(deliveries.begin() + 5, deliveries.end() - 1);
    std::sort(sizes.begin(), sizes.end());
    EXPECT_GE(sizes[sizes.size() / 2], 3 * std::size_t(VizAudioCore::hopSize) / 2) << "frames a delivery";
    // What a display can show: sets published within a few milliseconds of each other are one change.
    std::vector<Clock::time_point> changes;
    for (std::size_t i = 10; i < sets.size(); ++i)
        if (changes.empty() || sets[i] - changes.back() > std::chrono::milliseconds(5))
            changes.push_back(sets[i]);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < changes.size(); ++i)
        gaps.push_back(std::chrono::duration<double>(changes[i] - changes[i - 1]).count());
    std::sort(gaps.begin(), gaps.end());
    const double seconds = std::chrono::duration<double>(changes.back() - changes.front()).count();
    // One set a tick: 20 ms apart, with a tick now and then that finds no hop (a hop is 21.3 ms): about 47
    // changes a second. Two hops analysed together would change the bands 23 times a second.
    EXPECT_GT(gaps.size() / seconds, 38) << "changes of the bands a second";
    EXPECT_LT(gaps[gaps.size() / 2], 0.03) << "median time between changes";
}

// The app with the visualizer on and its debug summary lines, over its own settings file.
class DebugApp {
public:
    explicit DebugApp(const QProcessEnvironment& base = QProcessEnvironment::systemEnvironment()) {
        QDir(dir_.path()).mkpath(QStringLiteral("Velaro"));
        QFile file(dir_.filePath(QStringLiteral("Velaro/defaults.json")));
        if (file.open(QIODevice::WriteOnly)) file.write(R"({"onboardingStep": 4, "vizEnabled": true})");
        file.close();
        auto environment = base;
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
        environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                           QStringLiteral("velaro.music.audio.debug=true"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process_.setProcessEnvironment(environment);
        process_.start(binDir() + QStringLiteral("/velaro"), {});
        process_.waitForStarted(5000);
    }
    ~DebugApp() {
        process_.terminate();
        if (!process_.waitForFinished(8000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    // Waits for a line of the app's diagnostics that contains `text`.
    bool says(const QByteArray& text, std::chrono::milliseconds within) {
        return waitUntil(
            [&] {
                process_.waitForReadyRead(50);
                err_ += process_.readAllStandardError();
                return err_.contains(text);
            },
            within);
    }
    const QByteArray& said() const { return err_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QByteArray err_;
};

TEST(AudioCaptureTest, TheAppHearsATone) {
    VELARO_REQUIRE_SOUND_SERVER();
    if (!QFile::exists(binDir() + QStringLiteral("/velaro"))) GTEST_SKIP() << "the app is not built";
    DebugApp app;
    Tone tone(1000, QStringLiteral("velaro_null"));
    EXPECT_TRUE(app.says("top[" + QByteArray::number(kBandOf1kHz) + ":", std::chrono::seconds(10)))
        << app.said().toStdString();
}

TEST(AudioCaptureTest, WithoutASoundServerTheAppSaysWhichStepFailed) {
    VELARO_REQUIRE_DESKTOP();
    if (!QFile::exists(binDir() + QStringLiteral("/velaro"))) GTEST_SKIP() << "the app is not built";
    QTemporaryDir nowhere;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + nowhere.filePath("none"));
    DebugApp app(environment);
    EXPECT_TRUE(
        app.says("VIZ-AUDIO capture set-up failed: step=tap-create status=", std::chrono::seconds(10)))
        << app.said().toStdString();
}

}  // namespace
}  // namespace velaro::e2e
