// The Corner Rounding page of the real settings window in the test desktop: its editor shows the desktop's
// own picture with a ring in each corner, and a new desktop picture reaches it while the page shows; the
// wheel over a ring and a tap on its band land in the settings file.
#include "e2e/E2eSupport.h"
#include "e2e/SettingsTwin.h"
#include "settings/CornerSettings.h"
#include "ui/settings/rings/RingScene.h"

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
    std::optional<CornerSettings> storedCorners() const {
        const QByteArray data = storedData(QStringLiteral("cornerSettings"));
        return CornerSettings::decode(std::string_view(data.constData(), std::size_t(data.size())));
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
    // A ring drawn over the picture in each corner.
    const RingOverlayLayout rings = RingOverlayLayout::of(QSizeF(area.size()));
    for (GaugeCorner corner : allGaugeCorners) {
        const QRect ring = rings.cell(corner).ring.toAlignedRect().translated(area.topLeft());
        int drawn = 0;
        for (int y = ring.top(); y <= ring.bottom(); ++y)
            for (int x = ring.left(); x <= ring.right(); ++x) drawn += !closeTo(shot.pixelColor(x, y), red, 30);
        EXPECT_GT(drawn, ring.width() * ring.height() / 10) << "no ring in corner " << int(corner);
    }

    setDesktopColour("#00FF00");
    shot = screenshotWhen([&](const QImage& s) { return areaOf(s, green) == area; }, std::chrono::seconds(5));
    EXPECT_EQ(areaOf(shot, green), area) << "the picture did not turn green within 5 s";
}

TEST_F(CornerRoundingDesktopTest, TheWheelOverARingAndATapOnItsBandReachTheSettingsFile) {
    selectPage(SettingsCategory::cornerRounding);
    QRect area;
    screenshotWhen([&](const QImage& s) { return isTheEditor(area = areaOf(s, QColor(255, 0, 0))); });
    ASSERT_TRUE(isTheEditor(area)) << "no picture of the desktop in the page";
    const RingCellLayout cell =
        RingOverlayLayout::of(QSizeF(area.size())).cell(GaugeCorner::bottomLeft);
    const QPoint centre = (cell.ring.center() + QPointF(area.topLeft())).toPoint();

    // Two notches up over the hovered bottom-left ring: 28 → 30.5 → 33 for the linked bottom corners.
    movePointer(centre);
    waitUntil([] { return false; }, std::chrono::milliseconds(400));
    click(centre.x(), centre.y(), 4);
    click(centre.x(), centre.y(), 4);
    EXPECT_TRUE(waitUntil([&] {
        const auto corners = storedCorners();
        return corners && corners->bottomRadius == 33;
    })) << "the stored bottom radius never became 33";

    // A tap on the ring's band switches the corner off, and its linked twin with it.
    const double bandRadius = cell.ring.width() / 2 - kRingBandInset;
    const QPoint band = centre + QPoint(int(bandRadius), 0);
    click(band.x(), band.y());
    EXPECT_TRUE(waitUntil([&] {
        const auto corners = storedCorners();
        return corners && !corners->bottomLeftEnabled && !corners->bottomRightEnabled;
    })) << "the tap on the band did not switch both bottom corners off";
}

}  // namespace
}  // namespace velaro::e2e
