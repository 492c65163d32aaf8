// The pointer on an X11 display, followed through raw motion on the session's event thread.
#include "platform/linux/X11PointerSource.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <time.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "base/Log.h"
#include "platform/linux/PointerAskGate.h"
#include "platform/linux/X11Hotkeys.h"
#include "platform/linux/X11Session.h"

namespace velaro {

namespace {

using Stamp = PointerAskGate::Stamp;
// The pointer's bookkeeping needs no finer time than a few milliseconds, and a frame reads it every time:
// the coarse clock costs a fraction of the precise one.
Stamp now() {
    timespec t{};
#ifdef CLOCK_MONOTONIC_COARSE
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
#else
    clock_gettime(CLOCK_MONOTONIC, &t);
#endif
    return static_cast<Stamp>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}
constexpr Stamp nanoseconds(std::chrono::nanoseconds d) {
    return d.count();
}
// How long reads keep the pointer followed without a watch.
constexpr Stamp kReadGrace = nanoseconds(std::chrono::seconds(1));
// The ask rate on a server without raw motion: the display's.
constexpr double kAskInterval = 1.0 / 60;
// Raw motion keeps the known position current, except after another program warps the pointer: a read
// that finds the server's last answer older than this asks the event thread for a new one (without
// waiting for it), so a warp is seen within about this long while reads keep coming.
constexpr auto kAnswerMaxAge = std::chrono::milliseconds(100);
// Frame reads come once a frame while the strip changes, and not at all while it stays: a read that comes
// this long after the one before cannot trust the kept answer (a warp meanwhile went by unseen), and off the
// main thread it asks the server itself.
constexpr Stamp kReadPause = nanoseconds(std::chrono::milliseconds(250));
// An ask unanswered after this long is taken as lost (a dropped message, an event filtered out on the way):
// the next read asks again.
constexpr auto kAskTimeout = std::chrono::milliseconds(500);

// The kept position as one word, so that reads on the frame queues take it without the mutex: the root
// coordinates (the server's 16-bit ones), whether there is a position, and whether raw motion keeps it
// current.
std::uint64_t packPosition(const std::optional<Point>& root, bool fresh) {
    if (!root) return 0;
    const auto x = static_cast<std::uint16_t>(static_cast<std::int16_t>(root->x));
    const auto y = static_cast<std::uint16_t>(static_cast<std::int16_t>(root->y));
    return std::uint64_t{x} | std::uint64_t{y} << 16 | std::uint64_t{1} << 32 | std::uint64_t{fresh} << 33;
}
bool packedFresh(std::uint64_t packed) {
    return (packed >> 33) & 1;
}
std::optional<Point> packedRoot(std::uint64_t packed) {
    if (!((packed >> 32) & 1)) return std::nullopt;
    return Point{double(static_cast<std::int16_t>(packed & 0xFFFF)),
                 double(static_cast<std::int16_t>((packed >> 16) & 0xFFFF))};
}

}  // namespace

// What the event thread's filter and the source share; the filter may still run when the source goes.
struct X11PointerSource::Shared {
    explicit Shared(X11Session& s) : session(s) {}

    X11Session& session;
    MainLoop* loop = nullptr;
    xcb_window_t askWindow = 0;  // a client message to it asks the event thread to read the pointer
    xcb_atom_t askAtom = XCB_ATOM_NONE;
    std::uint8_t inputOpcode = 0;  // 0: no raw motion on this server

    std::mutex mutex;
    std::optional<Point> root;   // root pixels, as last read
    std::uint16_t state = 0;     // the modifier and button state read with it
    X11ModifierMasks masks;      // which modifier bits stand for Alt and Super
    bool masksKnown = false;     // read with the first answer, and again when the maps change
    bool following = false;      // raw motion is selected
    bool followingKeys = false;  // raw key presses and releases are selected too
    bool fresh = false;          // `root` is kept current while following
    bool freshKeys = false;      // `state` is kept current while following keys
    PointerAskGate asks{kAnswerMaxAge, kAskTimeout};
    std::atomic<std::uint64_t> position{0};  // `root` and `fresh` packed; written under the mutex
    int watchers = 0;
    std::atomic<Stamp> lastRead{0};
    std::atomic<Stamp> lastPositionRead{0};  // reads of the position alone, which keep asking for answers
    Stamp lastModifierRead = 0;
    bool notifyPosted = false;
    std::function<void()> notify;  // main thread; cleared when the source goes

    // Raw motion of every master pointer on the root while following, and raw keys while following keys
    // (a modifier pressed or let go moves no pointer). Under the mutex.
    void selectLocked() {
        auto& connection = session.desktop();
        std::uint32_t bits = 0;
        if (following) bits |= XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
        if (following && followingKeys)
            bits |= XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
        struct {
            xcb_input_event_mask_t head;
            std::uint32_t bits;
        } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, bits};
        xcb_input_xi_select_events(connection.get(), connection.root(), 1, &mask.head);
        xcb_flush(connection.get());
    }

