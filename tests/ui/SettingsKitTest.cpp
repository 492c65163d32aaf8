// The row kit: the slider's three forms (snapping, clamping, deferred writes) and its reset, switch rows and
// their clickable titles, dimming of disabled rows, wrapping captions and a card's opening caption, picker
// and segmented rows and how a segment shows chosen, names cut only when wider than their label, the overlay
// gate, pages that re-read their rows after a change, and the shared colour panel moving between wells.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "support/RowSearch.h"
#include "support/VirtualLoop.h"
#include "support/WidgetSearch.h"
#include "ui/settings/kit/AppListPieces.h"
#include "ui/settings/kit/SettingsKit.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"

namespace velaro {
namespace {

void mouse(QWidget* target, QEvent::Type type, QPoint at = {}) {
    if (at.isNull()) at = target->rect().center();
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void clickOn(QWidget* target) {
    mouse(target, QEvent::MouseButtonPress);
    mouse(target, QEvent::MouseButtonRelease);
}

double dimOpacity(QWidget* widget) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect && effect->isEnabled() ? effect->opacity() : 1.0;
}

class KitTest : public ::testing::Test {
protected:
    test::VirtualLoop loop;
};

template <class T>
struct Stored {
    T value{};
    int writes = 0;
    Binding<T> binding() {
        return {[this] { return value; },
                [this](T v) {
                    value = v;
                    ++writes;
                }};
    }
};

TEST_F(KitTest, SliderSnapsAndClampsItsDeferredWrites) {
    const struct {
        double x, lower, upper, step, expected;
    } snaps[] = {
        {3.3, 0, 10, 0.5, 3.5}, {3.2, 0, 10, 0.5, 3.0}, {10.4, 0, 10, 0.5, 10}, {-3, 0, 10, 0.5, 0},
        {1.0, 0, 1, 0.4, 1.0},  {0.65, 0, 1, 0.4, 0.8}, {5.25, 1, 9, 0.5, 5.5}, {-3.5, -4, 4, 1, -3},
    };
    for (const auto& s : snaps)
        EXPECT_DOUBLE_EQ(ResettableSlider::snapped(s.x, {s.lower, s.upper}, s.step), s.expected)
            << s.x << " in " << s.lower << "..." << s.upper << " step " << s.step;

    Stored<double> stored{4};
    ResettableSlider free(loop, stored.binding(), {0, 10}, 5, 0.5, false);
    EXPECT_EQ(free.value(), free.positionOf(4));
    free.setValue(free.positionOf(3.3));  // the thumb moves freely
    EXPECT_EQ(stored.writes, 0) << "a write waits for the next turn";
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(stored.value, 3.5);
    free.setValue(free.maximum());
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(stored.value, 10);

    ResettableSlider stepped(loop, stored.binding(), {0, 10}, 5, 0.5, true);
    EXPECT_EQ(stepped.maximum(), 20) << "one position per step";
    EXPECT_EQ(stepped.tickPosition(), QSlider::TicksBelow);
    stepped.setValue(7);
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(stored.value, 3.5);

    ResettableSlider continuous(loop, stored.binding(), {0, 2}, 1, std::nullopt, false);
    continuous.setValue(continuous.positionOf(0.123));
    loop.runUntilIdle();
    EXPECT_NEAR(stored.value, 0.123, 0.002) << "no step: the value follows the thumb";
}

TEST_F(KitTest, DoubleClickResetsOnlyWhileEnabled) {
    Stored<double> stored{2};
    ResettableSlider slider(loop, stored.binding(), {0, 10}, 5, 0.5, false);
    mouse(&slider, QEvent::MouseButtonDblClick);
    EXPECT_EQ(stored.writes, 0);
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(stored.value, 5);

    // Also when the value is at its default already: the reset is written again.
    mouse(&slider, QEvent::MouseButtonDblClick);
    loop.runUntilIdle();
    EXPECT_EQ(stored.writes, 2);

    stored.value = 7;
    slider.setEnabled(false);
    mouse(&slider, QEvent::MouseButtonDblClick);
    loop.runUntilIdle();
    EXPECT_DOUBLE_EQ(stored.value, 7);
    EXPECT_EQ(stored.writes, 2);
}

TEST_F(KitTest, SliderRowShowsItsValueTextAndSymbolsOnlyWhenGiven) {
    Stored<double> stored{0.25};
    SettingsSliderRow bare(loop, QStringLiteral("Opacity"), stored.binding(), {0, 1}, 0.5);
    EXPECT_TRUE(test::valueShown(&bare).isEmpty()) << "no value text shows";
    EXPECT_EQ(bare.slider()->width(), SettingsSliderRow::sliderWidth);
    EXPECT_EQ(bare.findChildren<QLabel*>().size(), 2) << "title and the hidden value text, no symbols";

    SettingsSliderRow row(loop, QStringLiteral("Opacity"), stored.binding(), {0, 1}, 0.5,
                          {.step = 0.05,
                           .valueText = [&] { return QString::number(qRound(stored.value * 100)) + "%"; },
                           .minSymbol = "eye",
                           .maxSymbol = "eye.fill"});
    EXPECT_EQ(test::valueShown(&row), QStringLiteral("25%"));
    EXPECT_EQ(row.slider()->accessibleDescription(), QStringLiteral("25%"));
    EXPECT_EQ(row.findChildren<QLabel*>().size(), 4);
    stored.value = 0.6;
    row.refresh();
    EXPECT_EQ(test::valueShown(&row), QStringLiteral("60%"));
}

TEST_F(KitTest, ToggleRowTitleFlipsTheSwitchOnlyWhileEnabledAndDims) {
    Stored<bool> stored{false};
    auto* badge = new SettingsBetaBadge;
    SettingsToggleRow row(QStringLiteral("Blur"), deferredBinding(loop, stored.binding()),
                          QStringLiteral("Blurs the backdrop"), badge);
    EXPECT_EQ(row.toggle()->accessibleName(), QStringLiteral("Blur"));
    EXPECT_EQ(row.toggle()->accessibleDescription(), QStringLiteral("Blurs the backdrop"));
    clickOn(row.titleLabel());
    EXPECT_TRUE(row.toggle()->isChecked());
    EXPECT_FALSE(stored.value) << "the write is deferred";
    loop.runUntilIdle();
    EXPECT_TRUE(stored.value);
    clickOn(row.toggle());
    loop.runUntilIdle();
    EXPECT_FALSE(stored.value);
    EXPECT_EQ(dimOpacity(row.titleLabel()), 1.0);

    row.setEnabled(false);
    clickOn(row.titleLabel());
    loop.runUntilIdle();
    EXPECT_FALSE(stored.value);
    EXPECT_EQ(stored.writes, 2);
    EXPECT_DOUBLE_EQ(dimOpacity(row.titleLabel()), 0.4);
    EXPECT_DOUBLE_EQ(dimOpacity(badge), 0.7);
    EXPECT_FALSE(row.toggle()->isEnabled());
}

TEST_F(KitTest, DisabledCardDimsItsHairlinesAndCaptionsWrap) {
    // A page in a scrolling pane, as the settings window shows it, narrower than the caption's text.
    QScrollArea pane;
    pane.setWidgetResizable(true);
    auto* page = new SettingsPage(loop);
    auto* card = new SettingsCard(page);
    card->addRow(new SettingsCaptionRow(QStringLiteral("One")));
    card->addHairline();
    auto* caption =
        new SettingsCaptionRow(QStringLiteral("A caption much longer than the page is wide must wrap onto as "
                                              "many lines as it needs and never be cut "
                                              "off, however narrow the column gets."));
    card->addRow(caption);
    page->column()->addWidget(card);
    auto* header = new SettingsSectionHeader(QStringLiteral("Welcome Tour"), page);
    page->column()->addWidget(header);
    pane.setWidget(page);
    auto* hairline = test::findWidget<SettingsHairline>(card);
    ASSERT_NE(hairline, nullptr);
    EXPECT_EQ(dimOpacity(hairline), 1.0);
    card->setEnabled(false);
    EXPECT_DOUBLE_EQ(dimOpacity(hairline), 0.4);
    EXPECT_DOUBLE_EQ(dimOpacity(caption), 0.4);

    pane.resize(220, 400);
    pane.show();
    const int line = caption->fontMetrics().height();
    EXPECT_GT(caption->height(), 3 * line);
    EXPECT_GE(caption->height(), caption->heightForWidth(caption->width()));
    // The header keeps its distance from the card above once the style has polished it.
    EXPECT_GE(header->height(), 28 + header->label()->fontMetrics().height() + 8);
    EXPECT_EQ(header->label()->y(), 28);
    // A caption that opens a card keeps the rows' 10 points from its top edge; one under a row has none.
    auto* opening = test::findWidget<SettingsCaptionRow>(card);
    ASSERT_NE(opening, caption);
    EXPECT_EQ(opening->label()->y(), 10);
    EXPECT_EQ(caption->label()->y(), 0);
}

enum class Fill { solid, fade, live };

TEST_F(KitTest, PickerAndSegmentedRowsShowAndWriteTheChosenValue) {
    Stored<Fill> stored{Fill::fade};
    const SettingsOptions<Fill> options{{Fill::solid, "Solid"}, {Fill::fade, "Fade"}, {Fill::live, "Live"}};
    SettingsPickerRow<Fill> picker(QStringLiteral("Style"), stored.binding(), options);
    auto* menu = test::menuOf(&picker);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->count(), 3);
    EXPECT_EQ(menu->currentText(), QStringLiteral("Fade"));
    EXPECT_EQ(menu->accessibleName(), QStringLiteral("Style"));
    menu->activated(2);
    EXPECT_EQ(stored.value, Fill::live);

