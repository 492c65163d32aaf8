// The monitor stream's life on libpulse's threaded main loop: connect, wait (bounded) for the stream,
// deliver its fragments, reconnect when the server goes away (as soon as its socket is back, and after a
// growing delay in any case), wait for an output while there is none, follow whether the output plays (the
// stream is corked while it does not), and tell the main thread when the default output changes. Every field
// of the session is touched only under the loop's lock (the callbacks hold it while they run).
#include "platform/linux/PulseAudioCapture.h"

#include <pulse/pulseaudio.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "base/Log.h"
#include "base/MainLoop.h"
#include "platform/linux/SharedLibrary.h"

namespace velaro {

namespace {
// libpulse is opened the first time a capture is made rather than linked: most launches never capture,
// and linked it would be loaded (with the codecs it pulls in) before the app could show anything.
#define VELARO_PULSE_FUNCTIONS(X)     \
    X(context_connect)                \
    X(context_disconnect)             \
    X(context_errno)                  \
    X(context_get_server)             \
    X(context_get_server_info)        \
    X(context_get_sink_info_list)     \
    X(context_get_state)              \
    X(context_new)                    \
    X(context_set_state_callback)     \
    X(context_set_subscribe_callback) \
    X(context_subscribe)              \
    X(context_unref)                  \
    X(gettimeofday)                   \
    X(operation_unref)                \
    X(stream_connect_record)          \
    X(stream_cork)                    \
    X(stream_disconnect)              \
    X(stream_drop)                    \
    X(stream_get_context)             \
    X(stream_get_device_index)        \
    X(stream_get_sample_spec)         \
    X(stream_get_state)               \
    X(stream_new)                     \
    X(stream_peek)                    \
    X(stream_readable_size)           \
    X(stream_set_read_callback)       \
    X(stream_set_state_callback)      \
    X(stream_unref)                   \
    X(strerror)                       \
    X(threaded_mainloop_free)         \
    X(threaded_mainloop_get_api)      \
    X(threaded_mainloop_lock)         \
    X(threaded_mainloop_new)          \
    X(threaded_mainloop_set_name)     \
    X(threaded_mainloop_signal)       \
    X(threaded_mainloop_start)        \
    X(threaded_mainloop_stop)         \
    X(threaded_mainloop_unlock)       \
    X(threaded_mainloop_wait)         \
    X(timeval_add)

struct PulseLibrary {
#define VELARO_PULSE_MEMBER(name) decltype(&::pa_##name) name = nullptr;
    VELARO_PULSE_FUNCTIONS(VELARO_PULSE_MEMBER)
#undef VELARO_PULSE_MEMBER
    bool complete = false;
};

const PulseLibrary& pulseLibrary() {
    static const PulseLibrary library = [] {
        PulseLibrary l;
        const SharedLibrary pulse("libpulse.so.0");
        l.complete = pulse.isOpen();
#define VELARO_PULSE_RESOLVE(name) l.complete = pulse.resolve(l.name, "pa_" #name) && l.complete;
        VELARO_PULSE_FUNCTIONS(VELARO_PULSE_RESOLVE)
#undef VELARO_PULSE_RESOLVE
        return l;
    }();
    return library;
}

constexpr const char* kTag = "VIZ-AUDIO";
// The default output's monitor: what the computer plays, mixed by the server.
constexpr const char* kMonitorSource = "@DEFAULT_MONITOR@";
constexpr int kChannels = 2;
constexpr std::uint32_t kRate = 48000;

timeval inSeconds(const PulseLibrary& pa, double seconds) {
    timeval when;
    pa.gettimeofday(&when);
    pa.timeval_add(&when, static_cast<pa_usec_t>(seconds * PA_USEC_PER_SEC));
    return when;
}

bool sameFormat(const AudioFormat& a, const AudioFormat& b) {
    return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount && a.interleaved == b.interleaved;
}
}  // namespace

struct PulseAudioCapture::Session {
    const PulseLibrary& pa = pulseLibrary();
    pa_threaded_mainloop* mainloop = nullptr;
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;

    // While opening: what the waiting main thread learns.
    bool opening = false;
    bool contextReady = false;
    bool streamReady = false;
    bool timedOut = false;
    std::optional<Failure> failure;
    pa_time_event* deadline = nullptr;

