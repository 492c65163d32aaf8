// Every number of a real settings file at the extremes a file can hold, read through the store the app uses:
// every page's slider rows then show what their sliders show at the nearer end (an opacity of 1e308 reads
// "100%", never "9223372036854775807%"), and the pages paint. The sanitizer build stops at any conversion
// that overflows on the way.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QToolButton>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/linux/JsonDefaultsStore.h"
#include "settings/OverlaySettings.h"
#include "settings/ProfileManager.h"
#include "settings/SettingsJson.h"
#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/pages/AdvancedSection.h"
#include "ui/settings/pages/AppearanceSettingsView.h"
#include "ui/settings/pages/BehaviorSection.h"
#include "ui/settings/pages/CornerRoundingSections.h"
#include "ui/settings/pages/LightReflectionsSection.h"
#include "ui/settings/pages/OverlayStyleSection.h"
#include "ui/settings/pages/PillShapeSection.h"
#include "ui/settings/pages/VisualizerSection.h"

namespace velaro {
namespace {

using settings_json::Json;

// Every number of the key table (whole numbers too), and every number inside the records stored as data,
// set to `extreme`; the switches that show the pages' folded rows on.
std::string fileHolding(const Json& extreme) {
    Json file = Json::object();
#define VELARO_NUMBER_KEY(member, Type, form, key, def, check, scope, writeBack) \
    if constexpr (std::is_same_v<Type, double> || std::is_same_v<Type, int>) file[key] = extreme;
    VELARO_PERSISTED_SETTINGS(VELARO_NUMBER_KEY)
#undef VELARO_NUMBER_KEY
    const auto record = [&](const std::optional<Bytes>& data) {
        Json document = *settings_json::parse(*data);
        for (auto& [key, value] : document.items())
            if (value.is_number()) value = extreme;
        const auto text = settings_json::encodeSorted(document);
        return Json{{"$data", QByteArray::fromStdString(*text).toBase64().toStdString()}};
    };
    file["cornerSettings"] = record(encodeCornerSettings(CornerSettings{}));
    file["overlayHueDrift"] = record(encodeSortedKeys(OverlayHueDrift{}));
    file["overlayColorZones"] = record(encodeSortedKeys(OverlayColorZones{}));
    for (const char* on : {"lightReflectionsEnabled", "keepOverlayAlwaysOn", "blurEnabled", "vizEnabled"})
        file[on] = true;
    return file.dump(2);
}

TEST(FileExtremes, EveryPageShowsNumbersFarBeyondTheirControlsAsTheControlsEnds) {
    const Json extremes[] = {1e308, -1e308, std::numeric_limits<std::int64_t>::max(),
                             std::numeric_limits<std::int64_t>::min(),
                             std::numeric_limits<std::uint64_t>::max()};
    for (const Json& extreme : extremes) {
        SCOPED_TRACE(extreme.dump());
        const bool high = extreme.get<double>() > 0;
        QTemporaryDir dir;
        const std::string path = dir.filePath("defaults.json").toStdString();
        std::ofstream(path) << fileHolding(extreme);
        test::VirtualLoop loop;
        JsonDefaultsStore store(loop, path);
        ProfileManager profiles(store);
        OverlaySettings settings(store, loop);
        AppearanceSettingsView appearance(settings, loop);
        LightReflectionsSection beam(settings, loop);
        VisualizerSection visualizer(settings, loop);
        AdvancedSection advanced(settings, profiles, loop);
        BehaviorSection behavior(settings, profiles, loop);
        PillShapeSection pill(settings, loop);
        CornerOpacitySection cornerOpacity(settings, loop);
        StyleOpacityControls tray(settings, loop);
        loop.runUntilIdle();

        // What was seen: the overlay's opacity on the appearance page and the tray, the beam's brightness in
        // its fine-tuning, the gradient's stops.
        const QString end = high ? QStringLiteral("100%") : QStringLiteral("0%");
        const auto* style = test::findWidget<OverlayStyleSection>(&appearance);
        EXPECT_EQ(test::valueShown(test::rowTitled<SettingsSliderRow>(style, QStringLiteral("Opacity"))),
                  end);
        EXPECT_EQ(test::valueShown(test::rowTitled<SettingsSliderRow>(&beam, QStringLiteral("Brightness"))),
                  end);
        for (auto* stop : test::findWidgets<GradientStopEditor>(&appearance))
            EXPECT_NE(test::labelReading(stop, end), nullptr);
        EXPECT_NE(test::labelReading(&tray, end), nullptr);

        // Every slider row reads as its slider at the nearer end (to the other end and back, so that the near
        // end is written whatever the thumb showed), or, for the settings that load a stored number beyond
        // their range as their default, as its slider at the default.
        int rows = 0, atDefault = 0;
        for (QWidget* page : std::vector<QWidget*>{&appearance, &beam, &visualizer, &advanced, &behavior,
                                                   &pill, &cornerOpacity})
            for (SettingsSliderRow* row : test::findWidgets<SettingsSliderRow>(page)) {
                const QString shown = test::valueShown(row);
                ResettableSlider* slider = row->slider();
                slider->setValue(high ? slider->minimum() : slider->maximum());
                loop.runUntilIdle();
                slider->setValue(high ? slider->maximum() : slider->minimum());
                loop.runUntilIdle();
                if (shown != test::valueShown(row) && slider->defaultValue()) {
                    slider->setValue(slider->positionOf(*slider->defaultValue()));
                    loop.runUntilIdle();
                    ++atDefault;
                }
                EXPECT_EQ(shown.toStdString(), test::valueShown(row).toStdString())
                    << slider->accessibleName().toStdString();
                ++rows;
            }
        EXPECT_GT(rows, 60);
        EXPECT_LT(atDefault, rows / 2);

        // The beam's page paints with its fine-tuning open.
        for (QToolButton* button : test::findWidgets<QToolButton>(&beam))
            if (button->text() == QStringLiteral("Fine-tuning")) button->click();
        beam.resize(SettingsPage::maximumPageWidth, 1400);
        EXPECT_FALSE(beam.grab().toImage().isNull());
    }
}

}  // namespace
}  // namespace velaro
