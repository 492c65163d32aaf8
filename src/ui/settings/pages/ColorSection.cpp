// The colour zones section: switch, preview, swatch strip, blend and width.
#include "ui/settings/pages/ColorSection.h"

#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/MenuBarPreview.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SharedColorPanel.h"
#include "ui/settings/kit/SymbolIcon.h"
#include "ui/settings/kit/ValueText.h"

namespace velaro {
namespace {

// Room above and after a swatch's well, so the remove button, set 4 points up and right of the well's
// corner, stays inside the swatch.
constexpr int kSwatchPad = 5;
constexpr int kRemoveSize = 14;

// The round remove button: a white cross on a dark translucent disc.
class RemoveButton final : public QAbstractButton {
public:
    explicit RemoveButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(kRemoveSize, kRemoveSize);
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("Remove this color"));
        setAccessibleName(QStringLiteral("Remove this color"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF disc = QRectF(rect()).adjusted(1, 1, -1, -1);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, isDown() ? 0.75f : 0.55f));
        p.drawEllipse(disc);
        p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap));
        const double arm = disc.width() * 0.2;
        const QPointF c = disc.center();
        p.drawLine(c + QPointF(-arm, -arm), c + QPointF(arm, arm));
        p.drawLine(c + QPointF(-arm, arm), c + QPointF(arm, -arm));
    }
};

// The add button: the plus symbol in an 18-point square, no bezel.
class AddButton final : public QAbstractButton {
public:
    explicit AddButton(QWidget* parent) : QAbstractButton(parent) {
        setFixedSize(18, 18);
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("Add a color zone"));
        setAccessibleName(QStringLiteral("Add a color zone"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QColor ink = palette().color(QPalette::Active, QPalette::WindowText);
        ink.setAlphaF(!isEnabled() ? 0.3f : isDown() ? 0.5f : 0.85f);
        paintSymbol(p, QRectF(rect()).adjusted(2, 2, -2, -2), "plus", ink);
    }
};

}  // namespace

// ---- swatch ----

ZoneSwatch::ZoneSwatch(ColorSection& section, int index, Binding<Color> colour, QWidget* parent)
    : QWidget(parent), section_(section), index_(index) {
    well_ = new ColorWell(std::move(colour), false, this);
    well_->setAccessibleName(QStringLiteral("Zone %1 color").arg(index + 1));
    well_->move(0, kSwatchPad);
    setFixedSize(well_->width() + kSwatchPad, well_->height() + kSwatchPad);
    remove_ = new RemoveButton(this);
    remove_->move(well_->width() + 4 - kRemoveSize, kSwatchPad - 4);
    remove_->hide();
    QObject::connect(remove_, &QAbstractButton::clicked, this, [this] { section_.removeZone(index_); });
}

std::unique_ptr<QMenu> ZoneSwatch::contextMenu() {
    auto menu = std::make_unique<QMenu>();
    if (section_.shownSwatches().size() >= 2) {
        QAction* remove = menu->addAction(QStringLiteral("Remove Color"));
        QObject::connect(remove, &QAction::triggered, this, [this] { section_.removeZone(index_); });
    }
    return menu;
}

void ZoneSwatch::enterEvent(QEnterEvent* event) {
    section_.swatchEntered(index_);
    QWidget::enterEvent(event);
}

void ZoneSwatch::leaveEvent(QEvent* event) {
    section_.swatchLeft(index_);
    QWidget::leaveEvent(event);
}

void ZoneSwatch::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu = contextMenu();
    if (!menu->isEmpty()) menu->exec(event->globalPos());
}

// ---- section ----

ColorSection::ColorSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : SettingsRow(parent), settings_(settings), loop_(loop) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    multicolor_ =
        new SettingsToggleRow(QStringLiteral("Multicolor"),
                              {[&settings] { return settings.overlayColorZones().multicolorEnabled; },
                               [&settings, &loop](bool on) {
                                   loop.post([&settings, on] {
                                       if (!on) closeSharedColorPanel();
                                       settings.setMulticolorEnabled(on);
                                   });
                               }},
                              {}, nullptr, this);
    column->addWidget(multicolor_);
    autoSampleCaption_ =
        new SettingsCaptionRow(QStringLiteral("Turn off Auto-sample to use Multicolor."), this);
    column->addWidget(autoSampleCaption_);

    previewBlock_ = new QWidget(this);
    auto* previewPad = new QVBoxLayout(previewBlock_);
    previewPad->setContentsMargins(0, 10, 0, 10);
    preview_ = new MenuBarPreview(loop, previewBlock_);
    previewPad->addWidget(preview_);
    column->addWidget(previewBlock_);

    editor_ = new QWidget(this);
    auto* editorColumn = new QVBoxLayout(editor_);
    editorColumn->setContentsMargins(0, 0, 0, 0);
    editorColumn->setSpacing(0);
    strip_ = new QWidget(editor_);
    auto* stripRow = new QHBoxLayout(strip_);
    stripRow->setContentsMargins(0, 10, 0, 10);
    stripRow->setSpacing(6);
    add_ = new AddButton(strip_);
    QObject::connect(add_, &QAbstractButton::clicked, this, [this] { addZone(); });
    stripRow->addWidget(add_, 0, Qt::AlignVCenter);
    stripRow->addStretch(1);
    applyDisabledDim(strip_, 0.4);
    editorColumn->addWidget(strip_);
    editorColumn->addWidget(new SettingsHairline(editor_));
    blend_ = new SettingsToggleRow(QStringLiteral("Gradient transition"),
                                   {[&settings] { return settings.overlayColorZones().blend; },
                                    [&settings, &loop](bool on) {
                                        loop.post([&settings, on] {
                                            OverlayColorZones zones = settings.overlayColorZones();
                                            zones.blend = on;
                                            settings.overlayColorZones = zones;
                                        });
                                    }},
                                   {}, nullptr, editor_);
    editorColumn->addWidget(blend_);
    auto* width = new SettingsSliderRow(
        loop, QStringLiteral("Transition width"),
        {[&settings] { return settings.overlayColorZones().transitionWidth; },
         [&settings](double width) {
             OverlayColorZones zones = settings.overlayColorZones();
             zones.transitionWidth = width;
             settings.overlayColorZones = zones;
         }},
        {transitionWidthBounds.lo, transitionWidthBounds.hi}, 1.0,
        SettingsSliderRow::Options::showing(
            [&settings] { return roundedPercentText(settings.overlayColorZones().transitionWidth); }, 0.05));
    widthBlock_ = rowStack(editor_, {new SettingsHairline, width});
    editorColumn->addWidget(widthBlock_);
    caption_ = new SettingsCaptionRow({}, editor_);
    editorColumn->addWidget(caption_);
    column->addWidget(editor_);
    refresh();
}