    // Asks the event thread to read the pointer; any thread, never waits.
    void ask() {
        auto& connection = session.desktop();
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = askWindow;
        message.type = askAtom;
        // Without an event mask the server hands the message to the window's creator: us.
        xcb_send_event(connection.get(), 0, askWindow, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&message));
        xcb_flush(connection.get());
    }

    void publishLocked() { position.store(packPosition(root, fresh), std::memory_order_release); }

    // Follows the pointer (and with `keys` the modifier keys) from now on (any thread).
    void follow(bool needAnswer, bool keys) {
        bool askNow = false;
        {
            std::lock_guard lock(mutex);
            bool reselect = false;
            if (!following && inputOpcode) {
                following = true;
                reselect = true;
            }
            if (keys && !followingKeys && inputOpcode) {
                followingKeys = true;
                reselect = true;
            }
            if (reselect) selectLocked();
            if (needAnswer && !(keys ? freshKeys : fresh) && asks.claim(now(), true)) askNow = true;
        }
        if (askNow) ask();
    }

    // The pointer in root pixels and the modifier state, asked now (a round trip: never on the main
    // thread). The modifier maps are read first when they are not known.
    Reading read() {
        auto& connection = session.desktop();
        auto* c = connection.get();
        bool needMasks = false;
        {
            std::lock_guard lock(mutex);
            needMasks = !masksKnown;
        }
        if (needMasks) {
            const auto read = readModifierMasks(c);
            std::lock_guard lock(mutex);
            masks = read;
            masksKnown = true;
        }
        auto reply = x11::awaitReply(c, xcb_query_pointer(c, connection.root()), xcb_query_pointer_reply);
        if (!reply) return {};
        return {Point{double(reply->root_x), double(reply->root_y)}, reply->mask};
    }

    // The event thread's part: raw motion and our own asks are taken out of the batch and answered here.
    void filter(x11::EventPump::Batch& batch) {
        bool motion = false, asked = false;
        for (auto& e : batch) {
            if (!e) continue;
            const auto type = e->response_type & 0x7f;
            if (type == XCB_GE_GENERIC && inputOpcode) {
                const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(*e);
                if (ge.extension == inputOpcode &&
                    (ge.event_type == XCB_INPUT_RAW_MOTION || ge.event_type == XCB_INPUT_RAW_KEY_PRESS ||
                     ge.event_type == XCB_INPUT_RAW_KEY_RELEASE)) {
                    motion = true;
                    e.reset();
                }
            } else if (type == XCB_MAPPING_NOTIFY) {
                // Alt or Super may sit on another modifier bit now; left in the batch for other services.
                std::lock_guard lock(mutex);
                masksKnown = false;
            } else if (type == XCB_CLIENT_MESSAGE &&
                       reinterpret_cast<const xcb_client_message_event_t&>(*e).window == askWindow) {
                asked = true;
                e.reset();
            }
        }
        if (!motion && !asked) return;
        {
            std::lock_guard lock(mutex);
            const Stamp t = now();
            // Nobody watches and nobody has read for a while: stop following until the next read.
            if (!asked && following && watchers == 0 &&
                t - lastRead.load(std::memory_order_relaxed) > kReadGrace) {
                following = followingKeys = false;
                fresh = freshKeys = false;
                publishLocked();
                selectLocked();
                return;
            }
            // Nobody has asked for the modifier keys for a while: let key presses go by again.
            if (followingKeys && t - lastModifierRead > kReadGrace) {
                followingKeys = false;
                freshKeys = false;
                selectLocked();
            }
        }
        store(read());
    }

    // Keeps an answer just read and tells the watchers when the position is another one (any thread).
    void store(const Reading& answer) {
        std::lock_guard lock(mutex);
        const auto& now = answer.root;
        const bool changed = now != root;
        root = now;
        state = answer.state;
        asks.answered(velaro::now());
        fresh = following;
        freshKeys = following && followingKeys;
        publishLocked();
        if (changed && watchers > 0 && !notifyPosted && loop) {
            notifyPosted = true;
            loop->post([self = weakSelf] {
                if (auto shared = self.lock()) shared->deliver();
            });
        }
    }

    // Main thread.
    void deliver() {
        std::function<void()> call;
        {
            std::lock_guard lock(mutex);
            notifyPosted = false;
            call = notify;
        }
        if (call) call();
    }

    std::weak_ptr<Shared> weakSelf;
};

