// The permissions as an X11 session grants them: the screen can be read when the session is X11 and the root
// window answers a read; other windows can be acted on when an EWMH window manager answers. The privacy
// "panes" are help pages of ours that say how to get there.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Permissions.h"

namespace velaro {

class X11Session;

class X11Permissions final : public Permissions {
public:
    // Reads a variable of the session's environment; absent when unset.
    using Environment = std::function<std::optional<std::string>(const char* name)>;

    // Hands a page to the desktop to show; false when it could not.
    using OpenUrl = std::function<bool(const QUrl&)>;

    // Probes through the session's desktop connection (null: there is no X server, and nothing is granted).
    // `environment` defaults to the process's own, `openUrl` to the desktop's default handler.
    explicit X11Permissions(X11Session* session, Environment environment = {}, OpenUrl openUrl = {});
    ~X11Permissions() override;

    bool screenCaptureAllowed() const override;
    bool accessibilityTrusted() const override;
    // X11 has no prompt to show: the trust is what the window manager gives.
    bool requestAccessibility() override { return accessibilityTrusted(); }
    bool openPrivacyPane(PrivacyPane pane) override;

    // The help page for a pane: velaro/help/<page> in the first data directory that has it; empty when none
    // does. The directories are the installed data directories, then the prefix beside the executable.
    QString helpPage(PrivacyPane pane) const;
    void setDataDirectories(QStringList directories) { dataDirectories_ = std::move(directories); }

private:
    bool waylandSession() const;

    X11Session* session_;
    Environment environment_;
    OpenUrl openUrl_;
    QStringList dataDirectories_;
};

}  // namespace velaro