    // Once open: the format promised to the owner, its block handler, and the reconnect state.
    bool open = false;
    AudioFormat format;
    bool formatKept = true;  // false after a reconnect that brought another format
    BlockHandler handler;
    pa_time_event* retry = nullptr;
    double retryDelay = firstRetryDelay;
    bool lossLogged = false;
    // The local socket of the server last connected to; while the server is away its folder is watched,
    // so that its return is tried at once.
    std::string serverSocket;
    int watchFd = -1;
    pa_io_event* watchEvent = nullptr;
    std::string defaultSink;
    // Without an output there is nothing to capture: no stream, until the server names a default output.
    bool waiting = false;
    // A stream that failed while the server stayed is made again from here, outside its own callbacks.
    pa_time_event* streamRetry = nullptr;
    // While the output plays nothing the stream is corked: an idle sink's monitor would deliver silence
    // fifty times a second, and wake this thread and the analysis as often, for nothing. It starts corked,
    // until the output is known to play.
    bool corked = false;
    // The output whose monitor the stream captures, once known: only its events are followed.
    std::uint32_t sinkIndex = PA_INVALID_INDEX;
    // What the owner was told last, and how to tell it (on this thread).
    bool outputPlaying = true;
    std::function<void(bool)> playingChanged;
    // Posts the output-change call to the main thread.
    std::function<void()> outputChanged;

    Session() {
        if (!pa.complete) return;
        mainloop = pa.threaded_mainloop_new();
        if (!mainloop) return;
        api = pa.threaded_mainloop_get_api(mainloop);
        pa.threaded_mainloop_set_name(mainloop, "viz.audio.io");
        if (pa.threaded_mainloop_start(mainloop) < 0) {
            pa.threaded_mainloop_free(mainloop);
            mainloop = nullptr;
        }
    }

    ~Session() {
        if (!mainloop) return;
        pa.threaded_mainloop_lock(mainloop);
        open = false;
        disconnect();
        stopWatching();
        pa.threaded_mainloop_unlock(mainloop);
        pa.threaded_mainloop_stop(mainloop);
        pa.threaded_mainloop_free(mainloop);
    }

    void lock() { pa.threaded_mainloop_lock(mainloop); }
    void unlock() { pa.threaded_mainloop_unlock(mainloop); }

    void freeTimer(pa_time_event*& event) {
        if (event) api->time_free(event);
        event = nullptr;
    }

    void startTimer(pa_time_event*& event, double seconds, pa_time_event_cb_t callback) {
        const timeval when = inSeconds(pa, seconds);
        event = api->time_new(api, &when, callback, this);
    }

    // How long to wait before the next try after a failure: each wait twice the last, up to `longest`.
    double backOff(double longest) {
        return std::min(std::exchange(retryDelay, std::min(retryDelay * 2, longest)), longest);
    }

    // Ends the stream; no callback of its runs afterwards.
    void dropStream() {
        freeTimer(streamRetry);
        if (stream) {
            pa.stream_set_state_callback(stream, nullptr, nullptr);
            pa.stream_set_read_callback(stream, nullptr, nullptr);
            pa.stream_disconnect(stream);
            pa.stream_unref(stream);
            stream = nullptr;
        }
        streamReady = corked = false;
        sinkIndex = PA_INVALID_INDEX;
    }

    // Ends the stream and the connection; no callback of theirs runs afterwards.
    void disconnect() {
        freeTimer(retry);
        freeTimer(deadline);
        dropStream();
        if (context) {
            pa.context_set_state_callback(context, nullptr, nullptr);
            pa.context_set_subscribe_callback(context, nullptr, nullptr);
            pa.context_disconnect(context);
            pa.context_unref(context);
            context = nullptr;
        }
        contextReady = waiting = false;
    }

    // Starts the chain: connection, then (in the callbacks) the stream on the monitor.
    void connect() {
        context = pa.context_new(api, "Velaro");
        if (!context) return fail("tap-create", PA_ERR_INTERNAL);
        pa.context_set_state_callback(context, &Session::onContextState, this);
        if (pa.context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            fail("tap-create", pa.context_errno(context));
    }

    void makeStream() {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, kChannels};
        stream = pa.stream_new(context, "Velaro visualizer", &spec, nullptr);
        if (!stream) return fail("aggregate-create", pa.context_errno(context));
        pa.stream_set_state_callback(stream, &Session::onStreamState, this);
        pa.stream_set_read_callback(stream, &Session::onReadable, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = fragmentFrames * sizeof(float) * kChannels;
        // The monitor does not keep the output awake: while nothing plays the device may sleep, and the
        // stream then simply delivers nothing. Nor does it follow its output elsewhere: when the output
        // goes, the server would move the stream to its default input, a microphone perhaps.
        const auto flags =
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_INHIBIT_AUTO_SUSPEND |
                                           PA_STREAM_START_CORKED | PA_STREAM_DONT_MOVE);
        corked = true;
        if (pa.stream_connect_record(stream, kMonitorSource, &attr, flags) < 0)
            fail("aggregate-create", pa.context_errno(context));
    }

