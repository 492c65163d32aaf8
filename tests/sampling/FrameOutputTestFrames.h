// Scripted frames and a harness that runs one frame analysis on the virtual loop and records its results.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/CaptureFrame.h"
#include "sampling/FrameOutput.h"
#include "support/FakePointerSource.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

struct Rgb {
    std::uint8_t r, g, b;
};

// A frame of `width` × `height` BGRA pixels coloured by `paint(x, y)`; rows are padded to show that the
// stride, not the width, steps between rows.
inline CaptureFrame makeFrame(int width, int height, const std::function<Rgb(int x, int y)>& paint) {
    const int stride = width * 4 + 16;
    auto pixels =
        std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(stride) * height, 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = paint(x, y);
            std::uint8_t* p = pixels->data() + static_cast<std::size_t>(y) * stride + x * 4;
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = 0;  // the alpha byte is skipped by the capture; it must not leak into results
        }
    }
    CaptureFrame frame;
    frame.pixels = pixels;
    frame.width = width;
    frame.height = height;
    frame.bytesPerRow = stride;
    return frame;
}

inline CaptureFrame solidFrame(int width, int height, Rgb c) {
    return makeFrame(width, height, [c](int, int) { return c; });
}

inline Color colorOf(Rgb c) {
    return Color::rgb(c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

// A line configuration for a plain strip: no inset, live capture on, no smoothing step.
inline FrameOutput::LineConfig plainLine() {
    FrameOutput::LineConfig config;
    config.generation = 7;
    config.imagePointWidth = 100;
    config.publishesImage = true;
    config.smoothingAlpha = 1;
    config.scale = 1;
    return config;
}

// Adds beam sampling for a 2× screen `widthPoints` wide whose band reaches 30…80 pt below its top.
inline FrameOutput::LineConfig beamLine(Point displayOrigin = {}, double widthPoints = 400) {
    auto config = plainLine();
    config.lightReflections = true;
    config.scale = 2;
    config.displayWidthPoints = widthPoints;
    config.displayOrigin = displayOrigin;
    config.lightRowY = 42;
    config.lightBandHeightPx = 60;
    config.beamActivationMinY = 30;
    config.beamActivationMaxY = 80;
    return config;
}

struct Update {
    Color dominant;
    std::vector<Color> zones;
};
struct Beam {
    Color color;
    double x;
};

class FrameOutputHarness {
public:
    FrameOutputHarness() {
        FrameOutput::Dependencies deps;
        deps.loop = &loop;
        deps.queueLabel = "test.frames";
        deps.pointer = &pointer;
        deps.isForeignMenuOpen = [this] {
            ++foreignMenuScans;
            return foreignMenuOpen;
        };
        output = std::make_unique<FrameOutput>(std::move(deps));
        output->onUpdate = [this](const Color& c, const std::vector<Color>& z) { updates.push_back({c, z}); };
        output->onLine = [this](const LiveLine& l, int generation) {
            lines.push_back(l);
            lineGenerations.push_back(generation);
        };
        output->onEdgeColors = [this](const Color& l, const Color& r) { edges.emplace_back(l, r); };
        output->onBeam = [this](const Color& c, double x) { beams.push_back({c, x}); };
        output->onBackdrop = [this](const BackdropImage& b) { backdrops.push_back(b); };
        output->onCornerBackdrops = [this](const std::optional<BackdropImage>& l,
                                           const std::optional<BackdropImage>& r) {
            corners.emplace_back(l, r);
        };
        output->onForceUnfreeze = [this] { ++forceUnfreezes; };
        output->onActivityEnded = [this] { ++activityEnded; };
        output->onWantsFrame = [this] { ++frameAsks; };
        output->onWaitsForPointer = [this](bool waits) { pointerWaits.push_back(waits); };
    }

    void run(std::function<void(FrameOutput&)> op) {
        output->async(std::move(op));
        loop.runUntilIdle();
    }
    void configure(FrameOutput::LineConfig config) {
        run([config](FrameOutput& o) { o.setLineConfig(config); });
    }
    void feed(const CaptureFrame& frame) {
        output->submit(frame);
        loop.runUntilIdle();
    }
    void clearResults() {
        updates.clear();
        lines.clear();
        lineGenerations.clear();
        edges.clear();
        beams.clear();
        backdrops.clear();
        corners.clear();
    }

    VirtualLoop loop;
    FakePointerSource pointer{900};
    bool foreignMenuOpen = false;
    int foreignMenuScans = 0;
    std::unique_ptr<FrameOutput> output;

    std::vector<Update> updates;
    std::vector<LiveLine> lines;
    std::vector<int> lineGenerations;
    std::vector<std::pair<Color, Color>> edges;
    std::vector<Beam> beams;
    std::vector<BackdropImage> backdrops;
    std::vector<std::pair<std::optional<BackdropImage>, std::optional<BackdropImage>>> corners;
    int forceUnfreezes = 0;
    int activityEnded = 0;
    int frameAsks = 0;  // frames asked of the stream though nothing may have changed
    std::vector<bool> pointerWaits;
};

inline void expectColorNear(const Color& actual, const Color& expected, double tolerance = 1e-9) {
    EXPECT_NEAR(actual.red, expected.red, tolerance) << actual << " vs " << expected;
    EXPECT_NEAR(actual.green, expected.green, tolerance) << actual << " vs " << expected;
    EXPECT_NEAR(actual.blue, expected.blue, tolerance) << actual << " vs " << expected;
}

}  // namespace velaro::test
