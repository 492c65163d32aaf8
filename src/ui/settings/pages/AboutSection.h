// The About page: the app's icon, name and version, what it does, and four actions — the web site, an update
// check, exporting the diagnostics report, and the feedback board.
#pragma once

#include <QUrl>
#include <functional>
#include <optional>

#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/pages/DiagnosticsReport.h"

class QLabel;
class QPushButton;

namespace velaro {

class DefaultsStore;
class ScreenTopology;
class UpdateCheckModel;

// The file dialog and the alert of the export; tests put their own in place of Qt's.
struct ReportDialogs {
    // Asks where to save, offering `suggestedName`; nothing when the user cancels.
    std::function<std::optional<QString>(QWidget* parent, const QString& suggestedName)> chooseSavePath;
    std::function<void(QWidget* parent, const QString& message, const QString& detail)> alert;

    // Qt's save dialog (text files, the ".txt" suffix added when missing) and a modal warning box.
    static ReportDialogs standard();
};

// What the page shows and reads besides the update checker.
struct AboutServices {
    QUrl projectURL;
    QUrl feedbackURL;
    AppIdentity app;
    DefaultsStore& defaults;
    ScreenTopology* topology;  // null: the report lists no screens
    // Opens an address in the desktop's browser.
    std::function<void(const QUrl&)> openURL;
    ReportDialogs dialogs;

    // This build's addresses and identity, the desktop's URL handler and Qt's dialogs.
    static AboutServices standard(DefaultsStore& defaults, ScreenTopology* topology);
};

class AboutSection : public SettingsPage {
public:
    static constexpr const char* tagline =
        "Restyles your desktop's top panel with adaptive colors, pill shapes, rounded corners, and "
        "audio-reactive effects.";

    AboutSection(UpdateCheckModel& updateCheck, AboutServices services, MainLoop& loop,
                 QWidget* parent = nullptr);
    ~AboutSection() override;

    // The report as it would be saved now.
    std::string diagnosticsReport() const;
    // Asks where to save the report, then writes it; a failed write shows one alert, a cancel does nothing.
    void exportLogs();
    void openFeedback();

protected:
    void refreshPage() override;

private:
    UpdateCheckModel& updateCheck_;
    AboutServices services_;
    QPushButton* update_;
};

}  // namespace velaro
