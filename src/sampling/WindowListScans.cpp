// The foreign-menu scan and the covering-window scan over the window list.
#include "sampling/WindowListScans.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/DefaultsStore.h"
#include "platform/Workspace.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

// How far below the menu bar a menu's top edge may sit and still hang from it.
constexpr double kMenuHangTolerance = 6;
// A window sticking out further than this past the main screen's side is "hanging" (sliding Spaces).
constexpr double kHangingMargin = 8;
// A position change of at least this much between scans counts as one slide move.
constexpr double kSlideMoveDistance = 40;
// A window covering this much of some screen is considered even when it does not lead the main screen.
constexpr double kConsideredScreenCoverage = 0.5;
constexpr double kStrongCoverage = 0.9;

std::set<std::string> stringSet(const DefaultsStore& defaults, const char* key) {
    const auto values = defaults.stringArrayValue(key);
    if (!values) return {};
    return {values->begin(), values->end()};
}

// Raises the screen's entry to `coverage` (or creates it when there is coverage at all).
void raiseCoverage(std::map<std::string, double>& byScreen, const std::string& screen, double coverage) {
    auto it = byScreen.find(screen);
    if (it == byScreen.end()) {
        if (coverage > 0) byScreen.emplace(screen, coverage);
    } else if (it->second < coverage) {
        it->second = coverage;
    }
}

}  // namespace

bool isForeignMenuWindow(const WindowInfo& window, std::int32_t ownPID, double menuBarHeight,
                         double screenHeight, double screenWidth) {
    constexpr double noCap = std::numeric_limits<double>::infinity();
    const double heightCap = screenHeight > 0 ? 0.5 * screenHeight : noCap;
    const double widthCap = screenWidth > 0 ? 0.9 * screenWidth : noCap;

    if (!window.layer || !window.ownerPID || !window.alpha || !window.bounds) return false;
    if (*window.ownerPID == ownPID) return false;
    if (*window.alpha <= 0.01) return false;

    const int layer = *window.layer;
    const Rect& b = *window.bounds;
    const double top = menuBarHeight + kMenuHangTolerance;
    if (b.minY() > top) return false;

    if (layer == WindowLevel::popUpMenu && b.width() > 50 && b.width() <= widthCap && b.height() > 20)
        return true;
    if (layer > WindowLevel::status && layer <= WindowLevel::screenSaver && b.width() > 100 &&
        b.height() > 50 && b.height() <= heightCap)
        return true;
    if (layer > WindowLevel::dock && layer < WindowLevel::status && b.width() > 100 &&
        b.width() <= widthCap && b.height() > 50)
        return true;
    return false;
}

std::string describeForeignMenu(const WindowInfo& window) {
    const Rect b = window.bounds.value_or(Rect{});
    auto i = [](double v) { return std::to_string(static_cast<long long>(std::trunc(v))); };
    return "layer=" + std::to_string(window.layer.value_or(0)) + " " + i(b.width()) + "\u00d7" +
           i(b.height()) + " @ (" + i(b.x()) + "," + i(b.y()) + ")";
}

WindowListScans::WindowListScans(WindowList& windows, const Screens& screens, const DefaultsStore& defaults,
                                 const Workspace& workspace, std::int32_t ownPID)
    : windows_(windows), screens_(screens), defaults_(defaults), workspace_(workspace), ownPID_(ownPID) {}

bool WindowListScans::isForeignMenuOpen() const {
    const double thickness = screens_.statusBarThickness();
    MenuAnswer answer{windows_.generation(), thickness, 0, 0, false};
    if (const auto main = screens_.mainScreen()) {
        answer.menuBarHeight = menuBarHeight(*main, thickness);
        answer.screenHeight = main->frame.height();
        answer.screenWidth = main->frame.width();
    }
    std::lock_guard lock(menuAnswerMutex_);
    if (menuAnswer_ && menuAnswer_->generation == answer.generation &&
        menuAnswer_->menuBarHeight == answer.menuBarHeight && menuAnswer_->screenHeight == answer.screenHeight &&
        menuAnswer_->screenWidth == answer.screenWidth)
        return menuAnswer_->open;
    // The generation is taken before the list: a change in between is looked at again next time.
    const auto list = windows_.snapshot();
    answer.open = std::any_of(list.begin(), list.end(), [&](const WindowInfo& w) {
        return isForeignMenuWindow(w, ownPID_, answer.menuBarHeight, answer.screenHeight, answer.screenWidth);
    });
    menuAnswer_ = answer;
    return answer.open;
}