    // A step failed: while opening the waiting thread hears of it; once open it is a loss to recover from.
    void fail(const char* step, int status) {
        if (opening) {
            if (!failure) failure = Failure{step, status};
            pa.threaded_mainloop_signal(mainloop, 0);
        } else if (open) {
            lost(step, status);
        }
    }

    // The server (or our stream on it) went away: try again as soon as its socket is back, and later in
    // any case, each time waiting longer.
    void lost(const char* step, int status) {
        if (retry) return;
        if (!lossLogged) {
            lossLogged = true;
            qCWarning(lcAudio) << tagged(
                kTag, std::string("capture lost (") + step + ": " + pa.strerror(status) + "); reconnecting");
        }
        watchServer();
        startTimer(retry, backOff(watchEvent ? longestRetryDelay : longestUnwatchedRetryDelay),
                   &Session::onRetry);
    }

    // Watches the folder of the server's socket for the socket's return (a server starting binds it anew).
    void watchServer() {
        if (watchEvent || serverSocket.empty()) return;
        const std::size_t slash = serverSocket.rfind('/');
        const std::string folder = slash == 0 ? std::string("/") : serverSocket.substr(0, slash);
        watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watchFd < 0) return;
        if (inotify_add_watch(watchFd, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR) <
                0 ||
            !(watchEvent = api->io_new(api, watchFd, PA_IO_EVENT_INPUT, &Session::onServerFolder, this))) {
            ::close(watchFd);
            watchFd = -1;
        }
    }

    void stopWatching() {
        if (watchEvent) api->io_free(watchEvent);
        watchEvent = nullptr;
        if (watchFd >= 0) ::close(watchFd);
        watchFd = -1;
    }

    static void onServerFolder(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        const std::string name = self->serverSocket.substr(self->serverSocket.rfind('/') + 1);
        bool appeared = false, folderGone = false;
        alignas(inotify_event) char events[4096];
        for (ssize_t n; (n = ::read(fd, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                appeared = appeared || (event->len > 0 && name == event->name);
                folderGone = folderGone || (event->mask & IN_IGNORED);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        // Without its folder the socket cannot be watched any longer: the waits stop growing at a second.
        if (folderGone) self->stopWatching();
        if (appeared || folderGone) self->retryNow();
    }

    // The server's socket changed: a try waiting for its time is made now, and the waits after a failure
    // start short again (a server may bind its socket a moment before it takes clients).
    void retryNow() {
        retryDelay = firstRetryDelay;
        if (!retry) return;
        freeTimer(retry);
        startTimer(retry, 0, &Session::onRetry);
    }

    static void onRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        self->freeTimer(self->retry);
        // The old objects go here, outside their own callbacks.
        self->disconnect();
        if (self->open) self->connect();
    }

    static void onDeadline(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        self->freeTimer(self->deadline);
        self->timedOut = true;
        self->pa.threaded_mainloop_signal(self->mainloop, 0);
    }

    static void onContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        switch (self->pa.context_get_state(context)) {
            case PA_CONTEXT_READY:
                self->contextReady = true;
                self->stopWatching();
                if (const char* server = self->pa.context_get_server(context))
                    self->serverSocket = localSocketOf(server);
                self->pa.context_set_subscribe_callback(context, &Session::onServerEvent, self);
                if (pa_operation* op = self->pa.context_subscribe(
                        context,
                        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                            PA_SUBSCRIPTION_MASK_SINK),
                        nullptr, nullptr))
                    self->pa.operation_unref(op);
                // The stream comes once the server names an output to capture.
                self->askDefaultSink();
                break;
            case PA_CONTEXT_FAILED:
            case PA_CONTEXT_TERMINATED:
                self->fail("tap-create", self->pa.context_errno(context));
                break;
            default:
                break;
        }
    }

