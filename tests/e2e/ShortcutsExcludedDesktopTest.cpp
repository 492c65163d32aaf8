// The Shortcuts and Excluded Apps pages of the real settings window in the test desktop: ctrl+alt+K typed
// while "Master Switch" records is stored and then, pressed again, flips the master switch from anywhere; an
// application found by typing part of its name in the chooser gets a row whose switch puts it into the three
// excluded sets, and the settings window has the keyboard again; a member whose app is installed while the
// page shows takes its icon.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"
#include "sampling/ExcludedAppsModel.h"
#include "support/RowSearch.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/pages/ExcludedAppsSection.h"
#include "ui/settings/pages/ShortcutsSection.h"

namespace velaro::e2e {
namespace {

const QByteArray kTourDone = R"({"onboardingStep": 4})";

class ShortcutsExcludedDesktopTest : public SettingsWindowTest {
protected:
    void SetUp() override { openOver(kTourDone); }

    void clickOnScreen(const SettingsTwin& twin, const QWidget* control) {
        const QPoint at = twin.onScreen(tiles, twin.centreOf(control));
        click(at.x(), at.y());
    }
    // The app's dialogs: windows of its own that are large, other than the settings window.
    int dialogs() {
        int count = 0;
        for (const QRect& g : visibleWindows({QStringLiteral("--pid"), app.pid()}))
            count += g.width() > 200 && g.height() > 200 && g != window;
        return count;
    }
    QStringList storedList(const char* key) const {
        QStringList out;
        for (const QJsonValue& v : storedSettings().value(QLatin1String(key)).toArray()) out << v.toString();
        return out;
    }
};

TEST_F(ShortcutsExcludedDesktopTest, ARecordedShortcutIsStoredAndThenSwitchesTheMasterSwitch) {
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::shortcuts);
    auto* page = twin.page<ShortcutsSection>();
    ASSERT_NE(page, nullptr);
    selectPage(SettingsCategory::shortcuts);
    clickOnScreen(twin, test::findWidget<ShortcutRecordButton>(page->row(ShortcutAction::master)));

    // Recording pauses the global hot keys, so the combination reaches the window.
    const auto storedMaster = [&]() -> std::optional<ShortcutKeyCombo> {
        const QByteArray data = storedData(QStringLiteral("appShortcuts"));
        const auto shortcuts =
            ShortcutSettings::decode(std::string_view(data.constData(), std::size_t(data.size())));
        return shortcuts ? shortcuts->combo(ShortcutAction::master) : std::nullopt;
    };
    const auto masterOff = [&] {
        const QJsonValue v = storedSettings().value(QStringLiteral("masterEnabled"));
        return v.isBool() && !v.toBool();
    };
    pressKeys({QStringLiteral("ctrl+alt+k")});
    ASSERT_TRUE(waitUntil([&] { return storedMaster().has_value(); })) << "ctrl+alt+K was never stored";
    EXPECT_EQ(storedMaster(),
              (ShortcutKeyCombo{40, ShortcutKeyCombo::controlMask | ShortcutKeyCombo::optionMask}));
    EXPECT_FALSE(masterOff()) << "recording the keys flipped the switch";