std::optional<std::string> WindowListScans::appIdOf(std::int32_t pid) const {
    const auto app = workspace_.runningApplication(pid);
    if (!app) return std::nullopt;
    return app->appId;
}

WindowPositions::WindowPositions(std::vector<Entry> entries) {
    if (entries.empty()) return;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.first < b.first; });
    // Of equal numbers the last one stays: reverse, keep each number's first, reverse back.
    std::reverse(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const Entry& a, const Entry& b) { return a.first == b.first; }),
                  entries.end());
    std::reverse(entries.begin(), entries.end());
    byNumber_ = std::make_shared<const std::vector<Entry>>(std::move(entries));
}

std::optional<double> WindowPositions::find(std::int64_t number) const {
    if (!byNumber_) return std::nullopt;
    const auto it = std::lower_bound(byNumber_->begin(), byNumber_->end(), number,
                                     [](const Entry& e, std::int64_t n) { return e.first < n; });
    if (it == byNumber_->end() || it->first != number) return std::nullopt;
    return it->second;
}

WindowListScans::ScanInputs WindowListScans::readInputs(std::uint64_t generation) const {
    return ScanInputs{generation,
                      screens_.screens(),
                      screens_.mainScreen(),
                      screens_.statusBarThickness(),
                      stringSet(defaults_, kExcludedOverlayHideKey),
                      stringSet(defaults_, kExcludedCaptureStopKey)};
}

WindowScanResult WindowListScans::scanWindows(const WindowPositions& previousPositions) const {
    // The change counts are taken before what they count is read: a change in between makes the next scan
    // read (and, when anything differs, walk) again.
    const SourceRevisions revisions = revisionsNow();
    std::lock_guard lock(scanMutex_);
    // Inputs read anew that differ from the memo's, or owners the memo looked up that changed: walk again.
    std::optional<ScanInputs> changed;
    if (!scanMemo_ || !(scanMemo_->read == revisions)) {
        changed = readInputs(revisions.windows);
        if (scanMemo_ && scanMemo_->inputs == *changed) {
            scanMemo_->read = revisions;
            changed.reset();
        }
    }
    if (changed || !stillHolds(*scanMemo_)) {
        ScanMemo memo;
        memo.read = revisions;
        memo.inputs = changed ? std::move(*changed) : std::move(scanMemo_->inputs);
        walkWindows(memo);
        scanMemo_ = std::move(memo);
    }
    WindowScanResult r = scanMemo_->result;
    if (!scanMemo_->walked) return r;
    r.hadPreviousPositions = !previousPositions.empty();
    int leftMoves = 0, rightMoves = 0;
    for (const auto& [number, minX] : scanMemo_->hanging) {
        const auto previous = previousPositions.find(number);
        if (!previous) continue;
        const double d = minX - *previous;
        if (d <= -kSlideMoveDistance) ++leftMoves;
        if (d >= kSlideMoveDistance) ++rightMoves;
    }
    r.maxSlideMoves = std::max(leftMoves, rightMoves);
    return r;
}

bool WindowListScans::callOnNextInputChange(const std::function<void()>& wake) const {
    windows_.callOnNextChange(wake);
    screens_.callOnNextChange(wake);
    defaults_.callOnNextChange(wake);
    if (!wake) return true;
    // Read after arming: a change before it is seen here, a change after it rings.
    const SourceRevisions now = revisionsNow();
    {
        std::lock_guard lock(scanMutex_);
        if (scanMemo_ && scanMemo_->read == now) return true;
    }
    callOnNextInputChange(nullptr);
    return false;
}

WindowListScans::SourceRevisions WindowListScans::revisionsNow() const {
    return {windows_.generation(), screens_.revision(), defaults_.revision()};
}

bool WindowListScans::stillHolds(const ScanMemo& memo) const {
    return std::all_of(memo.bundles.begin(), memo.bundles.end(),
                       [this](const auto& asked) { return appIdOf(asked.first) == asked.second; });
}

