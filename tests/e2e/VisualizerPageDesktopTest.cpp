// The Music Visualizer page of the real settings window in the test desktop: its tile opens the page, and its
// "Enable Music Visualizer" switch stores the visualizer as on in the settings file and brings in the
// visualizer's sections.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"
#include "e2e/TrayApp.h"
#include "support/RowSearch.h"
#include "ui/settings/SettingsCategory.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/pages/VisualizerSection.h"

namespace velaro::e2e {
namespace {

const QByteArray kTourDone = R"({"onboardingStep": 4})";

class VisualizerPageDesktopTest : public SettingsWindowTest {
protected:
    void SetUp() override { openOver(kTourDone); }

    QJsonObject stored() const {
        QFile file(app.settingsPath());
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }
};

TEST_F(VisualizerPageDesktopTest, TheEnableSwitchStoresTheVisualizerAsOn) {
    SettingsTwin twin(window.size(), kTourDone, SettingsCategory::musicVisualizer);
    auto* page = dynamic_cast<VisualizerSection*>(twin.currentPage());
    ASSERT_NE(page, nullptr);

    const auto& order = sidebarOrder();
    const std::size_t row =
        std::size_t(std::find(order.begin(), order.end(), SettingsCategory::musicVisualizer) - order.begin());
    click(tiles.left + 80, tiles.runs[row].center().y());
    const int probeX = tiles.left + 170;
    const auto selected = [&](const QImage& s) {
        return !closeTo(s.pixelColor(probeX, tiles.runs[row].center().y()),
                        s.pixelColor(probeX, tiles.runs[row + 1].center().y()), 6);
    };
    ASSERT_TRUE(selected(screenshotWhen(selected))) << "the Music Visualizer row never showed selected";

    const auto* enable = test::rowTitled<SettingsToggleRow>(page, QStringLiteral("Enable Music Visualizer"));
    const QPoint toggle = twin.onScreen(tiles, twin.centreOf(enable->toggle()));
    click(toggle.x(), toggle.y());
    EXPECT_TRUE(waitUntil([&] { return stored().value(QStringLiteral("vizEnabled")).toBool(); }))
        << "the settings file never held vizEnabled true after a click at " << toggle.x() << "," << toggle.y();

    // The sections come in under the switch: the "Style" card's opacity slider, full at 100 %, shows its
    // filled groove where the twin, switched on too, lays it out.
    twin.settings().vizEnabled = true;
    twin.settle();
    const ResettableSlider* opacity =
        test::rowTitled<SettingsSliderRow>(test::sectionTitled(page, QStringLiteral("Style")),
                                           QStringLiteral("Opacity"))
            ->slider();
    const QPoint filled =
        twin.onScreen(tiles, twin.centreOf(opacity) - QPoint(opacity->rect().width() / 4, 0));
    const auto sectionsShown = [&](const QImage& s) {
        const QColor c = s.pixelColor(filled);
        return c.blue() > c.red() + 60;
    };
    const QImage shot = screenshotWhen(sectionsShown);
    shot.copy(window).save(buildDir() + QStringLiteral("/e2e-visualizer-page.png"));
    EXPECT_TRUE(sectionsShown(shot)) << "no filled opacity groove at " << filled.x() << "," << filled.y();
}

}  // namespace
}  // namespace velaro::e2e
