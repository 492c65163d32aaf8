// The two window-list scans of the sampler: is another app's menu hanging from the menu bar, and which
// window fills the top of each screen (with the excluded apps' coverage and the slide counters).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/Screens.h"
#include "platform/WindowList.h"

namespace velaro {

class DefaultsStore;
class Workspace;

// Defaults keys of the excluded-app sets (written by `ExcludedAppsModel`, read here again whenever the
// store changed).
inline constexpr const char* kExcludedAppsMembersKey = "excludedAppsMembers";
inline constexpr const char* kExcludedSampleStopKey = "excludedSampleStop";
inline constexpr const char* kExcludedOverlayHideKey = "excludedOverlayHide";
inline constexpr const char* kExcludedCaptureStopKey = "excludedCaptureStop";

// The left edges of the windows a scan recorded, by window number. A flat list sorted by number, shared
// between copies and never changed once made: the sampler keeps every scan's for the next one, and a scan
// that found nothing new hands out the last one again, so a copy is a reference count, not a list.
class WindowPositions {
public:
    using Entry = std::pair<std::int64_t, double>;
    WindowPositions() = default;
    // Entries in any order; of two with the same number the later one counts.
    explicit WindowPositions(std::vector<Entry> entries);
    WindowPositions(std::initializer_list<Entry> entries) : WindowPositions(std::vector<Entry>(entries)) {}

    std::optional<double> find(std::int64_t number) const;
    bool empty() const { return size() == 0; }
    std::size_t size() const { return byNumber_ ? byNumber_->size() : 0; }

    friend bool operator==(const WindowPositions& a, const WindowPositions& b) {
        return a.byNumber_ == b.byNumber_ || (a.empty() && b.empty()) ||
               (a.byNumber_ && b.byNumber_ && *a.byNumber_ == *b.byNumber_);
    }

private:
    std::shared_ptr<const std::vector<Entry>> byNumber_;
};

struct WindowScanResult {
    std::string filledOwnerName;
    std::int32_t filledPID = 0;
    double filledCoverage = 0;
    // Keyed by screen id: the highest coverage of the screen below its menu bar by a counted window of an
    // app that is not excluded.
    std::map<std::string, double> filledCoverageByScreen;
    double overlayHideCoverage = 0;
    std::map<std::string, double> overlayHideCoverageByScreen;
    std::map<std::string, double> captureStopCoverageByScreen;
    bool foreignMenuSeen = false;
    std::string foreignMenuDescription;
    int offscreenWindowCount = 0;
    int consideredWindowCount = -1;
    int maxSlideMoves = 0;
    bool hadPreviousPositions = false;
    WindowPositions windowPositions;

    friend bool operator==(const WindowScanResult&, const WindowScanResult&) = default;
};

// Whether a window is another app's menu, pop-up or panel hanging from the menu bar. `screenHeight` and
// `screenWidth` of the main screen cap the size; 0 means no cap.
bool isForeignMenuWindow(const WindowInfo& window, std::int32_t ownPID, double menuBarHeight,
                         double screenHeight, double screenWidth);

// "layer=101 200×300 @ (10,24)": how a foreign menu is described in diagnostics.
std::string describeForeignMenu(const WindowInfo& window);

class WindowListScans {
public:
    // `workspace` finds the app id of a window's owner; `ownPID` is this process.
    WindowListScans(WindowList& windows, const Screens& screens, const DefaultsStore& defaults,
                    const Workspace& workspace, std::int32_t ownPID);

    // Is a foreign menu open on the main screen? Safe from any thread (the frame queues call it, a few
    // times a second): the list is looked at again only after it changed, or the main screen did.
    bool isForeignMenuOpen() const;

    // The covering-window scan; `previousPositions` are the window positions of the previous scan. While
    // nothing it reads changed (the list's generation, the screens, the excluded apps and the owners it
    // looked up) the windows are not walked again: only the slide moves are measured anew. While the list,
    // the screens and the defaults keep their change counts, the screens and the excluded apps are not even
    // read again (this runs every 0.5 s, idle or not).
    WindowScanResult scanWindows(const WindowPositions& previousPositions) const;

    // Calls `wake` once, from any thread, when the list, the screens or the defaults next change after the
    // last scanWindows: a scan until then would find what the last one found, unless an owner it looked
    // up changed (the workspace tells of those with its application events). Returns false, arming
    // nothing, when one of them has changed already. An empty `wake` disarms.
    bool callOnNextInputChange(const std::function<void()>& wake) const;

private:
    // What a scan depends on besides the workspace's answers.
    struct ScanInputs {
        std::uint64_t generation = 0;
        std::vector<ScreenInfo> screens;
        std::optional<ScreenInfo> main;
        double thickness = 0;
        std::set<std::string> overlayHide, captureStop;
        friend bool operator==(const ScanInputs&, const ScanInputs&) = default;
    };
    // The change counts of the list, the screens and the defaults the inputs were last read at: while none
    // moved, the inputs are not read again (each read copies the screens and the excluded-app sets).
    struct SourceRevisions {
        std::uint64_t windows = 0, screens = 0, defaults = 0;
        friend bool operator==(const SourceRevisions&, const SourceRevisions&) = default;
    };
    SourceRevisions revisionsNow() const;
    ScanInputs readInputs(std::uint64_t generation) const;
    // The last scan: its inputs, the app ids it was told, the numbered windows hanging off the
    // main screen (the only ones the slide moves look at) and its result less the moves. Without a main
    // screen to measure against nothing is walked and the result stays empty.
    struct ScanMemo {
        SourceRevisions read;
        ScanInputs inputs;
        bool walked = false;
        std::vector<std::pair<std::int32_t, std::optional<std::string>>> bundles;
        std::vector<WindowPositions::Entry> hanging;
        WindowScanResult result;
    };
    void walkWindows(ScanMemo& memo) const;
    bool stillHolds(const ScanMemo& memo) const;
    std::optional<std::string> appIdOf(std::int32_t pid) const;

    WindowList& windows_;
    const Screens& screens_;
    const DefaultsStore& defaults_;
    const Workspace& workspace_;
    std::int32_t ownPID_;

    // The last answer of isForeignMenuOpen and what it was found from.
    struct MenuAnswer {
        std::uint64_t generation = 0;
        double menuBarHeight = 0, screenHeight = 0, screenWidth = 0;
        bool open = false;
    };
    mutable std::mutex menuAnswerMutex_;
    mutable std::optional<MenuAnswer> menuAnswer_;

    mutable std::mutex scanMutex_;
    mutable std::optional<ScanMemo> scanMemo_;
};

}  // namespace velaro
