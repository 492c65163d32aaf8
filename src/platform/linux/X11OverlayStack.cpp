// The overlay stacking plan.
#include "platform/linux/X11OverlayStack.h"

#include <algorithm>
#include <set>

#include "platform/OverlayWindowHost.h"

namespace velaro::x11 {

namespace {

std::ptrdiff_t stackIndex(const StackEnvironment& env, std::uint32_t id) {
    for (std::size_t i = 0; i < env.stack.size(); ++i)
        if (env.stack[i].id == id) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

bool isMappedPeer(const StackEnvironment& env, std::uint32_t id) {
    for (const auto& child : env.stack)
        if (child.id == id) return child.mapped && !child.overrideRedirect;
    return false;
}

const Rect* monitorFor(const Rect& rect, const StackEnvironment& env) {
    const Point centre{rect.midX(), rect.midY()};
    for (const auto& m : env.monitors)
        if (m.contains(centre)) return &m;
    const Rect* best = nullptr;
    double bestArea = 0;
    for (const auto& m : env.monitors) {
        const double area = m.intersection(rect).area();
        if (area > bestArea) best = &m, bestArea = area;
    }
    if (!best && !env.monitors.empty()) best = &env.monitors.front();
    return best;
}

}  // namespace

std::uint32_t panelFor(const Rect& rect, const StackEnvironment& env) {
    const Rect* monitor = monitorFor(rect, env);
    if (!monitor) return 0;
    std::uint32_t panel = 0;
    std::ptrdiff_t lowest = -1;
    for (const auto& dock : env.docks) {
        const Rect& d = dock.rect;
        const bool overlapsHorizontally = d.minX() < monitor->maxX() && d.maxX() > monitor->minX();
        const bool atTop = d.minY() >= monitor->minY() - 1 &&
                           d.minY() < monitor->minY() + monitor->height() / 4 &&
                           d.height() < monitor->height() / 2;
        if (!overlapsHorizontally || !atTop || !isMappedPeer(env, dock.frame)) continue;
        const auto index = stackIndex(env, dock.frame);
        if (lowest < 0 || index < lowest) lowest = index, panel = dock.frame;
    }
    return panel;
}

std::vector<StackGroup> planStack(const std::vector<OwnWindow>& frontToBack, const StackEnvironment& env) {
    std::set<std::uint32_t> ours;
    for (const auto& w : frontToBack) ours.insert(w.id);
    auto usable = [&](std::uint32_t frame) {
        return frame != 0 && !ours.count(frame) && isMappedPeer(env, frame);
    };

    std::vector<StackGroup> groups;
    for (const auto& w : frontToBack) {
        Anchor anchor = Anchor::top;
        std::uint32_t sibling = 0;
        if (w.level > OverlayWindowLevel::belowPanel) {
            anchor = Anchor::top;
        } else if (w.level > OverlayWindowLevel::normal) {
            sibling = panelFor(w.rect, env);
            anchor = sibling ? Anchor::below : Anchor::top;
        } else if (w.level > OverlayWindowLevel::wallpaper) {
            if (usable(w.belowFrame))
                sibling = w.belowFrame;
            else if (usable(env.activeFrame) && env.activeFrame != env.desktopFrame)
                sibling = env.activeFrame;
            else
                sibling = panelFor(w.rect, env);
            anchor = sibling ? Anchor::below : Anchor::top;
        } else {
            sibling = usable(env.desktopFrame) ? env.desktopFrame : 0;
            anchor = sibling ? Anchor::above : Anchor::bottom;
        }
        auto it = std::find_if(groups.begin(), groups.end(), [&](const StackGroup& g) {
            return g.anchor == anchor && g.sibling == sibling;
        });
        if (it == groups.end()) {
            groups.push_back({anchor, sibling, w.level, {}});
            it = std::prev(groups.end());
        }
        it->level = std::max(it->level, w.level);
        it->windows.push_back(w.id);
    }
    // Lower groups first: where two anchors meet, the group applied last lies nearest to it.
    std::stable_sort(groups.begin(), groups.end(),
                     [](const StackGroup& a, const StackGroup& b) { return a.level < b.level; });
    return groups;
}

bool stackIsIntact(const std::vector<StackGroup>& groups, const StackEnvironment& env) {
    std::set<std::uint32_t> ours;
    for (const auto& g : groups) ours.insert(g.windows.begin(), g.windows.end());
    std::vector<std::uint32_t> relevant;  // bottom to top
    for (const auto& child : env.stack)
        if (ours.count(child.id) || (child.mapped && !child.overrideRedirect)) relevant.push_back(child.id);
    auto indexOf = [&](std::uint32_t id) -> std::ptrdiff_t {
        auto it = std::find(relevant.begin(), relevant.end(), id);
        return it == relevant.end() ? -1 : it - relevant.begin();
    };
    for (const auto& g : groups) {
        const auto n = static_cast<std::ptrdiff_t>(g.windows.size());
        const auto size = static_cast<std::ptrdiff_t>(relevant.size());
        std::ptrdiff_t first = 0;  // where the group's backmost window must be
        switch (g.anchor) {
            case Anchor::top:
                first = size - n;
                break;
            case Anchor::bottom:
                first = 0;
                break;
            case Anchor::below: {
                const auto s = indexOf(g.sibling);
                if (s < 0) return false;
                first = s - n;
                break;
            }
            case Anchor::above: {
                const auto s = indexOf(g.sibling);
                if (s < 0) return false;
                first = s + 1;
                break;
            }
        }
        if (first < 0 || first + n > size) return false;
        for (std::ptrdiff_t k = 0; k < n; ++k)
            if (relevant[first + k] != g.windows[n - 1 - k]) return false;
    }
    return true;
}

std::vector<StackOperation> stackOperations(const std::vector<StackGroup>& groups) {
    std::vector<StackOperation> ops;
    for (const auto& g : groups) {
        for (std::size_t i = 0; i < g.windows.size(); ++i) {
            if (i > 0) {
                ops.push_back({g.windows[i], g.windows[i - 1], false});
                continue;
            }
            switch (g.anchor) {
                case Anchor::top:
                    ops.push_back({g.windows[0], 0, true});
                    break;
                case Anchor::bottom:
                    ops.push_back({g.windows[0], 0, false});
                    break;
                case Anchor::below:
                    ops.push_back({g.windows[0], g.sibling, false});
                    break;
                case Anchor::above:
                    ops.push_back({g.windows[0], g.sibling, true});
                    break;
            }
        }
    }
    return ops;
}

}  // namespace velaro::x11
