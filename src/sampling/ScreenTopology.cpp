// Screen geometry helpers and the cached screen list.
#include "sampling/ScreenTopology.h"

#include <memory>

#include "platform/Workspace.h"

namespace velaro {

double menuBarHeight(const ScreenInfo& screen, double statusBarThickness) {
    // Top edges compared directly: a height computed from the visible frame's origin would be wrong for
    // every screen that does not sit at y 0.
    const double gap = screen.frame.maxY() - screen.visibleFrame.maxY();
    if (gap > 0) return gap;
    return statusBarThickness;
}

bool showsMenuBar(const ScreenInfo& screen) {
    return screen.frame.maxY() > screen.visibleFrame.maxY();
}

std::optional<Rect> areaBelowMenuBar(const ScreenInfo& screen, double primaryMaxY) {
    const Rect& f = screen.frame;
    const double inset = f.maxY() - screen.visibleFrame.maxY();
    const double h = f.height() - inset;
    if (!(inset >= 0) || !(h > 0) || !(f.width() > 0)) return std::nullopt;
    return Rect{f.minX(), (primaryMaxY - f.maxY()) + inset, f.width(), h};
}

Rect topLeftFrame(const ScreenInfo& screen, double primaryMaxY) {
    const Rect& f = screen.frame;
    return {f.minX(), primaryMaxY - f.maxY(), f.width(), f.height()};
}

std::optional<ScreenInfo> screenForDisplayNumber(const Screens& screens, std::uint32_t number) {
    for (auto& s : screens.screens())
        if (s.number == number) return s;
    return std::nullopt;
}

ScreenTopology::ScreenTopology(Screens& screens, Workspace* workspace) : source_(screens) {
    // The subscriptions die with the topology, so the handlers never outlive `this`.
    observers_.push_back(source_.parametersChanged().sink([this](int) { stale_ = true; }));
    if (workspace) {
        observers_.push_back(workspace->events().sink([this](const WorkspaceEvent& e) {
            if (e.kind == WorkspaceEvent::Kind::didWake) stale_ = true;
        }));
    }
}

const std::vector<ScreenInfo>& ScreenTopology::screens() {
    if (stale_) {
        screens_ = source_.screens();
        stale_ = false;
    }
    return screens_;
}

bool ScreenTopology::contains(const ScreenInfo& screen) {
    for (const auto& s : screens())
        if (s.id == screen.id) return showsMenuBar(s);
    return false;
}

std::vector<ScreenInfo> ScreenTopology::screenDescriptions() {
    std::vector<ScreenInfo> out;
    for (const auto& s : screens())
        if (showsMenuBar(s)) out.push_back(s);
    return out;
}

}  // namespace velaro
