// The popover's live views: the status word, the swatch against the preview colour, the caption's style
// label and hex, the preview's backdrop, opacity factor and zone strip, and the painted miniature.
#include <gtest/gtest.h>

#include <QLabel>

#include "support/RowSearch.h"
#include "ui/tray/LivePreviewHeader.h"
#include "ui/tray/StatusPopoverTestRig.h"

namespace velaro {
namespace {

using namespace LivePreviewHeader;

const Color kBlue = Color::rgb(0, 0, 1);
const Color kRed = Color::rgb(1, 0, 0);

class LivePreviewTest : public ::testing::Test {
protected:
    // A manual red solid fill over a sampled blue.
    void manualRedOverSampledBlue() {
        s().style = MenuBarStyle::solid;
        s().autoSample = false;
        s().manualColor = kRed;
        rig.sampler().dominantColor = kBlue;
        rig.loop.runUntilIdle();
    }
    OverlaySettings& s() { return *rig.settings; }
    // Whether the row shows that status word, and the word's ink (invalid when it is not shown).
    static bool showsStatus(const StatusRow& row, const char* word) {
        return test::labelReading(&row, QString::fromUtf8(word)) != nullptr;
    }
    static QColor statusInk(const StatusRow& row, const char* word) {
        const QLabel* label = test::labelReading(&row, QString::fromUtf8(word));
        return label ? label->palette().color(QPalette::WindowText) : QColor();
    }
    // The app icon the row shows, as its label holds it.
    static QImage shownIcon(const StatusRow& row) {
        for (const QLabel* label : row.findChildren<QLabel*>())
            if (!label->pixmap().isNull()) return label->pixmap().toImage();
        return QImage();
    }
    static bool anyPixelPainted(const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y).alpha() > 0) return true;
        return false;
    }
    // The swatch at the row's trailing edge, as painted.
    static QColor paintedSwatch(StatusRow& row) {
        row.resize(320, 54);
        const QImage shot = row.grab().toImage();
        return shot.pixelColor(row.width() - 11 - StatusRow::swatchSize / 2, row.height() / 2);
    }

    test::PopoverRig rig;
};

TEST(StatusWordTest, TheMasterSwitchWinsOverAFilledWindow) {
    EXPECT_EQ(statusWord(false, true), (StatusWord{"Disabled", false}));
    EXPECT_EQ(statusWord(true, true), (StatusWord{"Filled screen", true}));
    EXPECT_EQ(statusWord(true, false), (StatusWord{"Windowed", false}));
}

TEST_F(LivePreviewTest, TheRowNamesTheFrontAppOrADashAndFollowsTheModels) {
    StatusRow row(rig.sampler(), s(), *rig.appWatcher, rig.loop);
    EXPECT_NE(test::labelReading(&row, QStringLiteral("—")), nullptr);
    EXPECT_TRUE(anyPixelPainted(shownIcon(row))) << "an app without an icon shows the stand-in";

    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(QColor(10, 20, 30));
    rig.appWatcher->activeAppName = std::string("Editor");
    rig.appWatcher->activeAppIcon = icon;
    rig.sampler().isFilledWindowActive = true;
    EXPECT_NE(test::labelReading(&row, QStringLiteral("—")), nullptr)
        << "views refresh on the next turn, not mid-change";
    rig.loop.runUntilIdle();
    EXPECT_EQ(test::labelReading(&row, QStringLiteral("—")), nullptr);
    EXPECT_NE(test::labelReading(&row, QStringLiteral("Editor")), nullptr);
    const QImage shown = shownIcon(row);
    EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), QColor(10, 20, 30));
    EXPECT_TRUE(showsStatus(row, "Filled screen"));
    EXPECT_EQ(statusInk(row, "Filled screen"), QColor(52, 199, 89)) << "green";

    s().masterEnabled = false;
    rig.loop.runUntilIdle();
    EXPECT_TRUE(showsStatus(row, "Disabled"));
    EXPECT_FALSE(showsStatus(row, "Filled screen"));
    EXPECT_NE(statusInk(row, "Disabled"), QColor(52, 199, 89)) << "not green";
    EXPECT_TRUE(statusInk(row, "Disabled").isValid());
}

TEST_F(LivePreviewTest, TheSwatchShowsTheSampledColourWhileThePreviewShowsTheManualOne) {
    manualRedOverSampledBlue();
    StatusRow row(rig.sampler(), s(), *rig.appWatcher, rig.loop);
    EXPECT_EQ(paintedSwatch(row), QColor(0, 0, 255));
    EXPECT_EQ(previewInputs(rig.sampler(), s()).color, kRed);
    EXPECT_EQ(previewCaption(rig.sampler(), s()), "Solid • #FF0000");

    s().autoSample = true;
    EXPECT_EQ(previewInputs(rig.sampler(), s()).color, kBlue) << "auto-sample previews the sampled colour";
}

