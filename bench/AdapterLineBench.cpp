// One merging position line of the adapter's stream through the now-playing engine: split, parse, merge,
// state update and a snapshot, against parsing the same bytes as JSON alone (goal: at most 2×).
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include "base/Log.h"
#include "base/QtMainLoop.h"
#include "music/MusicProgressEngine.h"

namespace {

using namespace velaro;

const std::string kTrackLine =
    R"({"type":"data","diff":false,"payload":{"bundleIdentifier":"org.mpris.MediaPlayer2.player","title":"A Song",)"
    R"("artist":"A Band","duration":215.3,"elapsedTime":12.5,"timestamp":"2024-05-01T12:00:00.250Z",)"
    R"("playing":true,"playbackRate":1,"uniqueIdentifier":"org.mpris.MediaPlayer2.player/track/7"}})"
    "\n";
const std::string kPositionLine =
    R"({"type":"data","diff":true,"payload":{"elapsedTime":42.75,"timestamp":"2024-05-01T12:00:30.250Z"}})"
    "\n";

// Hands the stream's output handler to the benchmark, which writes the lines itself.
class DirectLauncher final : public ProcessLauncher {
    class Child final : public ChildProcess {
    public:
        int pid() const override { return 1; }
        bool isRunning() const override { return true; }
        bool signal(int) override { return true; }
        void terminate() override {}
        void dropHandlers() override {}
    };

public:
    std::shared_ptr<ChildProcess> launch(const Spec& spec, Handlers handlers, std::string*) override {
        // Only the stream's output is written; the artwork's "get" just runs.
        if (spec.arguments.front() == "stream") output = std::move(handlers.onOutput);
        return std::make_shared<Child>();
    }
    std::function<void(std::string_view)> output;
};

void BM_AdapterLine(benchmark::State& state) {
    const LogSink previous = setLogSink([](std::string_view, std::string_view) {});
    QtMainLoop loop;  // a position line queues nothing on it
    DirectLauncher launcher;
    MusicProgressEngine engine(MusicProgressEngine::Services{
        .loop = loop,
        .launcher = launcher,
        .locateAdapter = [] { return std::optional<std::string>("/bench/velaro-media-adapter"); },
        .onWillTerminate = {},
    });
    engine.start();
    launcher.output(kTrackLine);
    if (!engine.snapshot().isValid) state.SkipWithError("the track line did not make a valid track");
    for (auto _ : state) {
        launcher.output(kPositionLine);
        benchmark::DoNotOptimize(engine.snapshot());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kPositionLine.size()));
    engine.stop();
    setLogSink(previous);
}
BENCHMARK(BM_AdapterLine);

void BM_AdapterLine_Baseline(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(kPositionLine));
    state.SetBytesProcessed(state.iterations() * std::int64_t(kPositionLine.size()));
}
BENCHMARK(BM_AdapterLine_Baseline);

}  // namespace