std::size_t ColorSection::stopCount() const {
    return settings_.overlayColorZones().stops.size();
}

std::size_t ColorSection::colourCount() const {
    return settings_.colorZoneColors().size();
}

void ColorSection::refresh() {
    const OverlayColorZones& zones = settings_.overlayColorZones();
    const bool autoSample = settings_.autoSample();
    const std::size_t stops = zones.stops.size();
    const std::size_t colours = colourCount();

    multicolor_->setEnabled(!autoSample);
    multicolor_->setHint(autoSample ? QStringLiteral("Turn off Auto-sample first") : QString());
    autoSampleCaption_->setVisible(autoSample);
    previewBlock_->setVisible(zones.multicolorEnabled);
    editor_->setVisible(zones.multicolorEnabled);
    editor_->setEnabled(!autoSample);

    MenuBarPreview::Inputs in;
    in.style = MenuBarStyle::solid;
    in.color = settings_.manualColor();
    in.opacity = settings_.overlayOpacity();
    in.styleOpacityFactor = settings_.blurEnabled() ? settings_.styleOpacityOverBlur() : 1.0;
    in.zoneColors = settings_.colorZoneColors();
    in.zoneBlend = zones.blend;
    in.zoneTransitionWidth = zones.transitionWidth;
    in.driftBlend = true;
    in.driftTransitionWidth = 1;
    preview_->setInputs(std::move(in));

    auto* stripRow = static_cast<QHBoxLayout*>(strip_->layout());
    while (swatches_.size() < stops) {
        const int index = int(swatches_.size());
        Binding<Color> colour{[this, index] {
                                  const auto& list = settings_.overlayColorZones().stops;
                                  if (std::size_t(index) >= list.size()) return Color::white();
                                  return colorFromHex(list[std::size_t(index)]).value_or(Color::white());
                              },
                              [this, index](Color picked) {
                                  loop_.post([&settings = settings_, index, hex = hexString(picked)] {
                                      OverlayColorZones next = settings.overlayColorZones();
                                      // The stop may have gone while the write waited.
                                      if (std::size_t(index) >= next.stops.size()) return;
                                      next.stops[std::size_t(index)] = hex;
                                      settings.overlayColorZones = next;
                                  });
                              }};
        auto* swatch = new ZoneSwatch(*this, index, std::move(colour), strip_);
        stripRow->insertWidget(index, swatch, 0, Qt::AlignVCenter);
        swatches_.push_back(swatch);
    }
    for (std::size_t i = 0; i < swatches_.size(); ++i) {
        swatches_[i]->setVisible(i < stops);
        swatches_[i]->well()->refresh();
    }
    add_->setEnabled(stops < maximumStops);

    blend_->setEnabled(colours >= 2);
    widthBlock_->setVisible(zones.blend && colours >= 2);
    if (colours >= 2)
        caption_->setText(zones.blend ? QStringLiteral("Colors blend smoothly across the bar, left to right.")
                                      : QStringLiteral("Colors fill equal-width zones, left to right."));
    else
        caption_->setText(QStringLiteral("Add colors to split the bar into left-to-right zones."));
    showHover();
}

void ColorSection::showHover() {
    const bool removable = stopCount() >= 2;
    for (ZoneSwatch* swatch : swatches_)
        swatch->removeButton()->setVisible(removable && hoveredZone_ == swatch->index());
}

void ColorSection::swatchEntered(int index) {
    hoveredZone_ = index;
    showHover();
}

void ColorSection::swatchLeft(int index) {
    if (hoveredZone_ != index) return;
    hoveredZone_.reset();
    showHover();
}

void ColorSection::addZone() {
    OverlayColorZones zones = settings_.overlayColorZones();
    if (!zones.multicolorEnabled || zones.stops.size() >= maximumStops || zones.stops.empty()) return;
    zones.stops.push_back(zones.stops.back());
    settings_.overlayColorZones = zones;
}

void ColorSection::removeZone(int index) {
    OverlayColorZones zones = settings_.overlayColorZones();
    if (!zones.multicolorEnabled || zones.stops.size() < 2) return;
    if (index < 0 || std::size_t(index) >= zones.stops.size()) return;
    // A panel opened from a swatch must not outlive its colour.
    closeSharedColorPanel();
    zones.stops.erase(zones.stops.begin() + index);
    settings_.overlayColorZones = zones;
}

std::vector<ZoneSwatch*> ColorSection::shownSwatches() const {
    std::vector<ZoneSwatch*> shown;
    const std::size_t stops = stopCount();
    for (std::size_t i = 0; i < swatches_.size() && i < stops; ++i) shown.push_back(swatches_[i]);
    return shown;
}

}  // namespace velaro
