// The now-playing engine: one per process, owned by the app's services and started and stopped by the shell
// as the music features demand. It runs the media adapter's stream and keeps it alive, turns its lines into
// now-playing state, and tells one listener when the picture changes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "base/Cancellable.h"
#include "base/Color.h"
#include "base/MainLoop.h"
#include "music/NowPlayingState.h"
#include "platform/ChildProcess.h"

namespace velaro {

class MusicProgressEngine {
public:
    struct Services {
        MainLoop& loop;
        ProcessLauncher& launcher;
        // Where the adapter program is now; asked before every launch. None when it is missing.
        std::function<std::optional<std::string>()> locateAdapter;
        // Registers a block to run when the application is about to quit; asked once.
        std::function<void(std::function<void()>)> onWillTerminate;
        // Writes the once-a-second position line ("PROG elapsed=…"), for debugging.
        bool positionSummary = false;
    };

    explicit MusicProgressEngine(Services services);
    ~MusicProgressEngine();
    MusicProgressEngine(const MusicProgressEngine&) = delete;
    MusicProgressEngine& operator=(const MusicProgressEngine&) = delete;

    // Starts the adapter's stream; does nothing while already started. Any thread.
    void start();
    // Ends the stream and forgets the track; the stored payload stays until the next launch. Any thread.
    void stop();
    bool isRunning() const;

    // The picture now, extrapolated to this moment. Any thread; allocates nothing.
    ProgressSnapshot snapshot() const;
    // The one change listener, called on the main loop when a track comes or goes, becomes seekable or
    // not, or starts or stops playing. A call queued before it is replaced or cleared goes to the new one.
    void setOnChange(std::function<void(const ProgressSnapshot&)> onChange);

    // Moves the position to `seconds` at once and has the player follow through the adapter's "seek";
    // positions from the adapter are ignored for `settle` seconds. Nothing moves when the seek cannot run.
    void seek(double seconds, double settle);
    // A keyboard step (negative to go back) from where the track is now, kept inside the track; presses
    // closer together than `debounce` move at once and send one seek to the last target. Needs a valid track.
    void keySeek(double step, double settle, double debounce);
    // Runs the adapter's "send" (2 play/pause, 4 next track, 5 previous track); `label` names it in
    // diagnostics. The new state arrives through the stream.
    void sendCommand(int number, const std::string& label);

    // The average colour of the current track's artwork; none until a fetch for it succeeds. Any thread.
    std::optional<Color> artworkColor() const;

private:
    // Handlers, timers and queued blocks reach the engine only through this: once the destructor has taken
    // it exclusively they find no engine, and until then the engine cannot go while one of them runs.
    struct Guard {
        std::shared_mutex mutex;
        MusicProgressEngine* engine = nullptr;
    };
    struct StreamRun;

    // Wraps `block` (called with the engine, then its own arguments) so it runs only while this engine
    // exists, from any thread.
    template <class Block>
    auto guarded(Block block) const {
        return [guard = guard_, block = std::move(block)](auto&&... args) mutable {
            std::shared_lock lock(guard->mutex);
            if (guard->engine) block(*guard->engine, std::forward<decltype(args)>(args)...);
        };
    }
    double wallSeconds() const;
    void post(std::function<void()> block);

    void spawnAdapter(std::uint64_t generation);
    void receive(std::uint64_t runId, std::string_view chunk);
    void handleLine(std::uint64_t runId, std::string_view line);
    void adapterExited(std::uint64_t runId, int status);
    void scheduleRestart(std::uint64_t generation);
    void restart(std::uint64_t generation);
    void healthCheck(std::uint64_t generation);
    void summaryTick();
    // Under the lock: what a track change or a stop drops of a pending keyboard seek.
    void cancelKeySeekLocked();
    // Runs a one-shot adapter command without waiting for it; false when it could not be launched. A
    // command still running of the same kind ("seek", or "send" with its number) is ended first: the newer
    // one says what the user wants now. One that runs past the deadline is ended as a "get" is.
    bool runOneShot(std::string kind, const std::string& label, std::vector<std::string> arguments);
    struct OneShot;
    // `shot` is null once nothing else holds it (its deadline passed, a newer one took its place).
    void oneShotExited(const std::shared_ptr<OneShot>& shot, const std::string& label, int status);
    void oneShotDeadline(const std::shared_ptr<OneShot>& shot);
    bool runSeekCommand(double seconds);
    void fireKeySeek(std::uint64_t token);

    // An adapter command that outlives this gets SIGTERM, and SIGKILL this much later.
    static constexpr double kCommandDeadline = 5.0;
    static constexpr double kKillAfter = 1.0;

    struct ArtworkFetch;
    // Under the lock, on every data line: asks for the artwork when its identity changes, or once more.
    void requestArtworkLocked();
    void scheduleArtworkFetch(std::uint64_t generation, std::string key);
    void fetchArtwork(std::uint64_t generation, std::string key);
    void startArtworkFetch(std::uint64_t generation, std::string key);
    void artworkOutput(const std::shared_ptr<ArtworkFetch>& fetch, std::string_view chunk);
    void artworkExited(const std::shared_ptr<ArtworkFetch>& fetch, int status);
    void artworkTimeout(const std::shared_ptr<ArtworkFetch>& fetch);
    void artworkKillCheck(const std::shared_ptr<ArtworkFetch>& fetch, bool cancellable);
    void completeArtworkFetchIfDone(const std::shared_ptr<ArtworkFetch>& fetch);
    void completeArtworkFetch(const std::shared_ptr<ArtworkFetch>& fetch);
    // True (and said once) when the adapter refused the cover the player named: no retry can change that.
    bool artworkRefused(const ArtworkFetch& fetch, std::string_view output);
    void finishArtworkFetch(std::uint64_t generation);

    Services services_;
    std::shared_ptr<Guard> guard_;
    // Restarts, health checks and the debounced keyboard seek.
    std::unique_ptr<SerialQueue> workQueue_;
    // Artwork fetches, one at a time.
    std::unique_ptr<SerialQueue> artworkQueue_;

    mutable std::mutex mutex_;
    NowPlayingState state_;
    bool stopped_ = true;
    std::uint64_t spawnGeneration_ = 0;
    double restartDelay_ = 1.0;
    bool receivedFirstLine_ = false;
    // The stream being launched or running; its lines and exit count only while it is this one.
    std::shared_ptr<StreamRun> run_;
    std::uint64_t nextRunId_ = 0;
    double pendingKeySeekTarget_ = 0;
    double pendingKeySeekDelta_ = 0;
    // The queued keyboard seek fires only while its token is this one; 0 when none is queued.
    std::uint64_t keySeekToken_ = 0;
    std::uint64_t nextKeySeekToken_ = 0;
    // The one-shot command of each kind still running.
    std::map<std::string, std::shared_ptr<OneShot>, std::less<>> oneShots_;
    std::function<void(const ProgressSnapshot&)> onChange_;
    std::optional<std::string> artworkKey_;
    std::uint64_t artworkGeneration_ = 0;
    std::optional<Color> artworkColor_;
    bool artworkRetryAvailable_ = false;
    std::optional<std::uint64_t> artworkPendingGen_;
    // The running "get", for stop() to end.
    std::shared_ptr<ChildProcess> artworkFetch_;
    // A fetch runs; requests made meanwhile wait in the backlog, in order.
    bool artworkBusy_ = false;
    std::deque<std::pair<std::uint64_t, std::string>> artworkBacklog_;

    // Main loop only.
    Cancellable summaryTimer_;
    bool wasValid_ = false;
    bool terminateObserved_ = false;
};

}  // namespace velaro
