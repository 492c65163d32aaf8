// An RAII handle that ends something (a subscription, a timer, a pending call) when it is reset or destroyed.
#pragma once

#include <functional>
#include <utility>

namespace velaro {

class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Cancellable(Cancellable&& o) noexcept : cancel_(std::exchange(o.cancel_, nullptr)) {}
    Cancellable& operator=(Cancellable&& o) noexcept {
        if (this != &o) {
            cancel();
            cancel_ = std::exchange(o.cancel_, nullptr);
        }
        return *this;
    }
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable() { cancel(); }

    void cancel() {
        if (auto c = std::exchange(cancel_, nullptr)) c();
    }
    bool isActive() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

using Subscription = Cancellable;

}  // namespace velaro
