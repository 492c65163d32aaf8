// Permissions the test grants and withdraws; it records the panes opened and the requests made.
#pragma once

#include <vector>

#include "platform/Permissions.h"

namespace velaro::test {

class FakePermissions final : public Permissions {
public:
    bool screenCaptureAllowed() const override {
        ++screenCaptureChecks;
        return screenCapture;
    }
    bool accessibilityTrusted() const override {
        ++accessibilityChecks;
        return accessibility;
    }
    bool requestAccessibility() override {
        ++accessibilityRequests;
        if (grantOnRequest) accessibility = true;
        return accessibility;
    }
    bool openPrivacyPane(PrivacyPane pane) override {
        openedPanes.push_back(pane);
        return panesOpen;
    }

    bool screenCapture = true;
    bool accessibility = true;
    // The user allows it at the prompt a request shows.
    bool grantOnRequest = false;
    bool panesOpen = true;
    mutable int screenCaptureChecks = 0;
    mutable int accessibilityChecks = 0;
    int accessibilityRequests = 0;
    std::vector<PrivacyPane> openedPanes;
};

}  // namespace velaro::test
