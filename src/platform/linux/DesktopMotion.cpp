// Reads the desktops' reduced-motion switches from their own settings stores.
#include "platform/linux/DesktopMotion.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "platform/linux/GioLibrary.h"

namespace velaro {

namespace {

// KDE keeps an animation speed factor; 0 means changes happen at once.
bool kdeAnimationsOff(const QString& configHome) {
    const QString path = configHome + QStringLiteral("/kdeglobals");
    if (!QFileInfo::exists(path)) return false;
    QSettings globals(path, QSettings::IniFormat);
    bool ok = false;
    const double factor = globals.value(QStringLiteral("KDE/AnimationDurationFactor")).toDouble(&ok);
    return ok && factor == 0.0;
}

// GNOME keeps its switch in dconf.
bool gnomeAnimationsOff(const QString& configHome) {
    GSettings* settings = openDesktopSettings(configHome, "org.gnome.desktop.interface", "enable-animations");
    if (!settings) return false;
    const GioLibrary& gio = gioLibrary();
    const bool off = !gio.getBoolean(settings, "enable-animations");
    gio.objectUnref(settings);
    return off;
}

}  // namespace

bool desktopReducesMotion(const QString& configHome) {
    const QString home = configHome.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             : configHome;
    return kdeAnimationsOff(home) || gnomeAnimationsOff(home);
}

}  // namespace velaro
