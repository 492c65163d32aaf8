// Permission probes against the X server, and the help pages that stand in for the privacy panes.
#include "platform/linux/X11Permissions.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <cstdlib>

#include "base/Log.h"
#include "platform/linux/X11Session.h"

namespace velaro {

X11Permissions::X11Permissions(X11Session* session, Environment environment, OpenUrl openUrl)
    : session_(session), environment_(std::move(environment)), openUrl_(std::move(openUrl)) {
    if (!openUrl_) openUrl_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!environment_) {
        environment_ = [](const char* name) -> std::optional<std::string> {
            if (const char* v = std::getenv(name)) return std::string(v);
            return std::nullopt;
        };
    }
    dataDirectories_ = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    dataDirectories_.append(QCoreApplication::applicationDirPath() + QStringLiteral("/../share"));
}

X11Permissions::~X11Permissions() = default;

bool X11Permissions::waylandSession() const {
    const auto type = environment_("XDG_SESSION_TYPE").value_or("");
    if (!type.empty()) return type == "wayland";
    return !environment_("WAYLAND_DISPLAY").value_or("").empty();
}

bool X11Permissions::screenCaptureAllowed() const {
    // Under a Wayland compositor the X server sees only its own clients: reads succeed but show none of the
    // desktop, so the colours would be wrong without any error.
    if (waylandSession()) return false;
    if (!session_ || session_->desktop().broken()) return false;
    auto* conn = &session_->desktop();
    auto* c = conn->get();
    auto reply = x11::own(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, conn->root(), 0, 0, 1, 1, ~0u), nullptr));
    return reply != nullptr;
}

bool X11Permissions::accessibilityTrusted() const {
    if (!session_ || session_->desktop().broken()) return false;
    auto* conn = &session_->desktop();
    auto* c = conn->get();
    const xcb_atom_t check = conn->atom("_NET_SUPPORTING_WM_CHECK");
    auto onRoot = x11::own(
        xcb_get_property_reply(c, x11::askProperty(c, conn->root(), check, XCB_ATOM_WINDOW), nullptr));
    const auto window = x11::values32(onRoot.get());
    if (window.empty() || window[0] == 0) return false;
    // A window manager that died leaves the root's property behind; a live one's check window names itself.
    auto onChild =
        x11::own(xcb_get_property_reply(c, x11::askProperty(c, window[0], check, XCB_ATOM_WINDOW), nullptr));
    const auto self = x11::values32(onChild.get());
    return !self.empty() && self[0] == window[0];
}

QString X11Permissions::helpPage(PrivacyPane pane) const {
    const QString name = pane == PrivacyPane::screenCapture ? QStringLiteral("screen-capture.html")
                                                            : QStringLiteral("accessibility.html");
    for (const QString& dir : dataDirectories_) {
        const QFileInfo page(dir + QStringLiteral("/velaro/help/") + name);
        if (page.isFile()) return page.canonicalFilePath();
    }
    return {};
}

bool X11Permissions::openPrivacyPane(PrivacyPane pane) {
    const QString page = helpPage(pane);
    if (page.isEmpty()) {
        logLine("PERMISSIONS", "no help page installed for this permission");
        return false;
    }
    if (!openUrl_(QUrl::fromLocalFile(page))) {
        logLine("PERMISSIONS", "could not open " + page.toStdString());
        return false;
    }
    return true;
}

}  // namespace velaro
