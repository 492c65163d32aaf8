// A control's two-way link to a value, and the helpers that let a control's write land on the next turn of
// the main loop, after the event that caused it has been handled.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "base/MainLoop.h"
#include "base/Published.h"
#include "settings/OverlaySettings.h"

namespace velaro {

template <class T>
struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;
};

// What a start-at-login switch needs of the login item: whether it is on (republished from the system after
// every change, so a refused switch falls back) and the way to change it.
struct LoginItemControl {
    const Published<bool>& isEnabled;
    std::function<void(bool)> setEnabled;
};

// A binding straight to a setting: its setter persists the value as every setting write does.
template <class T>
Binding<T> settingBinding(Setting<T>& setting) {
    return {[&setting] { return setting.value(); }, [&setting](T value) { setting.set(std::move(value)); }};
}

// Reads go through at once; a write is queued and reaches `wrapped` (and whatever it persists) only when
// the loop runs it, so a control never changes the model in the middle of its own update.
template <class T>
Binding<T> deferredBinding(MainLoop& loop, Binding<T> wrapped) {
    auto inner = std::make_shared<Binding<T>>(std::move(wrapped));
    return {[inner] { return inner->get(); },
            [inner, &loop](T value) { loop.post([inner, value = std::move(value)] { inner->set(value); }); }};
}

// Calls `setter` with `value` on the next turn of the loop. Writes queued in order land in order. Computed
// bindings (a percentage shown for a 0...1 setting) use it as their write side, so the conversion and the
// store happen outside the control's own event.
inline void deferredWrite(MainLoop& loop, double value, std::function<void(double)> setter) {
    loop.post([value, setter = std::move(setter)] { setter(value); });
}

}  // namespace velaro