    SettingsSegmentedRow<Fill> segments(QStringLiteral("Style"), stored.binding(), options);
    const auto buttons = test::segmentsOf(&segments);
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(test::shownChoice(&segments), 2);
    buttons[0]->click();
    EXPECT_EQ(stored.value, Fill::solid);
    EXPECT_EQ(test::shownChoice(&segments), 0) << "a press shows its segment at once";
    stored.value = Fill::fade;
    segments.refresh();
    EXPECT_TRUE(buttons[1]->isChecked());
    EXPECT_FALSE(buttons[0]->isChecked());

    // The chosen segment is filled with the accent colour, as the style picker's chosen chip is; the others
    // stand on the strip.
    segments.resize(segments.sizeHint());
    const auto middle = [](QAbstractButton* b) {
        const QImage image = b->grab().toImage();
        return image.pixelColor(4, image.height() / 2);
    };
    const QColor accent = segments.palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(middle(buttons[1]).rgb(), accent.rgb());
    EXPECT_NE(middle(buttons[0]).rgb(), accent.rgb());
}

TEST_F(KitTest, ElidedLabelCutsOnlyTextReallyWiderThanItself) {
    // Names whose widths fall on fractions of a pixel in several fonts: at their own size hint they show
    // whole, a pixel narrower than their width they are cut.
    const QStringList names{QStringLiteral("XTerm"), QStringLiteral("Firefox Web Browser"),
                            QStringLiteral("Global Settings"), QStringLiteral("Mail")};
    for (const QFont& font : {SettingsStyle::systemFont(13, QFont::Medium), SettingsStyle::calloutFont(),
                              SettingsStyle::systemFont(15, QFont::DemiBold)})
        for (const QString& name : names) {
            ElidedLabel label(name);
            label.setFont(font);
            label.resize(label.sizeHint());
            EXPECT_EQ(label.shownText(), name) << name.toStdString() << " at " << font.pixelSize();
            const double width = QFontMetricsF(font).horizontalAdvance(name);
            label.resize(int(std::ceil(width)) - 1, label.height());
            EXPECT_TRUE(label.shownText().endsWith(QStringLiteral("…"))) << name.toStdString();
        }
}

TEST_F(KitTest, TheWheelOverASliderOrAMenuIsLeftToThePageAndChangesNothing) {
    // Scrolling a page moves its rows under the pointer; a control that took the wheel would change a
    // setting on the way. An event the control leaves unaccepted goes on to the scrolling pane.
    Stored<double> level{5};
    Stored<Fill> fill{Fill::fade};
    SettingsSliderRow slider(loop, QStringLiteral("Level"), level.binding(), {0, 10}, 5,
                             {.step = 1, .valueText = {}, .minSymbol = {}, .maxSymbol = {}});
    SettingsPickerRow<Fill> picker(QStringLiteral("Fill"), fill.binding(),
                                   {{Fill::solid, "Solid"}, {Fill::fade, "Fade"}, {Fill::live, "Live"}});
    for (QWidget* control : {static_cast<QWidget*>(slider.slider()), static_cast<QWidget*>(test::menuOf(&picker))}) {
        for (int delta : {-120, 120, -360}) {
            const QPointF at(control->rect().center());
            QWheelEvent wheel(at, control->mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(control, &wheel);
            EXPECT_FALSE(wheel.isAccepted()) << control->metaObject()->className() << " " << delta;
        }
    }
    loop.runUntilIdle();
    EXPECT_EQ(level.writes, 0);
    EXPECT_EQ(fill.writes, 0);
    EXPECT_EQ(slider.slider()->value(), slider.slider()->positionOf(5));
    EXPECT_EQ(test::menuOf(&picker)->currentIndex(), 1);
}

TEST_F(KitTest, OverlayGateDisablesItsPageAndSaysWhy) {
    for (bool follows : {false, true}) {
        auto* action =
            new SettingsActionRow(QStringLiteral("Do"), "sparkles", SettingsActionRow::Role::plain, [] {});
        SettingsOverlayGate gate(action, follows);
        EXPECT_TRUE(gate.notice()->isHidden());
        EXPECT_TRUE(action->isEnabled());
        gate.setOverlayEnabled(false);
        EXPECT_FALSE(gate.notice()->isHidden());
        EXPECT_FALSE(action->isEnabled());
        EXPECT_EQ(gate.notice()->layout()->contentsMargins().top(), follows ? 28 : 0);
        const auto texts = gate.notice()->findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](QLabel* l) {
            return l->text() == QString::fromUtf8(SettingsOverlayGate::noticeText);
        }));
        gate.setOverlayEnabled(true);
        EXPECT_TRUE(gate.notice()->isHidden());
        EXPECT_TRUE(action->isEnabled());
    }
}

