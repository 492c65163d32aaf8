// The diagnostics report the About page exports, since the app keeps no log files: the app's version and
// identifier, the system, every screen with its geometry and whether it shows a menu bar, and what the app
// has stored in its settings file. Also the app's name and version texts, which the About page shows.
#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DefaultsStore.h"
#include "platform/Screens.h"

namespace velaro {

// What the build says about the app; a value left empty at build time is absent.
struct AppIdentity {
    std::optional<std::string> name;
    std::optional<std::string> shortVersion;
    std::optional<std::string> build;
    std::optional<std::string> appId;

    // This build: name "Velaro", the project's version, the build number if one was given, and the app's id.
    static AppIdentity current();
};

// The name, or "Velaro" without one.
std::string appName(const AppIdentity& app);
// "1.4 (212)", "1.4", "Build 212" or "Version —", by which of the two values there are.
std::string versionString(const AppIdentity& app);
// The system as the report names it: the distribution's name and the kernel's version.
std::string systemVersionText();

struct DiagnosticsInputs {
    AppIdentity app;
    std::string systemVersion;
    std::vector<ScreenInfo> screens;  // in the screen topology's order
    PlistValue storedSettings;        // the settings file's own values, without registered fallbacks
    std::chrono::system_clock::time_point now;
};

// The report's text: one line per item, each ending in a line feed.
std::string diagnosticsReport(const DiagnosticsInputs& inputs);

// A number with a fractional part always shown, in the shortest form that reads back the same: 2.0, 37.5.
std::string decimalText(double value);
// Whether a stored key is listed: keys starting with a lower-case letter are the app's settings.
bool listsSettingKey(std::string_view key);
// A stored value as the report writes it.
std::string settingValueText(const PlistValue& value);

// The day `now` falls on in the local time zone, as 2026-12-06 whatever the locale.
QString reportDateStamp(std::chrono::system_clock::time_point now);
// "Velaro Diagnostics 2026-12-06.txt".
QString reportFileName(std::chrono::system_clock::time_point now);

// Writes the report atomically (a temporary file replaces the target), as UTF-8 without a byte-order mark.
// False with `error` set when it could not be written; the target is then left as it was.
bool writeReport(const QString& path, const std::string& report, QString* error);

}  // namespace velaro
