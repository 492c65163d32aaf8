// The real app run by a desktop test: started over a settings file of the test's own, in a config folder
// that goes with the test, with its icon found in the panel's tray; and the window helpers such tests share
// (geometry through xdotool, the visible windows of a search, keys, the pointer).
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>
#include <vector>

namespace velaro::e2e {

// The geometry of an X window as xdotool reports it.
std::optional<QRect> windowGeometry(const QString& id);
// The visible windows matching an xdotool search.
std::vector<QRect> visibleWindows(const QStringList& search);
// Sends key presses ("Down", "Return", "ctrl+a") to the focused window, 80 ms apart.
void pressKeys(const QStringList& keys);
void movePointer(QPoint to);

class TrayApp {
public:
    // The test desktop's top panel, which holds the tray.
    static constexpr int panelHeight = 28;
    // Where the pointer rests after the launch: off the panel, so the hover pause never holds sampling.
    static constexpr QPoint awayFromPanel{300, 600};

    static QString executable();

    TrayApp() = default;
    ~TrayApp();
    TrayApp(const TrayApp&) = delete;
    TrayApp& operator=(const TrayApp&) = delete;

    // Starts the app over a settings file holding `json` and waits for its icon in the tray. False, with
    // `why` set, when it did not start or put no icon there.
    bool launch(const QByteArray& json, QString* why);
    // An environment variable the app is started with besides the test's own (before launch()).
    void setEnvironment(const QString& name, const QString& value) { environment_.insert(name, value); }
    // Launches another build of the app (an optimised one, say) instead of this build's.
    void setProgram(const QString& path) { program_ = path; }

    QString settingsPath() const;
    // The app's settings file as it stands (empty when unreadable), and one key of it changed in place the
    // way an editor saves it (false when it cannot be written).
    QJsonObject storedSettings() const;
    bool storeSetting(const QString& key, const QJsonValue& value) const;
    QString pid() const { return pid_; }
    // The icon's place in the tray, as found at launch.
    QRect icon() const { return icon_; }
    // Its place as the server shows it now (a panel that reloads places it anew); absent while it is in no
    // tray.
    std::optional<QRect> iconNow() const;
    // The app's window hanging under the panel: the popover or a menu.
    std::optional<QRect> popupUnderPanel() const;
    void rightClickIcon() const;

private:
    bool findIcon();

    QTemporaryDir config_;
    // Added to the test's own environment as it stands at launch().
    QProcessEnvironment environment_;
    QString program_ = executable();
    QProcess process_;
    QString pid_;
    QRect icon_;
};

}  // namespace velaro::e2e
