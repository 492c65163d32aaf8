// The ring gauge's drawing, rendered offscreen and judged by its pixels (the gap and arrow toward the row's
// edge, the arc for a radius, an off corner's grey, a behind corner's arrow, the whole number shown, the
// brighter rim), the gap mask, the band and hover shapes, and the typed-radius parser.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "ui/settings/rings/RingEditState.h"
#include "ui/settings/rings/RingGauge.h"

namespace velaro {
namespace {

constexpr double kPi = std::numbers::pi;

// One gauge of diameter `d` drawn at `scale` onto a transparent image with a 4-point margin.
struct Rendered {
    QImage image;
    double d;
    qreal scale;

    // The pixel at a point of the gauge's own square.
    QColor at(QPointF p) const {
        const QPoint px((p.x() + 4) * scale, (p.y() + 4) * scale);
        return QColor::fromRgba(image.pixel(px));
    }
    // The pixel on the arc line at `degrees` (0 right, 90 down).
    QColor onArc(double degrees) const {
        const double r = d / 2 - 3.25, a = degrees * kPi / 180;
        return at({d / 2 + r * std::cos(a), d / 2 + r * std::sin(a)});
    }
};

Rendered render(RingGauge gauge, qreal scale = 2, std::optional<RingGaugeMotion> motion = std::nullopt) {
    const double side = gauge.diameter + 8;
    QImage image(int(side * scale), int(side * scale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    RingGaugeCache cache;
    {
        QPainter p(&image);
        paintRingGauge(p, {4, 4}, gauge, motion.value_or(RingGaugeMotion::settled(gauge)), scale, cache);
    }
    return {image.convertToFormat(QImage::Format_ARGB32), gauge.diameter, scale};
}

RingGauge gauge(double value, bool top = true) {
    RingGauge g;
    g.valuePX = value;
    g.isTop = top;
    g.diameter = 100;
    return g;
}

bool green(const QColor& c) {
    return c.green() > 120 && c.green() > c.red() + 40 && c.alpha() > 150;
}

TEST(RingGaugeTest, TheArcGrowsClockwiseFromTwelveAndTheGapFacesTheRowsEdge) {
    struct Case {
        double value;
        bool top;
        std::vector<double> greenAt;  // degrees on the arc that are green
        std::vector<double> plainAt;  // degrees that are not
    };
    const Case cases[] = {
        {0, true, {}, {0, 90, 180}},
        {-5, true, {}, {0, 90}},
        {24, true, {-60, 0, 60}, {120, 180, -120}},
        {24, false, {-60, 0, 60}, {120, 180}},  // measured from 12 o'clock on a bottom ring too
        {48, true, {0, 90, 180, -120}, {-100, -80}},   // a full turn less the gap at 12 o'clock
        {48, false, {0, -90, 180, 120}, {100, 80}},    // ... and at 6 o'clock
        {500, true, {0, 90, 180}, {-100, -80}},
    };
    for (const Case& c : cases) {
        const Rendered r = render(gauge(c.value, c.top));
        for (double deg : c.greenAt) EXPECT_TRUE(green(r.onArc(deg))) << c.value << " at " << deg;
        for (double deg : c.plainAt) EXPECT_FALSE(green(r.onArc(deg))) << c.value << " at " << deg;
    }
    EXPECT_DOUBLE_EQ(ringArcFraction(24), 0.5);
    EXPECT_DOUBLE_EQ(ringArcFraction(std::nan("")), 0);

    // In the gap, beside the arrow, neither the track nor the arc is drawn: only the dark disc.
    const Rendered top = render(gauge(48, true));
    const Rendered bottom = render(gauge(48, false));
    const Rendered none = render(gauge(0, true));
    EXPECT_LT(top.onArc(-75).lightness(), none.onArc(-60).lightness()) << "the track is cut in the gap";
    EXPECT_LT(bottom.onArc(105).lightness(), none.onArc(120).lightness());
    // The arrow sits in the gap: white on the arc line at 12 o'clock (top) or 6 o'clock (bottom).
    EXPECT_GT(top.onArc(-90).lightness(), 200);
    EXPECT_GT(bottom.onArc(90).lightness(), 200);
    EXPECT_TRUE(green(bottom.onArc(-90))) << "a bottom ring's arc starts whole at 12 o'clock";
}

TEST(RingGaugeTest, AnOffCornerIsGreyAtFortyFivePercentWithItsArcAndNumberStillDrawn) {
    RingGauge on = gauge(24);
    RingGauge off = on;
    off.enabled = false;
    const Rendered a = render(on), b = render(off);
    const QColor arcOn = a.onArc(0), arcOff = b.onArc(0);
    ASSERT_TRUE(green(arcOn));
    EXPECT_LE(std::abs(arcOff.red() - arcOff.green()), 2) << "grey";
    EXPECT_LE(std::abs(arcOff.green() - arcOff.blue()), 2);
    EXPECT_GT(arcOff.alpha(), 0) << "the arc is still drawn";
    // Rec. 709 grey of the green, at 45 % of its opacity.
    const double luma = 0.2126 * arcOn.redF() + 0.7152 * arcOn.greenF() + 0.0722 * arcOn.blueF();
    EXPECT_NEAR(arcOff.alphaF(), 0.45 * arcOn.alphaF(), 0.02);
    EXPECT_NEAR(arcOff.greenF(), luma, 0.03);
    // The disc inside the arc: the same look, 45 % of the opacity.
    EXPECT_NEAR(b.at({50, 30}).alphaF(), 0.45 * a.at({50, 30}).alphaF(), 0.02);
    // Half way through the fade: in between.
    const Rendered mid = render(off, 2, RingGaugeMotion{0.5, 0, 0});
    EXPECT_GT(mid.at({50, 30}).alpha(), b.at({50, 30}).alpha());
    EXPECT_LT(mid.at({50, 30}).alpha(), a.at({50, 30}).alpha());
}

TEST(RingGaugeTest, TheArrowPointsUpInFrontAndDownBehind) {
    // The arrow's head is wider than its shaft: measure the white across its 6-point box a little above and
    // a little below its middle, at 8 pixels a point.
    struct Case {
        bool top;
        bool behind;
    };
    for (const Case c : {Case{true, false}, Case{true, true}, Case{false, false}, Case{false, true}}) {
        RingGauge g = gauge(0, c.top);
        g.diameter = 40;
        g.behindActive = c.behind;
        const Rendered r = render(g, 8);
        const double cy = c.top ? 3.25 : 40 - 3.25;
        const auto width = [&](double y) {
            int n = 0;
            for (double x = 17; x < 23; x += 0.125) n += r.at({x, y}).lightness() > 180;
            return n;
        };
        const int above = width(cy - 0.9), below = width(cy + 0.9);
        EXPECT_GT(std::min(above, below), 10) << "the arrow is drawn";
        EXPECT_EQ(above > below + 3, !c.behind) << "top " << c.top << " behind " << c.behind;
        EXPECT_EQ(below > above + 3, c.behind) << "top " << c.top << " behind " << c.behind;
    }
}

TEST(RingGaugeTest, TheNumberIsTheWholePartAndHidesWhileTyped) {
    const auto centre = [](double value, bool shows = true) {
        RingGauge g = gauge(value);
        g.showsCenterValue = shows;
        return render(g).image.copy(QRect(70, 80, 76, 56));
    };
    EXPECT_EQ(centre(12.9), centre(12)) << "12.9 shows 12";
    EXPECT_NE(centre(12.9), centre(13));
    EXPECT_EQ(centre(-0.5), centre(0)) << "truncated toward zero";
    EXPECT_NE(centre(12, false), centre(12));
    EXPECT_EQ(centre(12, false), centre(30, false));
}

TEST(RingGaugeTest, AHighlightedRimIsBrighter) {
    RingGauge plain = gauge(0);
    RingGauge lit = plain;
    lit.rimHighlighted = true;
    // The rim's line at 3 o'clock, on the gauge's edge.
    const QColor a = render(plain).at({99.7, 50}), b = render(lit).at({99.7, 50});
    EXPECT_GT(b.alpha(), a.alpha() + 15);
}

TEST(RingGaugeTest, AKeptDrawingIsRedrawnWhenTheGaugeOrItsPlaceChanges) {
    // One cache across frames, as the layer keeps it, against a fresh drawing of each frame.
    RingGaugeCache kept;
    const auto frame = [&](const RingGauge& g, QPointF at, const RingGaugeMotion& motion, RingGaugeCache& cache) {
        QImage image(240, 240, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::transparent);
        QPainter p(&image);
        paintRingGauge(p, at, g, motion, 2, cache);
        return image;
    };
    RingGauge g = gauge(12);
    struct Step {
        double value;
        QPointF at;
        RingGaugeMotion motion;
    };
    const Step steps[] = {
        {12, {4, 4}, {1, 0, 0}},   {12, {4, 4}, {1, 0, 0}},   {40, {4, 4}, {1, 0, 0}},
        {40, {4.3, 4}, {1, 0, 0}}, {40, {4.3, 4}, {0.5, 0, 0}}, {40, {4.3, 4}, {0.5, 1, 1}},
    };
    for (const Step& step : steps) {
        g.valuePX = step.value;
        RingGaugeCache fresh;
        EXPECT_EQ(frame(g, step.at, step.motion, kept), frame(g, step.at, step.motion, fresh))
            << step.value << " at " << step.at.x() << " enabled " << step.motion.enabled;
    }
}

TEST(RingGaugeTest, TheGapMaskCutsAWedgeOnlyForAPositiveGap) {
    const QRectF rect(0, 0, 40, 40);
    struct Case {
        double centre, gap;
        QPointF cut, kept;
    };
    const Case cases[] = {
        {-90, 45, {20, 2}, {2, 20}},   // up
        {90, 45, {20, 38}, {20, 2}},   // down
        {0, 45, {38, 20}, {2, 20}},    // right
        {-90, 0, {-1, -1}, {20, 2}},   // no gap: the plain rectangle
        {-90, -10, {-1, -1}, {20, 2}},
    };
    for (const Case& c : cases) {
        const QPainterPath mask = ringGapMask(rect, c.centre, c.gap);
        EXPECT_EQ(mask.fillRule(), Qt::OddEvenFill);
        if (c.cut.x() >= 0) {
            EXPECT_FALSE(mask.contains(c.cut)) << c.centre;
        }
        EXPECT_TRUE(mask.contains(c.kept)) << c.centre << " " << c.gap;
    }
    // The wedge reaches past the rectangle: the corner region beside the gap's edge stays.
    EXPECT_TRUE(ringGapMask(rect, -90, 45).contains(QPointF(1, 1)));
}

TEST(RingGaugeTest, BandAndHoverShapes) {
    // 40 × 40 with the inset 3.25: a band around radius 16.75, from 10.75 to 22.75.
    const QPainterPath band = ringBandHitShape(QRectF(0, 0, 40, 40), 3.25);
    for (double r : {11.0, 16.75, 22.5}) EXPECT_TRUE(band.contains(QPointF(20 + r, 20))) << r;
    for (double r : {0.0, 10.5, 23.0}) EXPECT_FALSE(band.contains(QPointF(20 + r, 20))) << r;
    EXPECT_TRUE(band.contains(QPointF(20, 20 - 16.75)));
    EXPECT_TRUE(ringBandHitShape(QRectF(0, 0, 6, 6), 3.25).isEmpty());

    const QRectF cell(10, 10, 40, 130);
    struct Case {
        bool top, open;
        double diameter;
        QPointF inside, outside;
    };
    const Case cases[] = {
        {true, false, 36, {30, 28}, {30, 100}},    // closed: the ring at the top only
        {false, false, 36, {30, 122}, {30, 28}},   // closed bottom ring: at the bottom
        {true, true, 36, {30, 100}, {11, 11}},     // open: the whole cell less its round ends' corners
        {true, false, 0, {30, 12}, {30, 55}},      // no diameter: the cell's width
    };
    for (const Case& c : cases) {
        const QPainterPath shape = ringHoverShape(cell, c.top, c.open, c.diameter);
        EXPECT_TRUE(shape.contains(c.inside)) << c.top << c.open << c.diameter;
        EXPECT_FALSE(shape.contains(c.outside)) << c.top << c.open << c.diameter;
    }
}

TEST(RingGaugeTest, TypedRadiusParsing) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> value;
    };
    const Case cases[] = {
        {"20", 20},       {" 20 ", 20},     {"\t7\t", 7},   {"+7", 7},        {"-3", -3},
        {"99", 99},       {"007", 7},       {"-0", 0},      {"12.5", {}},     {"1e3", {}},
        {"", {}},         {"   ", {}},      {"abc", {}},    {"-", {}},        {"+", {}},
        {"+-3", {}},      {"1 2", {}},      {"\n5", {}},    {"5\n", {}},      {"0x10", {}},
        {"9223372036854775807", INT64_MAX}, {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", {}},        {"99999999999999999999", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(parseTypedRadius(c.text), c.value) << '"' << c.text << '"';
}

TEST(RingGaugeTest, AnEditEndsOnceAndOnlyOnItsOwnRing) {
    RingEditState edit;
    edit.begin(GaugeCorner::bottomLeft, 12.7);
    EXPECT_EQ(edit.text()(), "12") << "the start text is truncated";
    EXPECT_TRUE(edit.isEditing(GaugeCorner::bottomLeft));
    edit.setText("30");
    EXPECT_EQ(edit.commit(GaugeCorner::bottomRight), std::nullopt) << "not this ring's edit";
    EXPECT_TRUE(edit.isEditing(GaugeCorner::bottomLeft));
    edit.cancel(GaugeCorner::topLeft);
    EXPECT_TRUE(edit.isEditing(GaugeCorner::bottomLeft));
    EXPECT_EQ(edit.commit(GaugeCorner::bottomLeft), 30);
    EXPECT_EQ(edit.commit(GaugeCorner::bottomLeft), std::nullopt) << "a second commit (a focus loss) is nothing";
    edit.begin(GaugeCorner::topRight, 1e300);
    EXPECT_EQ(edit.text()(), QString::number(INT64_MAX)) << "a stored radius far out saturates";
    edit.cancel(GaugeCorner::topRight);
    EXPECT_EQ(edit.commit(GaugeCorner::topRight), std::nullopt) << "Escape, then the focus loss";
    EXPECT_EQ(edit.editingCorner()(), std::nullopt);
}

}  // namespace
}  // namespace velaro
