// The pill spans measured from the menu items and the status windows.
#include "overlay/MenuShapeGeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/OverlayWindowHost.h"
#include "sampling/ScreenTopology.h"

namespace velaro {

namespace {

// The status windows' limits are device pixels: a panel keeps its size in pixels whatever scale the app
// draws at, so a 28-px panel is 14 points at two pixels a point, and limits in points would drop its items.
// Status item windows of ordinary panel heights only: taller ones are other things at that level. A panel
// taller than the ordinary holds items as tall as itself.
constexpr double kMinStatusHeight = 18;
constexpr double kMaxStatusHeight = 40;
// How far below the screen's top a status window may start.
constexpr double kStatusTopSlack = 4;
// What points turned into pixels and back through a fractional ratio may gain or lose.
constexpr double kPixelRounding = 1e-6;
// Menu items this small or smaller are separators and spacers.
constexpr double kMinItemSide = 2;
// A timer set for the end of a kept pill's time may run this much before it (its interval in whole
// milliseconds), in seconds.
constexpr double kTimerRounding = 0.01;

std::optional<Rect> unite(const std::optional<Rect>& a, const Rect& b) {
    if (!a) return b;
    const double x0 = std::min(a->minX(), b.minX()), y0 = std::min(a->minY(), b.minY());
    const double x1 = std::max(a->maxX(), b.maxX()), y1 = std::max(a->maxY(), b.maxY());
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

double pixelsPerPoint(const ScreenInfo& screen) {
    return std::isfinite(screen.backingScale) && screen.backingScale > 0 ? screen.backingScale : 1.0;
}

std::optional<NotchSpan> notchOf(const ScreenInfo& screen) {
    const auto housing = notchRect(screen);
    if (!housing) return std::nullopt;
    return NotchSpan{housing->minX() - screen.frame.minX(), housing->maxX() - screen.frame.minX()};
}

}  // namespace

std::optional<MenuExtent> menuExtentFromItems(const std::vector<std::optional<Rect>>& items,
                                              const std::vector<ScreenInfo>& screens, double primaryHeight) {
    std::optional<Rect> united;
    for (const auto& item : items) {
        if (!item || !(item->width() > kMinItemSide) || !(item->height() > kMinItemSide)) continue;
        united = unite(united, *item);
    }
    if (!united || !(united->width() > 0) || screens.empty()) return std::nullopt;
    const Point centre{united->midX(), primaryHeight - united->midY()};
    const ScreenInfo* on = &screens.front();
    for (const auto& s : screens) {
        if (s.frame.contains(centre)) {
            on = &s;
            break;
        }
    }
    return MenuExtent{united->minX() - on->frame.minX(), united->maxX() - on->frame.minX(), *on};
}

PillGeometry pillGeometryForScreen(const ScreenInfo& screen, const std::optional<MenuExtent>& menu,
                                   const std::vector<MenuBarItemWindow>& windows, double primaryHeight,
                                   const CornerSettings& corners, const std::optional<NotchSpan>& notch) {
    const double padding = corners.pillHPadding;
    const Rect& s = screen.frame;
    PillGeometry out;
    if (menu) {
        const double start = std::max(menu->minX - padding + corners.pillLeftHOffset, 0.0);
        double end = menu->maxX + padding + corners.pillLeftHOffset;
        if (notch && notch->left < end) end = notch->left;
        if (start < end) out.left = PillSpan{start, end};
    }
    if (!corners.pillSeparateSides || windows.empty()) return out;

    const double ratio = pixelsPerPoint(screen);
    const double panel = showsMenuBar(screen) ? (s.maxY() - screen.visibleFrame.maxY()) * ratio : 0.0;
    const double tallest = std::max(kMaxStatusHeight, panel) + kPixelRounding;
    std::optional<Rect> united;
    double reachMin = 0, reachMax = s.width();
    for (const auto& w : windows) {
        if (!w.level || *w.level != OverlayWindowLevel::panel || !w.bounds) continue;
        const Rect& b = *w.bounds;
        const double height = b.height() * ratio;
        if (!(height >= kMinStatusHeight - kPixelRounding) || height > tallest) continue;
        const double belowTop = (b.y() - (primaryHeight - s.maxY())) * ratio;
        if (belowTop < -kPixelRounding || belowTop > kStatusTopSlack + kPixelRounding) continue;
        // On the screen where the item is: its frame's padding may reach past the screen's edge (an icon at
        // a panel's left end) or onto the next screen.
        if (b.midX() < s.minX() || b.midX() >= s.maxX()) continue;
        const Rect local{b.x() - s.minX(), b.y(), b.width(), b.height()};
        // An item hidden under the camera housing.
        if (notch && local.midX() >= notch->left && local.midX() <= notch->right) continue;
        united = unite(united, local);
        if (w.reachMinX) reachMin = std::max(reachMin, *w.reachMinX - s.minX());
        if (w.reachMaxX) reachMax = std::min(reachMax, *w.reachMaxX - s.minX());
    }
    if (!united) return out;
    // Within the screen, and short of the bar's other things (a task list), so that a pill at either end
    // keeps its rounded end in sight; only the room the padding and offset leave around the items is lost.
    double start = std::max(corners.pillRightHOffset + (united->minX() - padding), reachMin);
    if (notch && start <= notch->right) start = notch->right;
    const double end = std::min(reachMax, corners.pillRightHOffset + (united->maxX() + padding));
    if (start < end) out.right = PillSpan{start, end};
    return out;
}

MenuShapeGeometry::MenuShapeGeometry(ScreenList screens, MenuBarItems& items, MainLoop& loop,
                                     std::function<CornerSettings()> corners,
                                     std::function<void(PillGeometryByScreen)> publish)
    : screens_(std::move(screens)),
      items_(items),
      loop_(loop),
      corners_(std::move(corners)),
      publish_(std::move(publish)) {
    statusArea_ = items_.statusAreaChanged().sink([this](int) { computePillGeometries(); });
}

std::optional<MenuExtent> MenuShapeGeometry::menuBarItemFrames(const std::vector<ScreenInfo>& screens,
                                                               double primaryHeight) const {
    const auto items = items_.frontMenuItemFrames();
    if (!items || items->empty()) return std::nullopt;
    return menuExtentFromItems(*items, screens, primaryHeight);
}

std::optional<PillSpan> MenuShapeGeometry::keptStatusPill(const ScreenInfo& screen, double now,
                                                          GoneSince& goneSince) const {
    const auto last = published_.find(screen.id);
    if (last == published_.end() || !last->second.right) return std::nullopt;
    // While the panel is gone too, nothing shows on its screen: its return starts the time.
    std::optional<double> since;
    if (showsMenuBar(screen)) {
        const auto before = statusItemsGoneSince_.find(screen.id);
        since = before != statusItemsGoneSince_.end() && before->second ? *before->second : now;
    }
    if (since && now + kTimerRounding >= *since + kStatusItemsReturnTime) return std::nullopt;
    goneSince[screen.id] = since;
    return last->second.right;
}

void MenuShapeGeometry::computePillGeometries() {
    const CornerSettings corners = corners_();
    const auto screens = screens_();
    const double primaryHeight = screens.empty() ? 0.0 : screens.front().frame.height();
    const auto windows = items_.statusItemWindows();
    const auto menu = menuBarItemFrames(screens, primaryHeight);
    const double now = loop_.uptime();
    PillGeometryByScreen map;
    GoneSince goneSince;
    for (const auto& screen : screens) {
        PillGeometry pills =
            pillGeometryForScreen(screen, menu, windows, primaryHeight, corners, notchOf(screen));
        // Status items gone from a screen whose pill the settings still ask for: its panel is reloading or
        // restarting, or its tray was taken off.
        if (!pills.right && corners.pillSeparateSides) pills.right = keptStatusPill(screen, now, goneSince);
        map[screen.id] = pills;
    }
    statusItemsGoneSince_ = std::move(goneSince);
    // A pill kept for a tray that never came back goes when its time is up, whatever else changes.
    std::optional<double> firstGone;
    for (const auto& [screen, since] : statusItemsGoneSince_)
        if (since) firstGone = std::min(firstGone.value_or(*since), *since);
    keptPillsEnd_ = firstGone ? loop_.postAfter(*firstGone + kStatusItemsReturnTime - now,
                                                [this] { computePillGeometries(); })
                              : Cancellable{};
    published_ = map;
    publish_(std::move(map));
}

}  // namespace velaro