TEST_F(KitTest, PageRereadsEveryRowOnTheTurnAfterAFollowedChange) {
    Published<bool> model{false};
    SettingsPage page(loop);
    auto* card = new SettingsCard(&page);
    auto* row = new SettingsToggleRow(
        QStringLiteral("Blur"), {[&model] { return model.value(); }, [&model](bool on) { model = on; }});
    card->addRow(row);
    page.column()->addWidget(card);
    page.follow(model.changes());
    model = true;
    EXPECT_FALSE(row->toggle()->isChecked()) << "read on the next turn, after the value is stored";
    loop.runUntilIdle();
    EXPECT_TRUE(row->toggle()->isChecked());
    EXPECT_EQ(page.maximumWidth(), SettingsPage::maximumPageWidth);

    int ran = 0;
    SettingsActionRow action(QStringLiteral("Show Welcome Tour"), "sparkles", SettingsActionRow::Role::plain,
                             [&] { ++ran; });
    action.click();
    EXPECT_EQ(ran, 1);
    EXPECT_GE(action.sizeHint().height(), 44);
}

TEST_F(KitTest, SharedColourPanelServesOneWellAtATime) {
    delete sharedColorPanelIfCreated();  // an earlier test of the run may have made it
    closeSharedColorPanel();
    EXPECT_EQ(sharedColorPanelIfCreated(), nullptr) << "closing never creates the panel";

    Stored<Color> first{Color::rgb(1, 0, 0)}, second{Color::rgb(0, 0, 1)};
    SettingsColorWellRow a(QStringLiteral("Tint"), deferredBinding(loop, first.binding()), false);
    SettingsColorWellRow b(QStringLiteral("Stroke"), deferredBinding(loop, second.binding()), true,
                           QStringLiteral("Stroke colour"));
    EXPECT_EQ(a.well()->accessibleName(), QStringLiteral("Tint"));
    EXPECT_EQ(b.well()->accessibleName(), QStringLiteral("Stroke colour"));
    a.show();
    b.show();

    a.well()->click();
    QColorDialog* panel = sharedColorPanelIfCreated();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->testOption(QColorDialog::ShowAlphaChannel));
    EXPECT_EQ(panel->currentColor(), QColor(255, 0, 0));
    panel->setCurrentColor(QColor(0, 255, 0));
    loop.runUntilIdle();
    EXPECT_EQ(first.value, Color::rgb(0, 1, 0));

    // Moving to the second well detaches the first before the panel takes the second's colour.
    b.well()->click();
    EXPECT_EQ(panel, sharedColorPanelIfCreated());
    EXPECT_TRUE(panel->testOption(QColorDialog::ShowAlphaChannel));
    panel->setCurrentColor(QColor(10, 20, 30, 128));
    loop.runUntilIdle();
    EXPECT_EQ(first.value, Color::rgb(0, 1, 0)) << "the first well keeps the last colour it received";
    EXPECT_EQ(first.writes, 1);
    EXPECT_EQ(hexString(second.value), "#0A141E");
    EXPECT_NEAR(second.value.alpha, 128 / 255.0, 1e-3);

    // A well that leaves the screen closes the panel only while the panel serves it.
    a.hide();
    EXPECT_TRUE(panel->isVisible());
    b.hide();
    EXPECT_FALSE(panel->isVisible());
}

}  // namespace
}  // namespace velaro
