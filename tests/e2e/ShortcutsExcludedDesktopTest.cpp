// The Shortcuts and Excluded Apps pages of the real settings window in the test desktop: ctrl+alt+K typed
// while "Master Switch" records is stored and then, pressed again, flips the master switch from anywhere; an
// application chosen in the open dialog gets a row whose switch puts it into the three excluded sets.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"
#include "sampling/ExcludedAppsModel.h"
#include "support/RowSearch.h"
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

TEST_F(ShortcutsExcludedDesktopTest, AnAppChosenInTheDialogGetsARowWhoseSwitchExcludesIt) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("velaro-e2e-probe.desktop"));
    {
        QFile entry(path);
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Probe App\nExec=true\n");
    }
    // The twin shows the same row, so it says where the row's switch lies.
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::excludedApps);
    auto* page = twin.page<ExcludedAppsSection>();
    ASSERT_NE(page, nullptr);
    page->model().add(twin.catalog().install("velaro-e2e-probe", std::string("Probe App")));
    twin.settle();
    ASSERT_EQ(page->rows().size(), 1u);

    selectPage(SettingsCategory::excludedApps);
    const QPoint add = twin.onScreen(tiles, twin.centreOf(test::findAccessible<QAbstractButton>(page, QStringLiteral("Add an application"))));
    click(add.x(), add.y());
    ASSERT_TRUE(waitUntil([&] { return dialogs() > 0; }))
        << "no open dialog after a click at " << add.x() << "," << add.y();
    pressKeys({QStringLiteral("ctrl+a")});
    run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), path});
    pressKeys({QStringLiteral("Return")});
    ASSERT_TRUE(waitUntil([&] { return storedList("excludedAppsMembers").contains("velaro-e2e-probe"); }))
        << "the chosen app was not added";
    ASSERT_TRUE(waitUntil([&] { return dialogs() == 0; }));

    const QImage shot = screenshotWhen([&](const QImage&) { return true; });
    shot.copy(window).save(buildDir() + QStringLiteral("/e2e-excluded-apps.png"));
    clickOnScreen(twin, page->rows().front()->toggle());
    for (const char* key : {"excludedSampleStop", "excludedOverlayHide", "excludedCaptureStop"})
        EXPECT_TRUE(waitUntil([&] {
            return storedList(key) == QStringList{QStringLiteral("velaro-e2e-probe")};
        })) << key
            << " never held the app; see e2e-excluded-apps.png";
}

}  // namespace
}  // namespace velaro::e2e