    // Recording is over: the same keys are the global shortcut now, wherever the focus is. A second try
    // covers a press that came before the grab was back.
    bool off = false;
    for (int attempt = 0; attempt < 2 && !off; ++attempt) {
        waitUntil([] { return false; }, std::chrono::milliseconds(500));
        pressKeys({QStringLiteral("ctrl+alt+k")});
        off = waitUntil(masterOff, std::chrono::seconds(4));
    }
    EXPECT_TRUE(off) << "ctrl+alt+K did not switch the master switch off";
}

// The app's catalog holds one app of the test's own, "Probe App", besides the system's.
class ExcludedAppChooserTest : public ShortcutsExcludedDesktopTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(data.isValid());
        ASSERT_TRUE(QDir().mkpath(data.filePath(QStringLiteral("applications"))));
        QFile entry(data.filePath(QStringLiteral("applications/velaro-e2e-probe.desktop")));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Probe App\nExec=true\n");
        entry.close();
        app.setEnvironment(QStringLiteral("XDG_DATA_HOME"), data.path());
        openOver(kTourDone);
    }
    // The title of the window that has the keyboard.
    static QString activeWindowName() {
        const auto r = run(QStringLiteral("xdotool"),
                           {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")});
        return QString::fromUtf8(r.out).trimmed();
    }

    QTemporaryDir data;
};

TEST_F(ExcludedAppChooserTest, AnAppChosenByNameGetsARowWhoseSwitchExcludesItAndTheWindowKeepsTheKeyboard) {
    // The twin shows the same row, so it says where the row and its switch lie.
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::excludedApps);
    auto* page = twin.page<ExcludedAppsSection>();
    ASSERT_NE(page, nullptr);
    page->model().add(twin.catalog().install("velaro-e2e-probe", std::string("Probe App")));
    twin.settle();
    ASSERT_EQ(page->rows().size(), 1u);

    selectPage(SettingsCategory::excludedApps);
    const QPoint add = twin.onScreen(tiles, twin.centreOf(test::findAccessible<QAbstractButton>(
                                                page, QStringLiteral("Add an application"))));
    click(add.x(), add.y());
    ASSERT_TRUE(waitUntil([&] { return dialogs() > 0; }))
        << "no chooser after a click at " << add.x() << "," << add.y();
    ASSERT_TRUE(waitUntil([] { return activeWindowName() == QStringLiteral("Choose an Application"); }))
        << "the chooser does not have the keyboard; " << activeWindowName().toStdString() << " has";
    run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), QStringLiteral("robe a")});
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    screenshot().save(buildDir() + QStringLiteral("/e2e-application-chooser.png"));
    pressKeys({QStringLiteral("Return")});
    ASSERT_TRUE(waitUntil([&] { return storedList("excludedAppsMembers").contains("velaro-e2e-probe"); }))
        << "the chosen app was not added; see e2e-application-chooser.png";
    ASSERT_TRUE(waitUntil([&] { return dialogs() == 0; }));
    EXPECT_TRUE(waitUntil([] { return activeWindowName() == QStringLiteral("Velaro Settings"); }))
        << "the settings window lost the keyboard to " << activeWindowName().toStdString();

    const QRect name = twin.rectOf(page->rows().front()->name());
    const QRect onScreen(twin.onScreen(tiles, name.topLeft()), name.size());
    const QImage shot = screenshotWhen([&](const QImage& s) { return inkIn(s, onScreen) > 20; });
    shot.copy(window).save(buildDir() + QStringLiteral("/e2e-excluded-apps.png"));
    EXPECT_GT(inkIn(shot, onScreen), 20) << "no name in the new row; see e2e-excluded-apps.png";
    clickOnScreen(twin, page->rows().front()->toggle());
    for (const char* key : {"excludedSampleStop", "excludedOverlayHide", "excludedCaptureStop"})
        EXPECT_TRUE(waitUntil([&] {
            return storedList(key) == QStringList{QStringLiteral("velaro-e2e-probe")};
        })) << key
            << " never held the app; see e2e-excluded-apps.png";
}

// An app a member names, installed and removed while the page shows: its row takes the app's icon within
// moments, and loses it again, without a restart.
class ExcludedAppInstalledLaterTest : public SettingsWindowTest {};

TEST_F(ExcludedAppInstalledLaterTest, ItsRowTakesTheIconOfTheAppWhenItIsInstalledAndLosesItWhenRemoved) {
    QTemporaryDir data;
    ASSERT_TRUE(data.isValid());
    const QString applications = data.filePath(QStringLiteral("applications"));
    const QString red = data.filePath(QStringLiteral("red.png"));
    QImage icon(64, 64, QImage::Format_RGB32);
    icon.fill(QColor(230, 20, 20));
    ASSERT_TRUE(icon.save(red));
    app.setEnvironment(QStringLiteral("XDG_DATA_HOME"), data.path());
    const QByteArray json = R"({"onboardingStep": 4, "excludedAppsMembers": ["velaro-e2e-later"]})";
    openOver(json);
    SettingsTwin twin(window.size(), json, SettingsCategory::excludedApps);
    auto* page = twin.page<ExcludedAppsSection>();
    ASSERT_NE(page, nullptr);
    twin.settle();
    ASSERT_EQ(page->rows().size(), 1u);
    selectPage(SettingsCategory::excludedApps);
    const QPoint iconAt = twin.onScreen(tiles, twin.centreOf(page->rows().front()->icon()));
    const auto showsRed = [&](const QImage& shot) {
        return closeTo(shot.pixelColor(iconAt), QColor(230, 20, 20), 40);
    };
    const auto redShown = [&](bool wanted) {
        return showsRed(screenshotWhen([&](const QImage& shot) { return showsRed(shot) == wanted; }));
    };
    EXPECT_FALSE(redShown(false)) << "not installed yet, yet the row shows its icon";

    // Made as a user's first own entry is: the folder did not exist when the app started.
    ASSERT_TRUE(QDir().mkpath(applications));
    {
        QFile entry(applications + QStringLiteral("/velaro-e2e-later.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Later App\nExec=true\nIcon=" + red.toUtf8() +
                    "\n");
    }
    EXPECT_TRUE(redShown(true)) << "the installed app's icon never showed";
    screenshot().copy(window).save(buildDir() + QStringLiteral("/e2e-excluded-app-installed.png"));

    QFile::remove(applications + QStringLiteral("/velaro-e2e-later.desktop"));
    EXPECT_FALSE(redShown(false)) << "the removed app's icon stayed";
    EXPECT_EQ(storedSettings().value(QStringLiteral("excludedAppsMembers")).toArray().size(), 1)
        << "a member stays one";
}

}  // namespace
}  // namespace velaro::e2e