void WindowListScans::walkWindows(ScanMemo& memo) const {
    const auto& allScreens = memo.inputs.screens;
    const auto& main = memo.inputs.main;
    const double thickness = memo.inputs.thickness;
    const double primaryMaxY = allScreens.empty() ? 0 : allScreens.front().frame.maxY();
    WindowScanResult& r = memo.result;

    // The reference rectangle: the main screen from its real top-left (in window-list coordinates), leaving
    // out the bottom `thickness` points.
    Rect reference{0, 0, 0, -thickness};
    if (main) {
        const Rect mainTopLeft = topLeftFrame(*main, primaryMaxY);
        reference =
            Rect{mainTopLeft.x(), mainTopLeft.y(), main->frame.width(), main->frame.height() - thickness};
    }
    if (!(reference.width() > 0) || !(reference.height() > 0)) return;
    memo.walked = true;

    const double menuHeight = menuBarHeight(*main, thickness);
    const double mainHeight = main->frame.height(), mainWidth = main->frame.width();
    const auto& overlayHide = memo.inputs.overlayHide;
    const auto& captureStop = memo.inputs.captureStop;
    const bool anyExcluded = !overlayHide.empty() || !captureStop.empty();

    struct ScreenArea {
        std::string id;
        Rect area;
    };
    std::vector<ScreenArea> areas;
    for (const auto& s : allScreens)
        if (auto a = areaBelowMenuBar(s, primaryMaxY)) areas.push_back({s.id, *a});
    const bool singleScreen = allScreens.size() == 1;
    const double referenceArea = reference.width() * reference.height();

    double bestFilled = 0, bestOverlayHide = 0, bestCaptureStop = 0;
    int considered = 0, offscreen = 0;
    std::vector<WindowPositions::Entry> positions;

    for (const auto& w : windows_.snapshot()) {
        if (!w.ownerPID || *w.ownerPID == ownPID_ || !w.layer || !w.bounds) continue;
        const Rect& b = *w.bounds;

        if (!r.foreignMenuSeen && isForeignMenuWindow(w, ownPID_, menuHeight, mainHeight, mainWidth)) {
            r.foreignMenuSeen = true;
            r.foreignMenuDescription = describeForeignMenu(w);
        }
        if (*w.layer != WindowLevel::normal) continue;

        ++considered;
        bool recorded = false;
        if (singleScreen && w.number && *w.number != 0) {
            positions.emplace_back(*w.number, b.minX());
            recorded = true;
        }
        const double overhang = std::max(b.maxX() - reference.maxX(), reference.minX() - b.minX());
        if (overhang > kHangingMargin) {
            ++offscreen;
            if (recorded) memo.hanging.emplace_back(*w.number, b.minX());
        }

        std::vector<std::pair<const std::string*, double>> byScreen;
        bool coversHalfOfAScreen = false;
        for (const auto& a : areas) {
            const Rect i = b.intersection(a.area);
            if (i.isEmpty()) continue;
            const double c = i.area() / (a.area.width() * a.area.height());
            byScreen.emplace_back(&a.id, c);
            if (c >= kConsideredScreenCoverage) coversHalfOfAScreen = true;
        }
        const double cov = b.intersection(reference).area() / referenceArea;
        const bool strong = cov >= kStrongCoverage && (bestOverlayHide < cov || bestCaptureStop < cov);
        const bool qualifies = bestFilled < cov || strong;
        if (!coversHalfOfAScreen && !qualifies) continue;

        if (anyExcluded) {
            const auto bundle = appIdOf(*w.ownerPID);
            memo.bundles.emplace_back(*w.ownerPID, bundle);
            if (bundle) {
                const bool inOverlayHide = overlayHide.count(*bundle) > 0;
                const bool inCaptureStop = captureStop.count(*bundle) > 0;
                if (inOverlayHide) {
                    if (qualifies && bestOverlayHide < cov) bestOverlayHide = cov;
                    for (const auto& [id, c] : byScreen) raiseCoverage(r.overlayHideCoverageByScreen, *id, c);
                }
                if (inCaptureStop) {
                    if (qualifies && bestCaptureStop < cov) bestCaptureStop = cov;
                    for (const auto& [id, c] : byScreen) raiseCoverage(r.captureStopCoverageByScreen, *id, c);
                }
                // An excluded app's window never becomes the filled window.
                if (inOverlayHide || inCaptureStop) continue;
            }
        }
        for (const auto& [id, c] : byScreen) raiseCoverage(r.filledCoverageByScreen, *id, c);
        if (bestFilled < cov) {
            bestFilled = cov;
            r.filledOwnerName = w.ownerName;
            r.filledPID = *w.ownerPID;
        }
    }

    r.windowPositions = WindowPositions(std::move(positions));
    r.filledCoverage = bestFilled;
    r.overlayHideCoverage = bestOverlayHide;
    r.offscreenWindowCount = singleScreen ? offscreen : 0;
    r.consideredWindowCount = singleScreen ? considered : -1;
}

}  // namespace velaro
