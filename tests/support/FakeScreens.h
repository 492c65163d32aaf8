// A screen list set by the test, with change notifications sent by hand.
#pragma once

#include <atomic>
#include <mutex>

#include "base/ChangeNotice.h"
#include "platform/Screens.h"

namespace velaro::test {

class FakeScreens final : public Screens {
public:
    std::vector<ScreenInfo> screens() const override {
        std::lock_guard lock(mutex_);
        ++reads;
        return list_;
    }
    std::optional<ScreenInfo> mainScreen() const override {
        std::lock_guard lock(mutex_);
        if (mainIndex_ < 0 || mainIndex_ >= static_cast<int>(list_.size())) return std::nullopt;
        return list_[mainIndex_];
    }
    double statusBarThickness() const override { return thickness_; }
    Stream<int> parametersChanged() const override { return changed_.stream(); }
    std::uint64_t revision() const override { return revision_; }
    void callOnNextChange(std::function<void()> wake) const override { changeNotice_.arm(std::move(wake)); }

    // Replaces the list; `mainIndex` picks the main screen (-1: none).
    void setScreens(std::vector<ScreenInfo> list, int mainIndex = 0) {
        {
            std::lock_guard lock(mutex_);
            list_ = std::move(list);
            mainIndex_ = mainIndex;
            ++revision_;
        }
        changeNotice_.ring();
    }
    void setStatusBarThickness(double t) {
        thickness_ = t;
        ++revision_;
        changeNotice_.ring();
    }
    void sendParametersChanged() { changed_.send(++generation_); }

    // How many times the list was read.
    mutable int reads = 0;

    // A screen with a frame in global points and a panel of `menuBar` points at its top.
    static ScreenInfo make(std::string id, Rect frame, double menuBar, std::uint32_t number = 0) {
        ScreenInfo s;
        s.id = id;
        s.name = std::move(id);
        s.number = number;
        s.frame = frame;
        s.visibleFrame = Rect{frame.x(), frame.y(), frame.width(), frame.height() - menuBar};
        return s;
    }

private:
    mutable std::mutex mutex_;
    std::vector<ScreenInfo> list_;
    int mainIndex_ = 0;
    double thickness_ = 24;
    int generation_ = 0;
    std::atomic<std::uint64_t> revision_{0};
    mutable ChangeNotice changeNotice_;
    PassthroughSubject<int> changed_;
};

}  // namespace velaro::test
