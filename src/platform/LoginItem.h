// Starting the app when the user logs in: the session's record of our own login item, its status, and
// registering or unregistering it.
#pragma once

#include <optional>
#include <string>

namespace velaro {

enum class LoginItemStatus {
    notRegistered,     // no entry, or one the user switched off
    enabled,           // the app starts at login
    requiresApproval,  // an entry exists but the session will not start it until the user allows it
    notFound,          // the session has no place to keep login items
};

// Why a register or unregister was refused, in words fit for a log line.
struct LoginItemError {
    std::string description;
};

class LoginItem {
public:
    virtual ~LoginItem() = default;

    // Read afresh on every call: the user may change the entry outside the app.
    virtual LoginItemStatus status() const = 0;
    // Each returns nothing on success and the reason on failure; a failure changes nothing.
    virtual std::optional<LoginItemError> registerItem() = 0;
    virtual std::optional<LoginItemError> unregisterItem() = 0;
};

}  // namespace velaro
