// Switching the login item on and off, with the state always read back from the session.
#include "app/LoginItemManager.h"

#include "base/Log.h"

namespace velaro {

LoginItemManager::LoginItemManager(LoginItem& service)
    : service_(service), isEnabled_(service.status() == LoginItemStatus::enabled) {}

void LoginItemManager::setEnabled(bool enabled) {
    const auto error = enabled ? service_.registerItem() : service_.unregisterItem();
    if (error) {
        qCWarning(lcApp) << tagged(
            "LoginItemManager:",
            std::string("failed to ") + (enabled ? "register" : "unregister") + ": " + error->description);
    }
    isEnabled_ = service_.status() == LoginItemStatus::enabled;
}

}  // namespace velaro