TEST_F(LivePreviewTest, TheCaptionNamesTheFadeStyleAndPrefersDriftThenZoneStops) {
    manualRedOverSampledBlue();
    s().style = MenuBarStyle::gradient;
    EXPECT_EQ(previewCaption(rig.sampler(), s()).rfind("Fade • ", 0), 0u);

    s().style = MenuBarStyle::solid;
    s().autoSample = false;
    s().overlayColorZones = OverlayColorZones({"#112233", "#445566"}, false, true, 1.0);
    EXPECT_EQ(previewHexText(rig.sampler(), s()), "#112233");
    EXPECT_EQ(previewInputs(rig.sampler(), s()).zoneColors.size(), 2u);

    s().overlayColorZones = OverlayColorZones({"#112233"}, false, false, 1.0);
    OverlayHueDrift drift;
    drift.enabled = true;
    s().hueDrift = drift;
    ASSERT_TRUE(s().isHueDriftEffective());
    EXPECT_EQ(previewHexText(rig.sampler(), s()), "#FF1919");
    EXPECT_EQ(previewInputs(rig.sampler(), s()).driftPattern.size(), 8u);
    EXPECT_TRUE(previewInputs(rig.sampler(), s()).zoneColors.empty())
        << "zones show only with multicolour on";
}

TEST_F(LivePreviewTest, TheBackdropAndItsOpacityFactorApplyOnlyWithBlur) {
    QImage frost(8, 2, QImage::Format_RGB32);
    frost.fill(Qt::gray);
    rig.sampler().blurredBackdropImage = BackdropImage{frost, Size{8, 2}};
    s().styleOpacityOverBlur = 0.4;

    s().blurEnabled = false;
    auto off = previewInputs(rig.sampler(), s());
    EXPECT_FALSE(off.blurBackdrop);
    EXPECT_EQ(off.styleOpacityFactor, 1.0);

    s().blurEnabled = true;
    auto on = previewInputs(rig.sampler(), s());
    ASSERT_TRUE(on.blurBackdrop);
    EXPECT_EQ(on.blurBackdrop->image.size(), QSize(8, 2));
    EXPECT_DOUBLE_EQ(on.styleOpacityFactor, 0.4);
}

TEST_F(LivePreviewTest, TheZoneStripIsEmptyWhileSamplingIsInactive) {
    rig.sampler().zoneColors = std::vector<Color>{kRed, kBlue};
    s().style = MenuBarStyle::gradient;
    s().autoSample = false;
    ASSERT_FALSE(s().isSamplingActive());
    EXPECT_TRUE(previewZoneColors(rig.sampler(), s()).empty());

    s().style = MenuBarStyle::live;
    EXPECT_EQ(previewZoneColors(rig.sampler(), s()), (std::vector<Color>{kRed, kBlue}));
}

TEST_F(LivePreviewTest, ThePreviewPaintsTheBarInThePreviewColourAndCaptionsIt) {
    manualRedOverSampledBlue();
    s().overlayOpacity = 1.0;
    Preview preview(rig.sampler(), s(), *rig.appWatcher, rig.loop);
    preview.resize(332, 90);
    rig.loop.runUntilIdle();
    EXPECT_EQ(preview.caption(), QStringLiteral("Solid • #FF0000"));

    auto& bar = preview.bar();
    QImage image = bar.grab().toImage();
    ASSERT_FALSE(image.isNull());
    const QColor mid = image.pixelColor(image.width() / 2, 3);
    EXPECT_GT(mid.red(), 240);
    EXPECT_LT(mid.blue(), 15);

    s().manualColor = Color::rgb(0, 1, 0);
    rig.loop.runUntilIdle();
    image = bar.grab().toImage();
    EXPECT_GT(image.pixelColor(image.width() / 2, 3).green(), 240) << "a settings change repaints the bar";
    EXPECT_EQ(preview.caption(), QStringLiteral("Solid • #00FF00"));
}

TEST_F(LivePreviewTest, TheLiveStyleDrawsTheCapturedRowWhereverThePreviewSitsInItsWindow) {
    QImage row(4, 1, QImage::Format_RGBA8888_Premultiplied);
    row.fill(QColor(200, 60, 40));
    s().style = MenuBarStyle::live;
    rig.sampler().liveLine = LiveLine{row, 4};
    // Nested well inside a window, as the popover holds it.
    QWidget window;
    window.resize(400, 300);
    Preview preview(rig.sampler(), s(), *rig.appWatcher, rig.loop, &window);
    preview.setGeometry(40, 120, 332, 90);
    rig.loop.runUntilIdle();

    const QImage image = window.grab().toImage();
    const QPoint inBar = preview.bar().mapTo(&window, QPoint(preview.bar().width() / 2, 3));
    const QColor shown = image.pixelColor(inBar);
    EXPECT_NEAR(shown.red(), 200, 3) << shown.name().toStdString();
    EXPECT_NEAR(shown.green(), 60, 3);
}

}  // namespace
}  // namespace velaro
