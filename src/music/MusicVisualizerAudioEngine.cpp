// Set-up, rebuild and tear-down of the capture around the band analysis.
#include "music/MusicVisualizerAudioEngine.h"

#include <string>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "platform/AudioCapture.h"

namespace velaro {

namespace {
constexpr const char* kTag = "VIZ-AUDIO";
static_assert(AudioCapture::maxBlockFrames <= VizAudioCore::maxCallbackFrames,
              "the analysis must take every block the capture delivers");
}  // namespace

MusicVisualizerAudioEngine::MusicVisualizerAudioEngine(MainLoop& loop, std::unique_ptr<AudioCapture> capture,
                                                       bool logSummaries)
    : loop_(loop), capture_(std::move(capture)), core_(loop.makeSerialQueue("viz.audio.fft"), loop) {
    // Both run on the analysis' queue, which the core empties before the engine is gone.
    core_.onLog = [logSummaries](VizAudioCore::LogKind kind, const std::string& line) {
        if (kind == VizAudioCore::LogKind::health)
            qCInfo(lcAudio) << tagged(kTag, line);
        else if (logSummaries)
            qCDebug(lcAudio) << tagged(kTag, line);
    };
    // The token is taken here, on the main thread; the queue only copies it.
    core_.onNeedsRebuild = [this, token = lifetime_.token()] {
        loop_.post([this, token] {
            if (token.aliveHere()) rebuild();
        });
    };
    // Straight from the capture's thread, ahead of the blocks it concerns: the audit must know an idle
    // output's zeros for what they are before it sees them.
    capture_->setOnOutputPlaying([core = &core_](bool playing) { core->setOutputPlaying(playing); });
}

MusicVisualizerAudioEngine::~MusicVisualizerAudioEngine() {
    lifetime_.end();
    stop();
    // The core goes before the capture.
    capture_->setOnOutputPlaying({});
}

void MusicVisualizerAudioEngine::start() {
    if (running_) return;
    if (!setup()) return;
    running_ = true;
    core_.startTimer();
    listenForOutputChanges();
}

void MusicVisualizerAudioEngine::stop() {
    if (!running_) return;
    stopListening();
    core_.stopTimer();
    // Once this returns no block reaches the core.
    capture_->close();
    running_ = false;
}

bool MusicVisualizerAudioEngine::setup() {
    const AudioCapture::OpenResult opened = capture_->open();
    std::string failure;
    if (!opened.ok) {
        failure = "step=" + opened.failure.step + " status=" + std::to_string(opened.failure.status);
    } else if (const VizAudioError error = core_.configure(opened.format); error != VizAudioError::none) {
        failure = std::string("step=format-read status=n/a (") + describe(error) + ")";
        capture_->close();
    } else {
        capture_->startDelivery([core = &core_](const AudioBlock& block) { core->ingest(block); });
        return true;
    }
    qCWarning(lcAudio) << tagged(kTag, "capture set-up failed: " + failure);
    return false;
}

void MusicVisualizerAudioEngine::rebuild() {
    if (!running_) return;
    capture_->close();
    if (setup()) return;
    core_.stopTimer();
    stopListening();
    running_ = false;
    // Last: the owner learns the engine stopped, and may let it go.
    if (onFailure_) onFailure_();
}

void MusicVisualizerAudioEngine::listenForOutputChanges() {
    capture_->setOnOutputChanged([this] {
        // Replacing the pending rebuild cancels it: a burst of changes rebuilds once, after the last.
        rebuildDebounce_ = loop_.postAfter(outputChangeDebounce, [this] { rebuild(); });
    });
}

void MusicVisualizerAudioEngine::stopListening() {
    capture_->setOnOutputChanged({});
    rebuildDebounce_.cancel();
}

}  // namespace velaro
