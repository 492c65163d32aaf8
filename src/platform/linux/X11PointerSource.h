// The pointer on an X11 display, followed only while something needs it: raw motion from the input
// extension (and raw keys, while the modifier keys are read) wakes the session's event thread, which asks the
// server where the pointer is and which modifiers are held and keeps the answer, so a read never waits for
// the server on the main thread. Positions are converted through the
// session's screen snapshot at each read, so they follow monitor, primary and ratio changes.
#pragma once

#include <map>
#include <memory>
#include <thread>

#include "base/Geometry.h"
#include "base/Lifetime.h"
#include "base/MainLoop.h"
#include "platform/PointerSource.h"

namespace velaro {

class X11Session;

class X11PointerSource final : public PointerSource {
public:
    // The loop and the session must outlive the source. Main thread.
    X11PointerSource(MainLoop& loop, X11Session& session);
    ~X11PointerSource() override;

    // A read gives the position kept by the event thread, never waiting, while raw motion follows the
    // pointer. The devices do not tell of a pointer another program warps, so a read that finds the
    // server's last answer older than a tenth of a second has the event thread ask again: a warp is seen
    // within about that long while reads keep coming. When the pointer is not followed yet (or the server
    // has no raw motion, or reads paused for a quarter of a second) a read off the main thread asks the
    // server itself (a round trip on the reading
    // thread), while the main thread gets what is known and the event thread asks; the watchers hear of the
    // answer. Either way the pointer is followed from then on, for as long as reads keep coming (a second)
    // or a watch lasts.
    std::optional<Point> location() const override;
    std::optional<Point> topLeftLocation() const override;
    // The same way: the state of the last answer (kept current by raw key events while modifier reads keep
    // coming), with Alt and Super found through the server's modifier map.
    std::uint32_t modifierFlags() const override;
    Cancellable watchMotion(std::function<void()> moved) override;

    // Whether the pointer is followed now.
    bool following() const;

    struct Shared;

private:
    struct Reading {
        std::optional<Point> root;  // root pixels; none when the server did not answer
        std::uint16_t state = 0;    // the modifier and button state read with it
    };
    // The kept answer, or where none is kept current a fresh one off the main thread; `keys`: the modifier
    // keys are wanted.
    Reading current(bool keys) const;
    // The pointer in root pixels.
    std::optional<Point> rootPixels() const;
    void notifyWatchers();

    MainLoop& loop_;
    X11Session& session_;
    std::thread::id mainThread_;
    std::shared_ptr<Shared> shared_;
    std::map<int, std::function<void()>> watchers_;
    int nextWatcher_ = 0;
    Cancellable filter_;
    Cancellable timer_;  // asks on a timer while watched, on a server without the input extension
    Lifetime lifetime_;
};

}  // namespace velaro
