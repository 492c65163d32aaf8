// The window list from the X server: stacking order, outer bounds, owners, levels and opacity, kept current
// by the desktop connection's events so that reading it while nothing changes costs no round trip. The
// server is read on a thread of the list's own, so that a reader on the main loop never waits out a busy
// server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "base/Cancellable.h"
#include "base/ChangeNotice.h"
#include "platform/WindowList.h"
#include "platform/linux/X11Session.h"

namespace velaro {

// What decides a window's level: its EWMH types and states (atom names), whether it bypasses the window
// manager, and the level our own windows declare.
struct WindowTraits {
    std::vector<std::string> types;
    std::vector<std::string> states;
    bool overrideRedirect = false;
    std::optional<int> declaredLevel;
};

// The level of a window: docks and panels at the status level, menus and pop-ups at the pop-up menu
// level, "keep above" windows floating, everything else normal. Absent for desktop (wallpaper) windows.
std::optional<int> windowLevelFor(const WindowTraits& traits);

// Which events make the list read the server again, and which windows' properties they make stale: the
// decisions of the event thread, kept apart from the connection so that they can be tested alone.
class WindowListChanges {
public:
    struct Atoms {
        std::uint32_t stacking = 0;
        std::vector<std::uint32_t> windowProperties;  // read per window: type, state, opacity, owner, level
    };
    WindowListChanges(std::uint32_t root, Atoms atoms) : root_(root), atoms_(std::move(atoms)) {}

    // Looks at one event; any thread.
    void note(const xcb_generic_event_t& event);
    // Takes what changed since the last take: whether anything did, and the windows whose properties did.
    // The next take starts from nothing, so an event that arrives during a read is seen by the next one.
    struct Taken {
        bool changed = false;
        std::vector<std::uint32_t> staleWindows;
    };
    Taken take();
    // Whether anything changed since the last take.
    bool changed() const;
    // Something changed that no event tells of (the screens, a read that failed): read again.
    void markChanged();
    // A read has given a new list: the generation moves (and the notice rings) without asking another read.
    void markRead();
    // Counts every event that may have changed the list, and every new list read.
    std::uint64_t generation() const;
    // Calls `wake` once, on the thread that moves the generation next (see WindowList::callOnNextChange).
    void callOnNextChange(std::function<void()> wake) { notice_.arm(std::move(wake)); }

    // What the list needs of a root child, kept from the notices of its creation, mapping and unmapping, so
    // that a read asks the server only of children no notice told of (those there before the list began).
    struct ChildState {
        bool viewable = false;
        bool overrideRedirect = false;
    };
    // Counts the notices about root children; a read notes the count before it asks.
    std::uint64_t childNotices() const;
    // The known state of each of `children`, in order; absent where unknown.
    std::vector<std::optional<ChildState>> childStates(const std::vector<std::uint32_t>& children) const;
    // Keeps what a read found of children it asked about, unless a notice about one came after `since` (its
    // count when the read began), which is newer; forgets children no longer in `children`.
    void learnChildStates(const std::vector<std::pair<std::uint32_t, ChildState>>& found, std::uint64_t since,
                          const std::vector<std::uint32_t>& children);

private:
    // Follows a root child's state from a notice about it (the root's substructure).
    void noteChild(const xcb_generic_event_t& event);

    // Moves the generation (marking the list changed, with a window whose properties must be read again),
    // then rings the notice once the lock is let go.
    void move(bool changed, std::optional<std::uint32_t> staleWindow = std::nullopt);

    const std::uint32_t root_;
    const Atoms atoms_;
    mutable std::mutex mutex_;
    bool changed_ = true;  // nothing has been read yet
    std::vector<std::uint32_t> stale_;
    std::uint64_t generation_ = 1;
    // Root children by window: the state when known, and the count of the last notice about each.
    struct Child {
        std::optional<ChildState> state;
        std::uint64_t notice = 0;
    };
    std::unordered_map<std::uint32_t, Child> children_;
    std::uint64_t childNotices_ = 0;
    ChangeNotice notice_;
};

class X11WindowList final : public WindowList {
public:
    // The session must outlive the list. Made on the main thread; snapshots may be taken on any thread.
    explicit X11WindowList(X11Session& session);
    // Ends a read in progress after its round trip.
    ~X11WindowList() override;

    // After a change, waits for the read of the new list while reads keep up with the waits (the first read
    // is always waited for); a reader that waits no longer gets the last list read, and the generation moves
    // once the new one is in.
    std::vector<WindowInfo> snapshot() override;
    std::uint64_t generation() const override;
    void callOnNextChange(std::function<void()> wake) const override;

    // The property our own windows may carry to declare their level (a signed 32-bit CARDINAL).
    static constexpr const char* kLevelProperty = "_VELARO_WINDOW_LEVEL";

private:
    // The reader thread: reads when asked, one read at a time, and hands each list read to the snapshots.
    void readWhenAsked();
    // Reads the stacking and what changed; false when the server did not answer or the list is ending.
    bool read(const std::vector<std::uint32_t>& staleWindows);
    std::optional<int> levelOf(const std::vector<std::uint32_t>& types,
                               const std::vector<std::uint32_t>& states, bool overrideRedirect,
                               std::optional<int> declaredLevel) const;

    X11Session& session_;
    std::map<std::uint32_t, std::string> atomNames_;
    std::uint32_t hiddenAtom_ = 0;
    // Shared with the event thread's filter, which may still run while the list goes.
    std::shared_ptr<WindowListChanges> changes_;
    Subscription filter_;
    Subscription rootSelection_;
    Subscription screens_;

    // What is known of a window that is on screen, kept while it stays and refreshed when its properties
    // change (the list follows each described window's property changes for that). The reader thread's own.
    struct Known {
        std::uint32_t topLevel = 0;
        bool managed = true;
        std::optional<std::int32_t> pid;
        std::string ownerName;
        std::optional<int> level;  // absent: a desktop (wallpaper) window
        bool hidden = false;
        double alpha = 1.0;
        std::optional<Rect> rootBounds;  // root pixels, outer bounds
        std::shared_ptr<Subscription> selection;
    };
    std::unordered_map<std::uint32_t, Known> known_;
    std::vector<std::uint32_t> order_;  // described windows, front-most first

    // A window of the last list read, its bounds still in root pixels.
    struct Shown {
        WindowInfo info;
        std::optional<Rect> rootBounds;
    };
    // Between the snapshots and the reader thread.
    std::mutex mutex_;
    std::condition_variable asked_, done_;
    std::atomic<bool> ending_{false};
    bool wanted_ = false;
    std::uint64_t started_ = 0, finished_ = 0, failed_ = 0;  // reads, by number
    bool lagging_ = false;       // the last read took longer than a snapshot waits
    bool staleAnswers_ = false;  // a snapshot answered with an older list than the one being read
    std::vector<Shown> shown_;
    std::uint64_t shownReads_ = 0;  // lists read so far
    // The snapshot's list as last converted: from which list read, in which screen space.
    std::uint64_t listFrom_ = 0;
    x11::ScreenSpace space_;
    std::vector<WindowInfo> list_;
    std::thread reader_;  // last: it starts once everything above exists
};

}  // namespace velaro
