// The artwork colour: one "get" at a time, guarded against results for a track that is no longer current,
// a "get" that hangs or floods its pipe, and a "get" that answers for another track; one retry per artwork.
#include <signal.h>

#include "base/Log.h"
#include "music/ArtworkColor.h"
#include "music/MusicProgressEngine.h"

namespace velaro {

namespace {

constexpr std::size_t kMaxArtworkOutput = std::size_t(32) << 20;
constexpr double kReadDeadline = 6.0;  // the read ends here whatever the pipe does

std::string shortKey(std::string_view key, std::size_t characters) {
    return std::string(adapter::prefixCharacters(key, characters));
}

}  // namespace

// One "get" from launch to its end; its fields are guarded by the engine's lock.
struct MusicProgressEngine::ArtworkFetch {
    std::uint64_t generation = 0;
    std::string key;
    std::shared_ptr<ChildProcess> process;
    bool launched = false;
    bool bornStale = false;
    std::string output;
    std::size_t bytes = 0;  // everything the pipe delivered, kept or not
    bool overflow = false;
    bool outputEnded = false;
    bool readEnded = false;
    std::optional<int> status;
    bool completed = false;
    bool checksCancelled = false;
};

std::optional<Color> MusicProgressEngine::artworkColor() const {
    std::lock_guard lock(mutex_);
    return artworkColor_;
}

void MusicProgressEngine::requestArtworkLocked() {
    std::optional<std::string> key = adapter::artworkKey(state_.payload());
    if (key == artworkKey_) {
        // The same artwork without a colour and nothing under way: the last retry, once.
        if (key && !artworkColor_ && !artworkPendingGen_ && artworkRetryAvailable_) {
            artworkRetryAvailable_ = false;
            artworkPendingGen_ = ++artworkGeneration_;
            qCDebug(lcPlayer) << tagged("PROG", "artwork RETRY (last credit) [" + shortKey(*key, 40) + "]");
            scheduleArtworkFetch(artworkGeneration_, *key);
        }
        return;
    }
    artworkKey_ = std::move(key);
    ++artworkGeneration_;
    artworkColor_.reset();
    artworkRetryAvailable_ = true;
    if (artworkKey_) {
        artworkPendingGen_ = artworkGeneration_;
        scheduleArtworkFetch(artworkGeneration_, *artworkKey_);
    }
}

void MusicProgressEngine::scheduleArtworkFetch(std::uint64_t generation, std::string key) {
    artworkQueue_->async(guarded([generation, key = std::move(key)](MusicProgressEngine& e) mutable {
        e.fetchArtwork(generation, std::move(key));
    }));
}

void MusicProgressEngine::fetchArtwork(std::uint64_t generation, std::string key) {
    {
        std::lock_guard lock(mutex_);
        // One "get" at a time: a request waits here while another still runs, as on a blocked queue.
        if (artworkBusy_) {
            artworkBacklog_.emplace_back(generation, std::move(key));
            return;
        }
        artworkBusy_ = true;
    }
    startArtworkFetch(generation, std::move(key));
}

// Runs with the queue marked busy; every way out ends in finishArtworkFetch, which frees it.
void MusicProgressEngine::startArtworkFetch(std::uint64_t generation, std::string key) {
    bool stale;
    {
        std::lock_guard lock(mutex_);
        stale = generation != artworkGeneration_;
    }
    if (stale) {
        qCDebug(lcPlayer) << tagged("PROG", "artwork SKIPPED before spawn (stale gen " +
                                                std::to_string(generation) + ") [" + shortKey(key, 40) + "]");
        return finishArtworkFetch(generation);
    }
    const auto program = services_.locateAdapter ? services_.locateAdapter() : std::nullopt;
    if (!program) {
        qCWarning(lcPlayer) << tagged("PROG", "artwork FAILED: adapter resources not found in bundle");
        return finishArtworkFetch(generation);
    }

    auto fetch = std::make_shared<ArtworkFetch>();
    fetch->generation = generation;
    fetch->key = std::move(key);
    ProcessLauncher::Handlers handlers{
        .onOutput = guarded(
            [fetch](MusicProgressEngine& e, std::string_view chunk) { e.artworkOutput(fetch, chunk); }),
        .onExit = guarded([fetch](MusicProgressEngine& e, int status) { e.artworkExited(fetch, status); }),
    };
    std::string error;
    auto process = services_.launcher.launch(
        ProcessLauncher::Spec{
            .program = *program, .arguments = {std::string(adapter::commands::get)}, .pipeOutput = true},
        std::move(handlers), &error);
    if (!process) {
        qCWarning(lcPlayer) << tagged("PROG", "artwork FAILED to spawn: " + error);
        return finishArtworkFetch(generation);
    }

    bool overflowed;
    {
        std::lock_guard lock(mutex_);
        fetch->process = process;
        fetch->launched = true;
        fetch->bornStale = stopped_ || generation != artworkGeneration_;
        if (!fetch->bornStale) artworkFetch_ = process;
        overflowed = fetch->overflow;
    }
    if (fetch->bornStale) {
        qCDebug(lcPlayer) << tagged("PROG",
                                    "artwork born stale → terminate+reap [" + shortKey(fetch->key, 40) + "]");
        workQueue_->asyncAfter(kKillAfter,
                               guarded([fetch](MusicProgressEngine& e) { e.artworkKillCheck(fetch, true); }));
        process->signal(SIGTERM);
    } else {
        workQueue_->asyncAfter(kCommandDeadline,
                               guarded([fetch](MusicProgressEngine& e) { e.artworkTimeout(fetch); }));
    }
    if (overflowed) process->terminate();
    workQueue_->asyncAfter(kReadDeadline, guarded([fetch](MusicProgressEngine& e) {
                               {
                                   std::lock_guard lock(e.mutex_);
                                   fetch->readEnded = true;
                               }
                               e.completeArtworkFetchIfDone(fetch);
                           }));
    completeArtworkFetchIfDone(fetch);  // a quick "get" may have ended while it was being launched
}

void MusicProgressEngine::artworkOutput(const std::shared_ptr<ArtworkFetch>& fetch, std::string_view chunk) {
    std::shared_ptr<ChildProcess> stopIt;
    {
        std::lock_guard lock(mutex_);
        if (fetch->completed) return;
        if (chunk.empty()) {
            fetch->outputEnded = true;
        } else {
            fetch->bytes += chunk.size();
            if (fetch->overflow) return;
            if (fetch->output.size() + chunk.size() > kMaxArtworkOutput) {
                // No cover is this large: what came so far goes, and so does the writer.
                fetch->overflow = true;
                std::string().swap(fetch->output);
                stopIt = fetch->process;
            } else {
                fetch->output.append(chunk);
            }
        }
    }
    if (stopIt) stopIt->terminate();
    completeArtworkFetchIfDone(fetch);
}

void MusicProgressEngine::artworkExited(const std::shared_ptr<ArtworkFetch>& fetch, int status) {
    {
        std::lock_guard lock(mutex_);
        fetch->status = status;
    }
    completeArtworkFetchIfDone(fetch);
}

void MusicProgressEngine::artworkTimeout(const std::shared_ptr<ArtworkFetch>& fetch) {
    std::shared_ptr<ChildProcess> process;
    {
        std::lock_guard lock(mutex_);
        if (fetch->checksCancelled) return;
        process = fetch->process;
    }
    if (!process || !process->isRunning()) return;
    qCWarning(lcPlayer) << tagged("PROG", "artwork TIMEOUT → SIGTERM [" + shortKey(fetch->key, 40) + "]");
    process->signal(SIGTERM);
    workQueue_->asyncAfter(kKillAfter,
                           guarded([fetch](MusicProgressEngine& e) { e.artworkKillCheck(fetch, false); }));
}

void MusicProgressEngine::artworkKillCheck(const std::shared_ptr<ArtworkFetch>& fetch, bool cancellable) {
    std::shared_ptr<ChildProcess> process;
    {
        std::lock_guard lock(mutex_);
        if (cancellable && fetch->checksCancelled) return;
        process = fetch->process;
    }
    // Through the child's pidfd: once it is reaped nothing is sent, whoever has its pid by now.
    if (!process || !process->isRunning()) return;
    qCWarning(lcPlayer) << tagged("PROG", "artwork still alive → SIGKILL [" + shortKey(fetch->key, 40) + "]");
    process->signal(SIGKILL);
}

void MusicProgressEngine::completeArtworkFetchIfDone(const std::shared_ptr<ArtworkFetch>& fetch) {
    {
        std::lock_guard lock(mutex_);
        const bool readDone = fetch->outputEnded || fetch->readEnded || fetch->overflow;
        if (fetch->completed || !fetch->launched || !fetch->status || !readDone) return;
        fetch->completed = true;
    }
    artworkQueue_->async(guarded([fetch](MusicProgressEngine& e) { e.completeArtworkFetch(fetch); }));
}

void MusicProgressEngine::completeArtworkFetch(const std::shared_ptr<ArtworkFetch>& fetch) {
    std::string output;
    {
        std::lock_guard lock(mutex_);
        fetch->checksCancelled = true;
        if (artworkFetch_ == fetch->process) artworkFetch_.reset();
        output.swap(fetch->output);
    }
    // A descendant may still hold the pipe open: nothing more is read from it.
    fetch->process->dropHandlers();
    const std::string key40 = shortKey(fetch->key, 40);
    // A refused cover has nothing to decode, and nothing a retry could change.
    const bool refused = !fetch->bornStale && !fetch->overflow && artworkRefused(*fetch, output);
    if (!fetch->bornStale && !refused) {
        const auto result = fetch->overflow ? std::nullopt : decodeArtwork(output);
        if (!result) {
            qCDebug(lcPlayer) << tagged("PROG", "artwork NO RESULT (bytes=" + std::to_string(fetch->bytes) +
                                                    ", exit=" + std::to_string(*fetch->status) + ") [" +
                                                    key40 + "]");
        } else {
            bool accepted, current;
            {
                std::lock_guard lock(mutex_);
                current = fetch->generation == artworkGeneration_;
                accepted = current && result->key == fetch->key;
                if (accepted) artworkColor_ = result->color;
            }
            if (accepted)
                qCDebug(lcPlayer) << tagged(
                    "PROG", "artwork color → " + artworkHex(result->color) + " [" + key40 + "]");
            else
                qCDebug(lcPlayer) << tagged(
                    "PROG", std::string("artwork DROPPED (") + (current ? "identity" : "gen") + ") armed=[" +
                                shortKey(fetch->key, 30) + "] got=[" +
                                (result->key ? shortKey(*result->key, 30) : std::string("nil")) + "]");
        }
    }
    finishArtworkFetch(fetch->generation);
}

bool MusicProgressEngine::artworkRefused(const ArtworkFetch& fetch, std::string_view output) {
    const auto why = adapter::artworkRefusal(output);
    if (!why) return false;
    {
        std::lock_guard lock(mutex_);
        if (fetch.generation == artworkGeneration_) artworkRetryAvailable_ = false;
    }
    qCWarning(lcPlayer) << tagged("PROG", "artwork REFUSED (" +
                                              std::string(adapter::prefixCharacters(*why, 200)) + ") [" +
                                              shortKey(fetch.key, 40) + "]");
    return true;
}

void MusicProgressEngine::finishArtworkFetch(std::uint64_t generation) {
    std::optional<std::pair<std::uint64_t, std::string>> next;
    {
        std::lock_guard lock(mutex_);
        if (artworkPendingGen_ == generation) artworkPendingGen_.reset();
        // The queue stays busy for the request taken next.
        artworkBusy_ = !artworkBacklog_.empty();
        if (artworkBusy_) {
            next = std::move(artworkBacklog_.front());
            artworkBacklog_.pop_front();
        }
    }
    // The next waiting request runs as the queue's next block, never nested in this one.
    if (next)
        artworkQueue_->async(guarded([next = std::move(*next)](MusicProgressEngine& e) mutable {
            e.startArtworkFetch(next.first, std::move(next.second));
        }));
}

}  // namespace velaro
