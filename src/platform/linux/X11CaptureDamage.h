// What changed on the screen since a strip was grabbed, as the server's damage notices tell it: no display
// is needed here, so the rule that lets capture hand out its last frame again can be checked on its own.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "platform/linux/X11CaptureCompose.h"

namespace velaro::x11capture {

// What one grab read: the pictures it was made of (windows beneath our own and the desktop picture, by
// drawable), and whether it read the root itself and which of the root's pixels it kept.
struct Reading {
    std::vector<std::uint32_t> drawables;
    bool readRoot = false;
    PixelRect area;
    // One byte per pixel of `area`, set where the grab replaced the root's pixel (it lies under a window the
    // filter leaves out, so a change there is no change of the frame); empty when every pixel counts.
    std::vector<std::uint8_t> replaced;
    // The ledger's turn the grab was made in; 0 for a grab nothing can vouch for.
    std::uint64_t turn = 0;
};

// Turns of the capture worker, each beginning where the server's notices are taken in, and the last turn in
// which each watched drawable, the root's pixels or the window stack changed.
class DamageLedger {
public:
    // A new turn; the notices taken in from now on belong to it, and a grab made in it reads what they tell.
    void beginTurn() { ++turn_; }
    std::uint64_t turn() const { return turn_; }

    // Watches begin before the grab that needs them, in the same turn.
    void watchStarted(std::uint32_t drawable);
    void watchEnded(std::uint32_t drawable);

    void drawableChanged(std::uint32_t drawable);
    // A rectangle of the root was drawn (root pixels).
    void rootDamaged(const PixelRect& rect);
    void rootWatchStarted();
    void rootWatchEnded();
    bool watchingRoot() const { return rootSince_ != 0; }
    // Windows appeared, moved, restacked or went; the desktop picture was named anew; anything read before
    // may be stale.
    void layoutChanged() { layoutTurn_ = turn_; }

    // Whether nothing the grab read has changed since: every drawable it read watched from its turn on and
    // unchanged, the root's kept pixels undamaged, and the stack the same.
    bool unchangedSince(const Reading& reading) const;

private:
    struct Watch {
        std::uint64_t since = 0;
        std::uint64_t changed = 0;
    };
    struct RootDamage {
        std::uint64_t turn = 0;
        PixelRect rect;
    };
    // Enough for many frames of a busy screen; older rectangles count as a change of everything.
    static constexpr std::size_t kKeptRootDamage = 256;

    std::uint64_t turn_ = 1;
    std::uint64_t layoutTurn_ = 1;
    std::unordered_map<std::uint32_t, Watch> drawables_;
    std::uint64_t rootSince_ = 0;
    std::deque<RootDamage> rootDamage_;
    // The turn of the newest rectangle let go; a grab before it cannot be judged.
    std::uint64_t rootForgottenTurn_ = 0;
};

}  // namespace velaro::x11capture
