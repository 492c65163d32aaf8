// Frame analysis of rows: zone splits, the line image, the row dedup, smoothing and tolerance-gated
// publishing.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "FrameOutputTestFrames.h"
#include "sampling/LineKernels.h"

namespace velaro::test {
namespace {

// Row bytes (RGBA) where pixel x has red = x % 256 and green = x / 256, so every zone's mean is predictable.
std::vector<std::uint8_t> rampRow(int width) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
    for (int x = 0; x < width; ++x) {
        row[x * 4] = static_cast<std::uint8_t>(x % 256);
        row[x * 4 + 1] = static_cast<std::uint8_t>(x / 256);
        row[x * 4 + 2] = 9;
        row[x * 4 + 3] = 255;
    }
    return row;
}

// The expected colour of pixels [from, to) of a ramp row.
Color rampMean(int from, int to) {
    double r = 0, g = 0;
    for (int x = from; x < to; ++x) {
        r += x % 256;
        g += x / 256;
    }
    const double n = (to - from) * 255.0;
    return Color::rgb(r / n, g / n, 9 / 255.0);
}

TEST(FrameOutputZones, SplitsRowsThatDoNotDivideBySixtyFour) {
    FrameOutput::LineAnalysis analysis;
    for (const int width : {130, 1000, 3024}) {
        SCOPED_TRACE(width);
        const auto row = rampRow(width);
        ASSERT_TRUE(FrameOutput::analyzeLine(row.data(), width, analysis));
        ASSERT_EQ(analysis.zones.size(), 64u);
        const int step = width / 64;
        for (int i = 0; i < 63; ++i) expectColorNear(analysis.zones[i], rampMean(i * step, (i + 1) * step));
        // The last zone takes the remainder: for 130 pixels, pixels 126…129.
        expectColorNear(analysis.zones[63], rampMean(63 * step, width));
        expectColorNear(analysis.mean, rampMean(0, width));
        expectColorNear(analysis.left, rampMean(0, 1));
        expectColorNear(analysis.right, rampMean(width - 1, width));
    }
}

TEST(FrameOutputZones, RowsNarrowerThanTheZonesRepeatTheLastPixelZone) {
    FrameOutput::LineAnalysis analysis;
    const auto row = rampRow(50);
    ASSERT_TRUE(FrameOutput::analyzeLine(row.data(), 50, analysis));
    for (int i = 0; i < 50; ++i) expectColorNear(analysis.zones[i], rampMean(i, i + 1));
    for (int i = 50; i < 64; ++i) expectColorNear(analysis.zones[i], rampMean(49, 50));
    expectColorNear(analysis.mean, rampMean(0, 50));

    EXPECT_FALSE(FrameOutput::analyzeLine(row.data(), 0, analysis));
    EXPECT_FALSE(FrameOutput::analyzeLine(nullptr, 10, analysis));
}

TEST(FrameOutputLine, NeedsMoreThanAHundredInnerPixels) {
    FrameOutputHarness h;
    auto config = plainLine();
    config.edgeInsetPixels = 8;
    h.configure(config);
    h.feed(solidFrame(116, 4, {10, 20, 30}));  // 100 inner pixels
    EXPECT_TRUE(h.lines.empty());
    EXPECT_TRUE(h.updates.empty());
    EXPECT_TRUE(h.edges.empty());

    h.feed(solidFrame(117, 4, {10, 20, 30}));  // 101
    ASSERT_EQ(h.lines.size(), 1u);
    ASSERT_EQ(h.updates.size(), 1u);
    EXPECT_EQ(h.lines[0].image.width(), 117);
}

TEST(FrameOutputLine, SpansTheFullWidthWithTheEndsRepeatingTheNearestInnerPixel) {
    FrameOutputHarness h;
    auto config = plainLine();
    config.edgeInsetPixels = 5;
    config.lineRowY = 99;  // beyond the frame: the last row is used
    config.imagePointWidth = 75.5;
    h.configure(config);
    // Row 2 (the last) carries a ramp; the inset ends hold junk that must not show.
    h.feed(makeFrame(150, 3, [](int x, int y) -> Rgb {
        if (y != 2) return {1, 1, 1};
        if (x < 5 || x >= 145) return {255, 0, 255};
        return {static_cast<std::uint8_t>(x), 100, 200};
    }));
    ASSERT_EQ(h.lines.size(), 1u);
    const QImage& image = h.lines[0].image;
    EXPECT_EQ(image.size(), QSize(150, 1));
    EXPECT_DOUBLE_EQ(h.lines[0].pointWidth, 75.5);
    EXPECT_EQ(h.lineGenerations[0], 7);
    EXPECT_EQ(image.pixel(0, 0), qRgba(5, 100, 200, 255));
    EXPECT_EQ(image.pixel(4, 0), qRgba(5, 100, 200, 255));
    EXPECT_EQ(image.pixel(5, 0), qRgba(5, 100, 200, 255));
    EXPECT_EQ(image.pixel(70, 0), qRgba(70, 100, 200, 255));
    EXPECT_EQ(image.pixel(144, 0), qRgba(144, 100, 200, 255));
    EXPECT_EQ(image.pixel(149, 0), qRgba(144, 100, 200, 255));
    ASSERT_EQ(h.edges.size(), 1u);
    expectColorNear(h.edges[0].first, colorOf({5, 100, 200}));
    expectColorNear(h.edges[0].second, colorOf({144, 100, 200}));
}

TEST(FrameOutputLine, LineImagesHandedOutStayUnchangedByLaterFrames) {
    FrameOutputHarness h;
    h.configure(plainLine());
    for (std::uint8_t v : {10, 20, 30, 40, 50}) h.feed(solidFrame(200, 2, {v, v, v}));
    ASSERT_EQ(h.lines.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(qRed(h.lines[i].image.pixel(100, 0)), 10 * (int(i) + 1));
}

TEST(FrameOutputDedup, AnIdenticalRowPublishesNothingMore) {
    FrameOutputHarness h;
    h.configure(plainLine());
    const auto frame = solidFrame(200, 3, {40, 80, 120});
    h.feed(frame);
    ASSERT_EQ(h.lines.size(), 1u);
    ASSERT_EQ(h.updates.size(), 1u);
    ASSERT_EQ(h.edges.size(), 1u);

    // Only rows other than the line row changed: still the same line.
    h.feed(makeFrame(200, 3, [](int, int y) -> Rgb { return y == 0 ? Rgb{40, 80, 120} : Rgb{1, 2, 3}; }));
    EXPECT_EQ(h.lines.size(), 1u);
    EXPECT_EQ(h.updates.size(), 1u);
    EXPECT_EQ(h.edges.size(), 1u);

    // A row within the colour tolerance is new: its line goes out, its colour does not.
    h.feed(solidFrame(200, 3, {40, 80, 121}));
    EXPECT_EQ(h.lines.size(), 2u);
    EXPECT_EQ(h.updates.size(), 1u);
}

TEST(FrameOutputDedup, DroppedCachesAnalyseTheSameRowAgain) {
    FrameOutputHarness h;
    h.configure(plainLine());
    const auto frame = solidFrame(200, 3, {40, 80, 120});
    h.feed(frame);
    h.run([](FrameOutput& o) { o.invalidateCaches(); });
    h.feed(frame);
    EXPECT_EQ(h.lines.size(), 2u);
    EXPECT_EQ(h.updates.size(), 1u);  // same colour: nothing new to publish

    // A new line configuration drops the key as well.
    h.configure(plainLine());
    h.feed(frame);
    EXPECT_EQ(h.lines.size(), 3u);
}

TEST(FrameOutputPublish, ForcedPublishSendsAnUnchangedColourOnce) {
    FrameOutputHarness h;
    h.configure(plainLine());
    const auto frame = solidFrame(200, 3, {40, 80, 120});
    h.feed(frame);
    h.run([](FrameOutput& o) { o.forcePublish(); });
    h.feed(frame);  // a duplicate, but the forced publish lets it through
    ASSERT_EQ(h.updates.size(), 2u);
    EXPECT_EQ(h.edges.size(), 2u);
    EXPECT_EQ(h.updates[1].dominant, colorOf({40, 80, 120}));
    h.feed(frame);
    EXPECT_EQ(h.updates.size(), 2u) << "the force is used up by the one publish";

    // Resetting the publish state withdraws a pending forced publish.
    h.run([](FrameOutput& o) {
        o.forcePublish(true);
        o.resetPublishState();
    });
    h.feed(frame);
    EXPECT_EQ(h.updates.size(), 2u);
}

TEST(FrameOutputPublish, ToleranceDependsOnLiveCapture) {
    // Live capture publishes a move of 2/255 (0.0078 > 0.004) but not 1/255; without it 0.02 is needed.
    for (const bool live : {true, false}) {
        SCOPED_TRACE(live);
        FrameOutputHarness h;
        auto config = plainLine();
        config.publishesImage = live;
        h.configure(config);
        h.feed(solidFrame(200, 1, {100, 100, 100}));
        h.feed(solidFrame(200, 1, {101, 100, 100}));  // +0.0039
        h.feed(solidFrame(200, 1, {102, 100, 100}));  // +0.0078 from the published one
        h.feed(solidFrame(200, 1, {105, 100, 100}));  // +0.0196
        h.feed(solidFrame(200, 1, {107, 100, 100}));  // +0.0275 from 100
        std::vector<int> reds;
        for (const auto& u : h.updates) reds.push_back(static_cast<int>(std::lround(u.dominant.red * 255)));
        EXPECT_EQ(reds, live ? std::vector<int>({100, 102, 105, 107}) : std::vector<int>({100, 107}));
        EXPECT_TRUE(h.lines.empty() != live);
    }
}

TEST(FrameOutputSmoothing, ClosesTheGapByTheConfiguredFraction) {
    FrameOutputHarness h;
    auto config = plainLine();
    config.smoothingAlpha = 1 - std::pow(0.7, 30.0 / 30);  // 30 frames a second
    h.configure(config);
    h.run([](FrameOutput& o) { o.applySettings({12.0, true, true, false, false}); });
    h.feed(solidFrame(200, 1, {0, 0, 0}));
    ASSERT_EQ(h.updates.size(), 1u);
    expectColorNear(h.updates[0].dominant, Color::black());

    const auto white = solidFrame(200, 1, {255, 255, 255});
    for (int i = 0; i < 40; ++i) h.feed(white);
    ASSERT_GE(h.updates.size(), 4u);
    expectColorNear(h.updates[1].dominant, Color::rgb(0.3, 0.3, 0.3), 1e-12);
    expectColorNear(h.updates[2].dominant, Color::rgb(0.51, 0.51, 0.51), 1e-12);
    expectColorNear(h.updates[3].dominant, Color::rgb(0.657, 0.657, 0.657), 1e-12);
    for (const auto& z : h.updates[2].zones) expectColorNear(z, Color::rgb(0.51, 0.51, 0.51), 1e-12);

    // Steps of at least 0.004 publish; the 14th (0.0029) does not, the 15th is published as the two
    // together pass the tolerance; by the 16th the smoothing is within 0.004 of white and the repeated row
    // is no longer analysed at all.
    ASSERT_EQ(h.updates.size(), 1u + 13u + 1u);
    EXPECT_NEAR(h.updates.back().dominant.red, 1 - std::pow(0.7, 15), 1e-12);
}

TEST(FrameOutputSmoothing, FifteenFramesASecondMoveFurtherEachFrame) {
    FrameOutputHarness h;
    auto config = plainLine();
    config.smoothingAlpha = 1 - std::pow(0.7, 30.0 / 15);
    h.configure(config);
    h.run([](FrameOutput& o) { o.applySettings({12.0, true, true, false, false}); });
    h.feed(solidFrame(200, 1, {0, 0, 0}));
    h.feed(solidFrame(200, 1, {255, 255, 255}));
    h.feed(solidFrame(200, 1, {255, 255, 255}));
    ASSERT_EQ(h.updates.size(), 3u);
    EXPECT_NEAR(h.updates[1].dominant.red, 0.51, 1e-12);
    EXPECT_NEAR(h.updates[2].dominant.red, 1 - 0.49 * 0.49, 1e-12);
}

TEST(FrameOutputSmoothing, ToggleAndSnapRestartFromTheRawColour) {
    FrameOutputHarness h;
    auto config = plainLine();
    config.smoothingAlpha = 0.5;
    h.configure(config);
    h.run([](FrameOutput& o) { o.applySettings({12.0, true, true, false, false}); });
    h.feed(solidFrame(200, 1, {0, 0, 0}));
    h.feed(solidFrame(200, 1, {255, 255, 255}));
    EXPECT_NEAR(h.updates.back().dominant.red, 0.5, 1e-12);

    // A forced publish with snap jumps straight to the raw colour.
    h.run([](FrameOutput& o) { o.forcePublish(true); });
    h.feed(solidFrame(200, 1, {255, 0, 0}));
    expectColorNear(h.updates.back().dominant, Color::rgb(1, 0, 0));
    for (const auto& z : h.updates.back().zones) expectColorNear(z, Color::rgb(1, 0, 0));
    // …and the smoothing goes on from there.
    h.feed(solidFrame(200, 1, {0, 0, 255}));
    expectColorNear(h.updates.back().dominant, Color::rgb(0.5, 0, 0.5));

    // Switching smoothing off and on drops the smoothed state: the next frame starts at its raw colour.
    h.run([](FrameOutput& o) { o.applySettings({12.0, false, true, false, false}); });
    h.run([](FrameOutput& o) { o.applySettings({12.0, true, true, false, false}); });
    h.feed(solidFrame(200, 1, {0, 255, 0}));
    expectColorNear(h.updates.back().dominant, Color::rgb(0, 1, 0));
}

// The zone sums run in packed lanes; they must give exactly what plain per-pixel sums and divisions give,
// including zones wider than the lanes' blocks (a 20000-pixel row has 312-pixel zones), zones at the vector
// form's largest (16384: 256 pixels), zones of whole vectors (1024, 2048) and rows of bright, uneven bytes.
// Every kernel this processor runs is checked, and the analysis itself.
TEST(FrameOutputZones, MatchPlainPerPixelSumsExactly) {
    const auto kernels = availableLineKernels();
    struct Case {
        int width;
        bool white;
    };
    for (const auto& [width, white] :
         {Case{64, false}, Case{101, false}, Case{257, false}, Case{511, false}, Case{1000, false},
          Case{1024, false}, Case{1919, false}, Case{1920, true}, Case{2048, false}, Case{3840, false},
          Case{16384, true}, Case{16447, false}, Case{20000, false}}) {
        SCOPED_TRACE(testing::Message() << width << (white ? " white" : ""));
        std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<std::uint8_t>(white || i % 7 == 0 ? 255 : 200 + (i * 37 + i / 5) % 56);
        FrameOutput::LineAnalysis analysis;
        ASSERT_TRUE(FrameOutput::analyzeLine(row.data(), width, analysis));
        for (const auto* k : kernels) {
            SCOPED_TRACE(k->name);
            std::vector<Color> zones(64);
            Color mean;
            k->zoneColors(row.data(), width, 64, zones.data(), mean);
            EXPECT_EQ(zones, analysis.zones);
            EXPECT_EQ(mean, analysis.mean);
        }

        const auto plainMean = [&](int from, int to) {
            std::uint64_t r = 0, g = 0, b = 0;
            for (int x = from; x < to; ++x) {
                r += row[x * 4];
                g += row[x * 4 + 1];
                b += row[x * 4 + 2];
            }
            const double n = (to - from) * 255.0;
            return Color::rgb(r / n, g / n, b / n);
        };
        const int step = width / 64;
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(analysis.zones[i], plainMean(i * step, i == 63 ? width : (i + 1) * step)) << i;
        EXPECT_EQ(analysis.mean, plainMean(0, width));
    }
}

// Only the colours of the inner pixels make the line: what else differs in the row is still the same line.
TEST(FrameOutputDedup, ARowIsNewOnlyWhenAnInnerColourChanges) {
    constexpr int kWidth = 300, kInset = 20;
    const Rgb base{40, 80, 120};
    struct Case {
        const char* name;
        std::function<void(std::uint8_t* row)> change;  // on the BGRA line row
        bool newLine;
    };
    const Case cases[] = {
        {"alpha bytes",
         [](std::uint8_t* row) {
             for (int x = 0; x < kWidth; ++x) row[x * 4 + 3] = 0xFF;
         },
         false},
        {"the inset ends",
         [](std::uint8_t* row) {
             row[0] = 1;
             row[(kWidth - 1) * 4 + 2] = 1;
         },
         false},
        {"the first inner pixel", [](std::uint8_t* row) { row[kInset * 4 + 1] = 81; }, true},
        {"the last inner pixel", [](std::uint8_t* row) { row[(kWidth - kInset - 1) * 4] = 121; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FrameOutputHarness h;
        auto config = plainLine();
        config.edgeInsetPixels = kInset;
        h.configure(config);
        h.feed(solidFrame(kWidth, 1, base));
        ASSERT_EQ(h.lines.size(), 1u);

        auto changed = solidFrame(kWidth, 1, base);
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(*changed.pixels);
        c.change(bytes->data());
        changed.pixels = bytes;
        h.feed(changed);
        EXPECT_EQ(h.lines.size(), c.newLine ? 2u : 1u);
    }
}

}  // namespace
}  // namespace velaro::test
