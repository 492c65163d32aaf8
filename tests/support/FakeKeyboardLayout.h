// A keyboard layout for tests: a fixed table of what each virtual key code types, US letters by default, and
// native key codes that are the virtual key code plus `nativeOffset` (none for codes below it).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/KeyboardLayout.h"

namespace velaro::test {

class FakeKeyboardLayout final : public KeyboardLayout {
public:
    // A few keys of a US layout, lower case as the keys type them without modifiers.
    FakeKeyboardLayout() : keys_{{0, "a"}, {1, "s"}, {11, "b"}, {18, "1"}, {43, ","}, {46, "m"}} {}
    explicit FakeKeyboardLayout(std::map<std::uint32_t, std::string> keys) : keys_(std::move(keys)) {}

    std::optional<std::string> character(std::uint32_t virtualKeyCode) const override {
        ++lookups;
        const auto it = keys_.find(virtualKeyCode);
        if (it == keys_.end()) return std::nullopt;
        return it->second;
    }

    std::optional<std::uint32_t> virtualKeyCode(std::uint32_t nativeKeyCode) const override {
        if (nativeKeyCode < nativeOffset || unknownNativeKeys.count(nativeKeyCode)) return std::nullopt;
        return nativeKeyCode - nativeOffset;
    }
    // The native key code a test sends for a virtual key code.
    static std::uint32_t native(std::uint32_t virtualKeyCode) { return virtualKeyCode + nativeOffset; }

    static constexpr std::uint32_t nativeOffset = 1000;
    // Native codes of keys no shortcut can hold (modifiers alone, media keys).
    std::set<std::uint32_t> unknownNativeKeys;

    void setKey(std::uint32_t virtualKeyCode, std::string text) { keys_[virtualKeyCode] = std::move(text); }

    mutable int lookups = 0;

private:
    std::map<std::uint32_t, std::string> keys_;
};

}  // namespace velaro::test
