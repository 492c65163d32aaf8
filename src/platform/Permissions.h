// What the desktop lets the app do: read the screen (colour sampling needs it) and act on other apps' windows
// (the menu-bar shape and the window fill need it), and where the user learns how to allow each.
#pragma once

namespace velaro {

enum class PrivacyPane { screenCapture, accessibility };

class Permissions {
public:
    virtual ~Permissions() = default;

    // Each is asked afresh on every call: the session may change under the app.
    virtual bool screenCaptureAllowed() const = 0;
    virtual bool accessibilityTrusted() const = 0;
    // Asks the desktop for the accessibility trust where it can prompt the user, and returns the trust as it
    // now stands.
    virtual bool requestAccessibility() = 0;
    // Opens the page that explains how to allow the permission; false when nothing could be opened.
    virtual bool openPrivacyPane(PrivacyPane pane) = 0;
};

}  // namespace velaro
