// Whether the app starts at login: the published state the login toggles bind to, and the one way to change
// it.
#pragma once

#include "base/Published.h"
#include "platform/LoginItem.h"

namespace velaro {

class LoginItemManager {
public:
    // Reads the current status at once; `service` must outlive the manager.
    explicit LoginItemManager(LoginItem& service);
    LoginItemManager(const LoginItemManager&) = delete;
    LoginItemManager& operator=(const LoginItemManager&) = delete;

    // True while the service reports the item enabled; changes only through setEnabled().
    const Published<bool>& isEnabled() const { return isEnabled_; }

    // Registers or unregisters the item. A refusal is logged and goes no further; either way the published
    // state is read back from the service, so a refused switch-on falls back to off.
    void setEnabled(bool enabled);

private:
    LoginItem& service_;
    Published<bool> isEnabled_;
};

}  // namespace velaro
