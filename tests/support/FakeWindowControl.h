// Window control for tests: maximise buttons placed by the test, actions recorded in order with results the
// test chooses.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/WindowControl.h"

namespace velaro::test {

class FakeWindowControl final : public WindowControl {
public:
    // A window with a maximise button, as the test lays it out.
    struct Window {
        std::int64_t number = 0;  // the window list's number
        WindowHandle handle = 0;
        Rect button;  // top-left global points
        bool fullScreen = false;
        std::optional<std::int32_t> pid;
    };
    // One action, e.g. {"fill", 7}.
    struct Call {
        std::string action;
        WindowHandle window;
        friend bool operator==(const Call&, const Call&) = default;
    };

    void addWindow(Window window) {
        std::lock_guard lock(mutex_);
        windows_.push_back(window);
    }

    void clearWindows() {
        std::lock_guard lock(mutex_);
        windows_.clear();
    }

    std::optional<MaximiseButton> maximiseButtonAt(Point point, std::int64_t windowNumber) override {
        std::lock_guard lock(mutex_);
        for (const auto& w : windows_)
            if (w.number == windowNumber && w.button.contains(point))
                return MaximiseButton{w.handle, w.button};
        return std::nullopt;
    }
    std::optional<bool> isFullScreen(WindowHandle window) override {
        const auto* w = find(window);
        return w ? std::optional<bool>(w->fullScreen) : std::nullopt;
    }
    std::optional<std::int32_t> processOf(WindowHandle window) override {
        const auto* w = find(window);
        return w ? w->pid : std::nullopt;
    }
    WindowActionResult raise(WindowHandle window) override { return record("raise", window, raiseResult); }
    WindowActionResult activate(WindowHandle window) override {
        return record("activate", window, activateResult);
    }
    WindowActionResult fill(WindowHandle window) override { return record("fill", window, fillResult); }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    WindowActionResult raiseResult = WindowActionResult::success;
    WindowActionResult activateResult = WindowActionResult::success;
    WindowActionResult fillResult = WindowActionResult::success;

private:
    const Window* find(WindowHandle handle) {
        std::lock_guard lock(mutex_);
        for (const auto& w : windows_)
            if (w.handle == handle) return &w;
        return nullptr;
    }
    WindowActionResult record(const char* action, WindowHandle window, WindowActionResult result) {
        std::lock_guard lock(mutex_);
        calls_.push_back({action, window});
        return result;
    }

    mutable std::mutex mutex_;
    std::vector<Window> windows_;
    std::vector<Call> calls_;
};

}  // namespace velaro::test
