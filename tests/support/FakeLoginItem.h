// A login item whose status and refusals the test sets; it counts the calls it gets.
#pragma once

#include "platform/LoginItem.h"

namespace velaro::test {

class FakeLoginItem final : public LoginItem {
public:
    LoginItemStatus status() const override { return currentStatus; }
    std::optional<LoginItemError> registerItem() override {
        ++registerCalls;
        if (registerError) return LoginItemError{*registerError};
        currentStatus = statusAfterRegister;
        return std::nullopt;
    }
    std::optional<LoginItemError> unregisterItem() override {
        ++unregisterCalls;
        if (unregisterError) return LoginItemError{*unregisterError};
        if (currentStatus == LoginItemStatus::notRegistered)
            return LoginItemError{"the login item is not registered"};
        currentStatus = LoginItemStatus::notRegistered;
        return std::nullopt;
    }

    LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
    // What a successful register leaves (a session may want the user's approval first).
    LoginItemStatus statusAfterRegister = LoginItemStatus::enabled;
    std::optional<std::string> registerError;
    std::optional<std::string> unregisterError;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

}  // namespace velaro::test
