// The overlay style section and its fade-stop and auto-sample blocks.
#include "ui/settings/pages/OverlayStyleSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SettingsSwitch.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/kit/StylePicker.h"
#include "ui/settings/kit/ValueText.h"
#include "ui/settings/pages/ColorSection.h"

namespace velaro {
namespace {

// The rates a stored one is kept among, each as "15 fps".
SettingsOptions<int> liveRateOptions() {
    SettingsOptions<int> options;
    for (const int fps : settings_keys::liveCaptureRates)
        options.emplace_back(fps, QString::number(fps) + QStringLiteral(" fps"));
    return options;
}

QLabel* fixedLabel(const QString& text, const QFont& font, int width, Qt::Alignment alignment,
                   QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setFixedWidth(width);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

// A switch with its text beside it; the text names the switch for assistive technology.
SettingsSwitch* addLabelledSwitch(QHBoxLayout* row, const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    row->addWidget(label);
    auto* toggle = new SettingsSwitch(parent);
    toggle->setAccessibleName(text);
    row->addWidget(toggle);
    return toggle;
}

void showChecked(SettingsSwitch* toggle, bool on) {
    const QSignalBlocker quiet(toggle);
    toggle->setChecked(on);
}

// A block of a card shown only sometimes: the content with 10 points above and below.
QWidget* padded(QWidget* content, QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, 10, 0, 10);
    column->setSpacing(0);
    column->addWidget(content);
    return holder;
}

}  // namespace

// ---- fade stop ----

GradientStopEditor::GradientStopEditor(OverlaySettings& settings, MainLoop& loop, Stop stop, QWidget* parent)
    : SettingsRow(parent), settings_(settings), stop_(stop) {
    const bool bottom = stop == Stop::bottom;
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* stopRow = new QHBoxLayout;
    stopRow->setSpacing(10);
    QFont titleFont = SettingsStyle::captionFont();
    titleFont.setWeight(QFont::Medium);
    stopRow->addWidget(fixedLabel(bottom ? QStringLiteral("Bottom") : QStringLiteral("Top"), titleFont, 70,
                                  Qt::AlignLeft, this));
    follow_ = addLabelledSwitch(stopRow, QStringLiteral("Follow sample"), SettingsStyle::captionFont(), this);
    const auto follows = deferredBinding(loop, settingBinding(bottom ? settings.gradientBottomFollowsSample
                                                                     : settings.gradientTopFollowsSample));
    QObject::connect(follow_, &QAbstractButton::toggled, this, [follows](bool on) { follows.set(on); });
    stopRow->addStretch(1);
    well_ = new ColorWell(deferredBinding(loop, settingBinding(bottom ? settings.gradientBottomColor
                                                                      : settings.gradientTopColor)),
                          false, this);
    well_->setAccessibleName(bottom ? QStringLiteral("Bottom color") : QStringLiteral("Top color"));
    // The well's frame stays when the well hides, so the row keeps its shape.
    auto* wellFrame = new QWidget(this);
    wellFrame->setFixedWidth(44);
    auto* wellRow = new QHBoxLayout(wellFrame);
    wellRow->setContentsMargins(0, 0, 0, 0);
    wellRow->addStretch(1);
    wellRow->addWidget(well_);
    stopRow->addWidget(wellFrame);
    column->addLayout(stopRow);

    auto* opacityRow = new QHBoxLayout;
    opacityRow->setSpacing(10);
    opacityRow->addWidget(
        fixedLabel(QStringLiteral("Opacity"), SettingsStyle::captionFont(), 70, Qt::AlignLeft, this));
    const Bounds bounds =
        (bottom ? settings_keys::gradientBottomOpacity : settings_keys::gradientTopOpacity).check;
    slider_ = new ResettableSlider(
        loop, settingBinding(bottom ? settings.gradientBottomOpacity : settings.gradientTopOpacity),
        {bounds.lo, bounds.hi}, std::nullopt, std::nullopt, false, this);
    slider_->setAccessibleName(bottom ? QStringLiteral("Bottom opacity") : QStringLiteral("Top opacity"));
    opacityRow->addWidget(slider_, 1);
    value_ = fixedLabel({}, SettingsStyle::valueFont(), 40, Qt::AlignRight, this);
    QPalette quiet = value_->palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
    value_->setPalette(quiet);
    opacityRow->addWidget(value_);
    column->addLayout(opacityRow);
    refresh();
}

void GradientStopEditor::refresh() {
    const bool bottom = stop_ == Stop::bottom;
    const bool follows =
        bottom ? settings_.gradientBottomFollowsSample() : settings_.gradientTopFollowsSample();
    showChecked(follow_, follows);
    well_->refresh();
    well_->setVisible(!(follows && settings_.autoSample()));
    slider_->refresh();
    value_->setText(
        truncatedPercentText(bottom ? settings_.gradientBottomOpacity() : settings_.gradientTopOpacity()));
}

// ---- auto-sample ----

AutoSampleBlock::AutoSampleBlock(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* label = new QLabel(QStringLiteral("Auto-sample"), this);
    label->setFont(SettingsStyle::calloutFont());
    row->addWidget(label);
    switch_ = new SettingsSwitch(this);
    switch_->setAccessibleName(QStringLiteral("Auto-sample"));
    QObject::connect(switch_, &QAbstractButton::toggled, this, [&settings, &loop](bool on) {
        loop.post([&settings, on] {
            // Sampling takes over from the manual colour: its panel has nothing left to edit.
            if (on) closeSharedColorPanel();
            settings.autoSample = on;
        });
    });
    row->addWidget(switch_);
    row->addStretch(1);
    auto* wellFrame = new QWidget(this);
    wellFrame->setFixedWidth(28 + 10);
    auto* wellRow = new QHBoxLayout(wellFrame);
    wellRow->setContentsMargins(0, 0, 0, 0);
    wellRow->addStretch(1);
    well_ = new ColorWell(deferredBinding(loop, settingBinding(settings.manualColor)), false, wellFrame);
    well_->setAccessibleName(QStringLiteral("Custom overlay color"));
    wellRow->addWidget(well_);
    row->addWidget(wellFrame);
    refresh();
}

void AutoSampleBlock::refresh() {
    showChecked(switch_, settings_.autoSample());
    well_->refresh();
    well_->setVisible(settings_.style() == MenuBarStyle::solid && !settings_.autoSample() &&
                      !settings_.overlayColorZones().multicolorEnabled && !settings_.hueDrift().enabled);
}

// ---- section ----

OverlayStyleSection::OverlayStyleSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings), on_(loop, new QWidget(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new SettingsSectionHeader(QStringLiteral("Overlay Style"), this));
    auto* card = new SettingsCard(this);
    column->addWidget(card);

    auto* enable = new SettingsToggleRow(
        QStringLiteral("Enable overlay"), deferredBinding(loop, settingBinding(settings.overlayEnabled)),
        QStringLiteral("Turns the top panel overlay off without disabling the app"), nullptr, card);
    card->addRow(enable);
    offCaption_ = new SettingsCaptionRow(
        QStringLiteral("The overlay is off. Its settings are kept, and turning it back on restores them."),
        card);
    card->addRow(offCaption_);

    QWidget* on = on_.block();
    on->setParent(card);
    // Each block takes its hairline with it when it hides.
    const auto block = [on](std::initializer_list<QWidget*> content) {
        QWidget* holder = rowStack(on, {new SettingsHairline});
        addRows(holder, content);
        addRows(on, {holder});
        return holder;
    };

    auto* picker = new StylePicker(deferredBinding(loop, settingBinding(settings.style)));
    block({padded(picker, nullptr)});

    auto* liveRate = new SettingsPickerRow<int>(
        QStringLiteral("Live sampling rate"), deferredBinding(loop, settingBinding(settings.liveCaptureFPS)),
        liveRateOptions());
    liveBlock_ =
        block({liveRate, new SettingsCaptionRow(QStringLiteral(
                             "Higher rates follow content more smoothly but use more CPU and energy. "
                             "15 fps is the default; 10 fps is easiest on battery."))});

    auto* opacity = new SettingsSliderRow(loop, QStringLiteral("Opacity"), overlayOpacityPercent(settings),
                                          overlayOpacityPercentRange(), overlayOpacityDefaultPercent(),
                                          SettingsSliderRow::Options::showing([&settings] {
                                              return truncatedPercentText(settings.overlayOpacity());
                                          }));
    block({opacity});

    auto* gradient = new QWidget;
    auto* gradientColumn = new QVBoxLayout(gradient);
    gradientColumn->setContentsMargins(0, 0, 0, 0);
    gradientColumn->setSpacing(12);
    auto* fadeCaption = new QLabel(QStringLiteral("Vertical fade · bottom → top"), gradient);
    fadeCaption->setFont(SettingsStyle::caption2Font());
    QPalette quiet = fadeCaption->palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::tertiaryText(quiet));
    fadeCaption->setPalette(quiet);
    gradientColumn->addWidget(fadeCaption);
    auto* bottomStop = new GradientStopEditor(settings, loop, GradientStopEditor::Stop::bottom, gradient);
    gradientColumn->addWidget(bottomStop);
    auto* topStop = new GradientStopEditor(settings, loop, GradientStopEditor::Stop::top, gradient);
    gradientColumn->addWidget(topStop);
    gradientBlock_ = block({padded(gradient, nullptr)});

    auto* autoSample = new AutoSampleBlock(settings, loop);
    autoSampleHolder_ = block({padded(autoSample, nullptr)});

    auto* colors = new ColorSection(settings, loop);
    colorBlock_ = block({padded(colors, nullptr)});

    hueDriftBlock_ = block({});
    card->addRow(on);
    refresh();
}

void OverlayStyleSection::setHueDriftSection(QWidget* section) {
    hueDrift_ = section;
    hueDriftBlock_->layout()->addWidget(padded(section, hueDriftBlock_));
    refresh();
}

void OverlayStyleSection::refresh() {
    const bool overlayOn = settings_.overlayEnabled();
    const MenuBarStyle style = settings_.style();
    offCaption_->setVisible(!overlayOn);
    on_.setShown(overlayOn);
    liveBlock_->setVisible(style == MenuBarStyle::live);
    gradientBlock_->setVisible(style == MenuBarStyle::gradient);
    autoSampleHolder_->setVisible(style != MenuBarStyle::live);
    colorBlock_->setVisible(style == MenuBarStyle::solid);
    hueDriftBlock_->setVisible(hueDrift_ && style == MenuBarStyle::solid && !settings_.autoSample() &&
                               !settings_.overlayColorZones().multicolorEnabled);
}

}  // namespace velaro
