// Shared by the overlay view tests: the settings over an in-memory store on a virtual loop, a stand-in for
// the sampler's published values and one screen's channel, and offscreen rendering of a view.
#pragma once

#include <QImage>
#include <QPainter>
#include <memory>

#include "overlay/HueDriftClock.h"
#include "overlay/OverlayFeed.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

// The values a sampler publishes, owned here so tests can assign them.
struct FakeSamplerValues {
    Published<Color> dominantColor{Color::black()};
    Published<std::vector<Color>> zoneColors;
    Published<std::optional<LiveLine>> liveLine;
    Published<std::optional<BackdropImage>> blurredBackdropImage;
    Published<std::optional<BackdropImage>> blurredTopLeftCorner;
    Published<std::optional<BackdropImage>> blurredTopRightCorner;
    Published<Color> liveLeftCornerColor{Color::black()};
    Published<Color> liveRightCornerColor{Color::black()};
    Published<bool> strokeInkIsDark{false};
    Published<bool> isFilledWindowActive{true};
    double recolorSnapUntil = 0;

    Published<std::optional<Color>> channelDominant;
    Published<std::optional<std::vector<Color>>> channelZones;
    Published<std::optional<LiveLine>> channelLine;
    Published<std::optional<Color>> channelLeftCorner;
    Published<std::optional<Color>> channelRightCorner;

    OverlayFeed feed() const {
        OverlayFeed f;
        f.sampler = {&dominantColor,        &zoneColors,           &liveLine,
                     &blurredBackdropImage, &blurredTopLeftCorner, &blurredTopRightCorner,
                     &liveLeftCornerColor,  &liveRightCornerColor, &strokeInkIsDark,
                     &isFilledWindowActive, &recolorSnapUntil};
        f.channel.dominantColor = &channelDominant;
        f.channel.zoneColors = &channelZones;
        f.channel.liveLine = &channelLine;
        f.channel.liveLeftCornerColor = &channelLeftCorner;
        f.channel.liveRightCornerColor = &channelRightCorner;
        return f;
    }
};

// Runs `paint` into a transparent image of `w`×`h` points, `scale` pixels a point.
template <class Paint>
QImage renderView(double w, double h, Paint&& paint, double scale = 1.0) {
    QImage image(int(w * scale), int(h * scale), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    paint(painter, Size{w, h});
    painter.end();
    return image;
}

class OverlayViewTest : public ::testing::Test {
protected:
    OverlayViewTest() : settings(store, loop), clock(settings, loop) {}

    VirtualLoop loop;
    FakeDefaultsStore store;
    OverlaySettings settings;
    HueDriftClock clock;
    FakeSamplerValues sampler;
};

// Channel values within `tolerance` of 0...255 each.
inline ::testing::AssertionResult pixelNear(const QImage& image, int x, int y, QColor expected,
                                            int tolerance = 3) {
    const QColor actual = image.pixelColor(x, y);
    if (std::abs(actual.red() - expected.red()) <= tolerance &&
        std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance &&
        std::abs(actual.alpha() - expected.alpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is " << actual.name(QColor::HexArgb).toStdString()
           << ", expected " << expected.name(QColor::HexArgb).toStdString();
}

}  // namespace velaro::test