X11PointerSource::X11PointerSource(MainLoop& loop, X11Session& session)
    : loop_(loop),
      session_(session),
      mainThread_(std::this_thread::get_id()),
      shared_(std::make_shared<Shared>(session)) {
    shared_->weakSelf = shared_;
    shared_->loop = &loop_;
    auto& connection = session_.desktop();
    auto* c = connection.get();
    shared_->askAtom = connection.atom("_VELARO_POINTER_ASK");
    shared_->askWindow = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, shared_->askWindow, connection.root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (const auto* ext = x11::extension(c, &xcb_input_id); ext && ext->present) {
        // Raw events reach the root whatever window the pointer is over from version 2.1 on.
        auto version =
            x11::awaitReply(c, xcb_input_xi_query_version(c, 2, 2), xcb_input_xi_query_version_reply);
        if (version &&
            (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 1)))
            shared_->inputOpcode = ext->major_opcode;
    }
    if (!shared_->inputOpcode)
        qCInfo(lcSampling) << tagged(
            "POINTER", "the X server has no raw motion; the pointer is asked for on a timer while watched");
    xcb_flush(c);
    shared_->notify = [this] { notifyWatchers(); };
    filter_ =
        session_.addEventFilter([shared = shared_](x11::EventPump::Batch& batch) { shared->filter(batch); });
}

X11PointerSource::~X11PointerSource() {
    lifetime_.end();
    timer_.cancel();
    {
        std::lock_guard lock(shared_->mutex);
        shared_->notify = nullptr;
        const bool selected = shared_->following;
        shared_->following = shared_->followingKeys = false;
        if (selected) shared_->selectLocked();
    }
    filter_.cancel();
    auto* c = session_.desktop().get();
    xcb_destroy_window(c, shared_->askWindow);
    xcb_flush(c);
}

bool X11PointerSource::following() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->following;
}

X11PointerSource::Reading X11PointerSource::current(bool keys) const {
    const Stamp t = now();
    shared_->lastRead.store(t, std::memory_order_relaxed);
    const Stamp readBefore = keys ? t : shared_->lastPositionRead.exchange(t, std::memory_order_relaxed);
    const bool offMain = std::this_thread::get_id() != mainThread_;
    Reading known;
    if (!keys) {
        // The frame queues' path: no lock while raw motion keeps the position current.
        const auto packed = shared_->position.load(std::memory_order_acquire);
        if (packedFresh(packed)) known.root = packedRoot(packed);
    } else {
        std::lock_guard lock(shared_->mutex);
        shared_->lastModifierRead = t;
        if (shared_->freshKeys) known = {shared_->root, shared_->state};
    }
    if (known.root && !(offMain && t - readBefore > kReadPause)) {
        // Raw events keep this current; only a warp by another program goes by them, and a periodic
        // answer from the server catches that. A warp leaves the modifier keys as they are: reads of the
        // keys alone (the progress bar's, ten a second) need no such answer. The read itself never waits.
        if (!keys && shared_->asks.claim(t)) shared_->ask();
        return known;
    }
    if (!offMain) {
        // The main thread never waits for the server: it gets what is known while the event thread asks,
        // and the watchers hear of the answer.
        shared_->follow(true, keys);
        std::lock_guard lock(shared_->mutex);
        return {shared_->root, shared_->state};
    }
    // Elsewhere (the frame queues) the pointer is not followed yet, the server has no raw events, or reads
    // paused: the server is asked here, and from then on raw motion keeps the answer current.
    shared_->follow(false, keys);
    const auto answer = shared_->read();
    shared_->store(answer);
    return answer;
}

std::optional<Point> X11PointerSource::rootPixels() const {
    return current(false).root;
}

std::uint32_t X11PointerSource::modifierFlags() const {
    // A server that does not answer holds no keys.
    const auto reading = current(true);
    if (!reading.root) return 0;
    std::lock_guard lock(shared_->mutex);
    return modifierFlagsFromXState(reading.state, shared_->masks);
}

std::optional<Point> X11PointerSource::location() const {
    const auto root = rootPixels();
    if (!root) return std::nullopt;
    return session_.space().globalFromRoot(*root);
}

std::optional<Point> X11PointerSource::topLeftLocation() const {
    const auto root = rootPixels();
    if (!root) return std::nullopt;
    return session_.space().topLeftFromRoot(*root);
}

Cancellable X11PointerSource::watchMotion(std::function<void()> moved) {
    const int id = ++nextWatcher_;
    watchers_.emplace(id, std::move(moved));
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->watchers;
    }
    shared_->follow(true, false);
    if (!shared_->inputOpcode && !timer_.isActive())
        timer_ = loop_.every(kAskInterval, [shared = shared_] { shared->ask(); });
    return Cancellable([this, id, token = lifetime_.token()] {
        if (!token.alive() || !watchers_.erase(id)) return;
        std::lock_guard lock(shared_->mutex);
        --shared_->watchers;
        if (watchers_.empty()) timer_.cancel();
    });
}

void X11PointerSource::notifyWatchers() {
    const auto snapshot = watchers_;  // a handler may end its own watch
    for (const auto& [id, moved] : snapshot) moved();
}

}  // namespace velaro