    static void onStreamState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        switch (self->pa.stream_get_state(stream)) {
            case PA_STREAM_READY:
                self->onStreamReady(stream);
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED: {
                pa_context* context = self->pa.stream_get_context(stream);
                // With the server still there, the stream's output went (unplugged, unloaded) or the stream
                // alone broke: what comes next depends on the output there is now.
                if (self->open && !self->opening && self->pa.context_get_state(context) == PA_CONTEXT_READY)
                    self->streamLost(self->pa.context_errno(context));
                else
                    self->fail("aggregate-create", self->pa.context_errno(context));
                break;
            }
            default:
                break;
        }
    }

    void onStreamReady(pa_stream* ready) {
        const pa_sample_spec* spec = pa.stream_get_sample_spec(ready);
        if (spec->format != PA_SAMPLE_FLOAT32LE) return fail("format-read", PA_ERR_NOTSUPPORTED);
        const AudioFormat now{double(spec->rate), int(spec->channels), true};
        streamReady = true;
        retryDelay = firstRetryDelay;
        followOutput();
        if (opening) {
            format = now;
            formatKept = true;
            pa.threaded_mainloop_signal(mainloop, 0);
            return;
        }
        formatKept = sameFormat(now, format);
        if (lossLogged) {
            lossLogged = false;
            qCInfo(lcAudio) << tagged(kTag, "capture reconnected");
        }
        if (std::exchange(waiting, false)) qCInfo(lcAudio) << tagged(kTag, "an output is back; capturing it");
        // The server came back with another format: nothing is delivered until the owner sets everything
        // up again.
        if (!formatKept && outputChanged) outputChanged();
    }

    static void onReadable(pa_stream* stream, size_t, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        const void* data = nullptr;
        size_t bytes = 0;
        while (self->pa.stream_readable_size(stream) > 0) {
            if (self->pa.stream_peek(stream, &data, &bytes) < 0 || bytes == 0) break;
            // A hole (no data) is dropped like data nobody takes.
            if (data) self->deliver(static_cast<const float*>(data), bytes);
            self->pa.stream_drop(stream);
        }
    }

    void deliver(const float* samples, size_t bytes) {
        if (!handler || !open || !formatKept) return;
        const size_t frameBytes = sizeof(float) * static_cast<size_t>(format.channelCount);
        // Whole frames only, in blocks the analysis accepts.
        size_t frames = bytes / frameBytes;
        while (frames > 0) {
            const size_t n = std::min(frames, AudioCapture::maxBlockFrames);
            AudioBlock block;
            block.bufferCount = 1;
            block.buffers[0] = {samples, n * frameBytes};
            handler(block);
            samples += n * static_cast<size_t>(format.channelCount);
            frames -= n;
        }
    }

    void askDefaultSink() {
        if (pa_operation* op = pa.context_get_server_info(context, &Session::onServerInfo, this))
            pa.operation_unref(op);
    }

    static void onServerEvent(pa_context*, pa_subscription_event_type_t type, uint32_t index,
                              void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        switch (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
            case PA_SUBSCRIPTION_EVENT_SERVER:
                self->askDefaultSink();
                break;
            case PA_SUBSCRIPTION_EVENT_SINK:
                // Other outputs' changes (volumes, their own streams) are none of ours.
                if (index == self->sinkIndex || self->sinkIndex == PA_INVALID_INDEX) self->followOutput();
                break;
            default:
                break;
        }
    }

    // Asks for the state of the output the stream captures; the stream is corked while it plays nothing.
    void followOutput() {
        if (!stream || !streamReady) return;
        if (pa_operation* op = pa.context_get_sink_info_list(context, &Session::onSinkInfo, this))
            pa.operation_unref(op);
    }

    static void onSinkInfo(pa_context*, const pa_sink_info* info, int last, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        if (last || !info || !self->stream || !self->streamReady) return;
        if (info->monitor_source != self->pa.stream_get_device_index(self->stream)) return;
        self->sinkIndex = info->index;
        const bool playing = info->state == PA_SINK_RUNNING;
        // The owner hears of it before the blocks it concerns: uncorked after, corked after too (what
        // was on its way still comes).
        self->reportPlaying(playing);
        if (playing != self->corked) return;
        self->corked = !playing;
        if (pa_operation* op = self->pa.stream_cork(self->stream, playing ? 0 : 1, nullptr, nullptr))
            self->pa.operation_unref(op);
    }

    void reportPlaying(bool playing) {
        if (playing == outputPlaying) return;
        outputPlaying = playing;
        if (playingChanged) playingChanged(playing);
    }

    static void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        if (!info || !(self->open || self->opening)) return;
        const std::string sink = info->default_sink_name ? info->default_sink_name : "";
        const std::string previous = std::exchange(self->defaultSink, sink);
        if (sink.empty()) return self->awaitOutput();
        // The first output, or the next one after none (or after a lost stream): capture it.
        if (!self->stream) return self->makeStream();
        // A live change from one output to another is the owner's to rebuild for.
        if (!previous.empty() && sink != previous && self->open && self->streamReady && self->outputChanged)
            self->outputChanged();
    }

    // No output at all: nothing to capture until the server names one (its event asks again).
    void awaitOutput() {
        dropStream();
        reportPlaying(false);
        if (!waiting) {
            waiting = true;
            qCInfo(lcAudio) << tagged(kTag, "no output to capture; waiting for one");
        }
        if (opening) pa.threaded_mainloop_signal(mainloop, 0);
    }

    // The stream ended with the server still there. A stream that worked was ended by its output going:
    // the server is asked at once what output there is now. One that never worked is retried later, each
    // time waiting longer.
    void streamLost(int status) {
        if (streamRetry) return;
        const bool worked = streamReady;
        streamReady = false;
        double delay = 0;
        if (!worked) {
            if (!lossLogged) {
                lossLogged = true;
                qCWarning(lcAudio) << tagged(
                    kTag, std::string("capture stream failed (") + pa.strerror(status) + "); retrying");
            }
            delay = backOff(longestRetryDelay);
        }
        startTimer(streamRetry, delay, &Session::onStreamRetry);
    }

    static void onStreamRetry(pa_mainloop_api*, pa_time_event*, const timeval*, void* userdata) {
        auto* self = static_cast<Session*>(userdata);
        self->freeTimer(self->streamRetry);
        // The old stream goes here, outside its own callbacks.
        self->dropStream();
        if (self->open) self->askDefaultSink();
    }
};

