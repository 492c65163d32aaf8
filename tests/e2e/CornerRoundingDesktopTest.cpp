// The Corner Rounding page of the real settings window in the test desktop: its editor shows the desktop's
// own picture, and a new desktop picture reaches it while the page shows.
#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"

namespace velaro::e2e {
namespace {

const QByteArray kTourDone = R"({"onboardingStep": 4})";
// The colour the test desktop starts with; every test here leaves it so.
constexpr const char* kDesktopColour = "#3a6ea5";

class CornerRoundingDesktopTest : public SettingsWindowTest {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        setDesktopColour("#FF0000");
        openOver(kTourDone);
    }
    void TearDown() override {
        if (haveDisplay()) setDesktopColour(kDesktopColour);
    }
    static void setDesktopColour(const char* colour) {
        const auto result = run(binDir() + QStringLiteral("/velaro-desktop-wait"),
                                {QStringLiteral("root-colour"), QString::fromLatin1(colour)});
        ASSERT_EQ(result.exitCode, 0) << result.describe().toStdString();
    }

    // The area of one colour inside the window: where the editor's picture shows the desktop. Rows where
    // the colour reaches the window's sides are the desktop around the window, which has it too.
    QRect areaOf(const QImage& shot, QColor colour) const {
        const QRect inside = window.intersected(shot.rect());
        QRect found;
        for (int y = inside.top(); y <= inside.bottom(); y += 2) {
            QRect row;
            for (int x = inside.left(); x <= inside.right(); x += 2)
                if (closeTo(shot.pixelColor(x, y), colour, 6)) row |= QRect(x, y, 1, 1);
            if (!row.isEmpty() && row.left() > inside.left() + 8 && row.right() < inside.right() - 8) found |= row;
        }
        return found;
    }
    // A picture of the desktop's shape (1920 × 1080), as wide as the page's column allows.
    static bool isTheEditor(const QRect& area) {
        return area.width() > 400 && std::abs(area.width() / double(area.height()) - 16.0 / 9.0) < 0.08;
    }
};

TEST_F(CornerRoundingDesktopTest, TheEditorShowsTheDesktopPictureAndFollowsANewOne) {
    selectPage(SettingsCategory::cornerRounding);
    const QColor red(255, 0, 0), green(0, 255, 0);
    QRect area;
    QImage shot = screenshotWhen([&](const QImage& s) { return isTheEditor(area = areaOf(s, red)); });
    shot.copy(window).save(buildDir() + QStringLiteral("/e2e-corner-rounding-page.png"));
    ASSERT_TRUE(isTheEditor(area)) << "no red desktop picture in the page (found " << area.width() << " × "
                                   << area.height() << "); see e2e-corner-rounding-page.png";
    // Rounded: the picture's corner pixel is the page's, not the desktop's.
    EXPECT_FALSE(closeTo(shot.pixelColor(area.topLeft() + QPoint(1, 1)), red, 40));

    setDesktopColour("#00FF00");
    shot = screenshotWhen([&](const QImage& s) { return areaOf(s, green) == area; }, std::chrono::seconds(5));
    EXPECT_EQ(areaOf(shot, green), area) << "the picture did not turn green within 5 s";
}

}  // namespace
}  // namespace velaro::e2e