std::string PulseAudioCapture::localSocketOf(std::string_view server) {
    if (server.starts_with('{')) {
        const std::size_t end = server.find('}');
        if (end == std::string_view::npos) return {};
        server.remove_prefix(end + 1);
    }
    if (server.starts_with("unix:")) server.remove_prefix(5);
    if (!server.starts_with('/')) return {};
    return std::string(server);
}

PulseAudioCapture::PulseAudioCapture(MainLoop& loop) : loop_(loop), session_(std::make_unique<Session>()) {
    // Called on the sound server's thread; the handler runs on the main loop while this capture lives.
    session_->outputChanged = [&loop, notify = lifetime_.guard([this] {
        if (onOutputChanged_) onOutputChanged_();
    })] { loop.post(notify); };
}

PulseAudioCapture::~PulseAudioCapture() {
    lifetime_.end();
    session_.reset();
}

AudioCapture::OpenResult PulseAudioCapture::open() {
    Session& s = *session_;
    if (!s.mainloop) return {false, {}, {"tap-create", PA_ERR_INTERNAL}};
    s.lock();
    s.open = false;
    s.disconnect();
    s.stopWatching();
    s.opening = true;
    s.failure.reset();
    s.timedOut = false;
    s.defaultSink.clear();
    s.retryDelay = firstRetryDelay;
    s.lossLogged = false;
    s.startTimer(s.deadline, openTimeout, &Session::onDeadline);
    s.connect();
    while (!s.streamReady && !s.waiting && !s.failure && !s.timedOut) s.pa.threaded_mainloop_wait(s.mainloop);
    s.opening = false;
    s.freeTimer(s.deadline);

    OpenResult result;
    if ((s.streamReady || s.waiting) && !s.failure) {
        s.open = true;
        // Waiting for an output, the stream to come will have the format it asks for: the server converts.
        if (!s.streamReady) s.format = AudioFormat{double(kRate), kChannels, true};
        s.formatKept = true;
        result.ok = true;
        result.format = s.format;
    } else {
        result.failure = s.failure         ? *s.failure
                         : !s.contextReady ? Failure{"tap-create", PA_ERR_TIMEOUT}
                                           : Failure{"device-start", PA_ERR_TIMEOUT};
        s.disconnect();
    }
    s.unlock();
    return result;
}

void PulseAudioCapture::startDelivery(BlockHandler handler) {
    Session& s = *session_;
    if (!s.mainloop) return;
    s.lock();
    s.handler = std::move(handler);
    s.unlock();
}

void PulseAudioCapture::close() {
    Session& s = *session_;
    if (!s.mainloop) return;
    s.lock();
    s.open = false;
    s.handler = nullptr;
    s.disconnect();
    s.stopWatching();
    s.unlock();
}

void PulseAudioCapture::setOnOutputChanged(std::function<void()> handler) {
    onOutputChanged_ = std::move(handler);
}

void PulseAudioCapture::setOnOutputPlaying(std::function<void(bool)> handler) {
    Session& s = *session_;
    if (!s.mainloop) return;
    s.lock();
    s.playingChanged = std::move(handler);
    s.unlock();
}

}  // namespace velaro
