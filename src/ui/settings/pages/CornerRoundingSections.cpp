// The Corner Rounding page's five sections.
#include "ui/settings/pages/CornerRoundingSections.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/OverlaySettings.h"
#include "ui/settings/kit/SettingsStyle.h"
#include "ui/settings/kit/SymbolIcon.h"
#include "ui/settings/pages/OverlayCornersSection.h"
#include "ui/settings/rings/RingOverlay.h"

namespace velaro {
namespace {

// The preview's area: the canvas and whatever lies over it, all at the area's full size, as tall as the
// canvas's shape asks for at the area's width.
class PreviewStack : public QWidget {
public:
    PreviewStack(WallpaperCanvas* canvas, QWidget* parent) : QWidget(parent), canvas_(canvas) {
        canvas_->setParent(this);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return canvas_->heightForWidth(width); }
    QSize sizeHint() const override { return canvas_->sizeHint(); }
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void resizeEvent(QResizeEvent*) override {
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) child->setGeometry(rect());
    }

private:
    WallpaperCanvas* canvas_;
};

}  // namespace

// ---- the editor ----

CornerRoundingSection::CornerRoundingSection(OverlaySettings& settings, MainLoop& loop,
                                             CornerPreviewServices services, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent),
      wallpaper_(loop, services.wallpaper, services.workspace),
      panelLink_(loop),
      canvas_(new WallpaperCanvas(services.screens)) {
    column()->setSpacing(14);
    preview_ = new PreviewStack(canvas_, this);
    // Over the picture, at its size: the rings.
    rings_ = new RingOverlay(settings, loop, router_, editState_, panelLink_, preview_);
    column()->addWidget(preview_);
    // The picture arrives through the model alone; the value is passed before the model stores it.
    imageWatch_ = wallpaper_.image.changes().sink(
        [this](const std::optional<QImage>& image) { canvas_->setImage(image); });
}

// The ring layer refers to the router, the edit state and the link, which go before the widgets do.
CornerRoundingSection::~CornerRoundingSection() {
    pageHidden();
    delete rings_;
}

void CornerRoundingSection::showEvent(QShowEvent* event) {
    OverlaySettingsPage::showEvent(event);
    pageShown();
}

void CornerRoundingSection::hideEvent(QHideEvent* event) {
    OverlaySettingsPage::hideEvent(event);
    pageHidden();
}

// Shown and hidden come in pairs per change of what the user sees; a repeated one changes nothing.
void CornerRoundingSection::pageShown() {
    if (shown_) return;
    shown_ = true;
    wallpaper_.start();
    router_.install(*preview_, ringRadiusReader(settings()),
                    ringRadiusApplier(settings(), loop(), editState_));
}

void CornerRoundingSection::pageHidden() {
    if (!shown_) return;
    shown_ = false;
    wallpaper_.stop();
    router_.uninstall();
    panelLink_.detach();
}

// ---- legend ----

const CornerHoverLegend::Entry CornerHoverLegend::entries[4] = {
    {"circle.dashed", "Radius",
     "Scroll over a ring or drag it to set the roundness — the number is the current value. Tap a ring to "
     "turn the corner on or off, or tap its center to type an exact radius."},
    {"arrowshape.up.fill", "Above / Behind",
     "Points up when the corner draws in front, down when it draws behind. Behind means the corner sits just "
     "above the wallpaper, under your app windows — for a top corner that also puts it under the top panel "
     "overlay. Tap it to switch. For a bottom corner set to Below active window the badge is dimmed and "
     "inactive — placement is controlled in the Bottom Corner Position section."},
    {"eyedropper.full", "Custom color", "Pick the corner's color. Black is the default."},
    {"link", "Link",
     "Link a row's two corners so they share all their settings — radius, color, on/off, opacity, and "
     "above/behind."},
};

CornerHoverLegend::CornerHoverLegend(MainLoop& loop, QWidget* parent) : SettingsPage(loop, parent) {
    auto* card = new SettingsCard;
    column()->addWidget(new SettingsSectionHeader(QStringLiteral("Hover controls")));
    column()->addWidget(card);
    card->addRow(new SettingsCaptionRow(
        QStringLiteral("Hover a corner in the preview above to reveal its ring and menu.")));

    QPalette quiet = palette();
    quiet.setColor(QPalette::WindowText, SettingsStyle::secondaryText(quiet));
    const QColor symbolColour = SettingsStyle::secondaryText(palette());
    for (int i = 0; i < 4; ++i) {
        const Entry& entry = entries[i];
        auto* row = new QWidget;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(16, 10, 16, 10);
        line->setSpacing(12);
        // The symbol's column keeps its width without a symbol, so the texts of all rows line up.
        auto* symbol = new QLabel(row);
        symbol->setFixedWidth(22);
        symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        if (hasSymbol(entry.symbol)) symbol->setPixmap(symbolIcon(entry.symbol, symbolColour).pixmap(14, 14));
        line->addWidget(symbol, 0, Qt::AlignTop);

        auto* texts = new QWidget(row);
        auto* stack = new QVBoxLayout(texts);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        auto* title = new QLabel(QString::fromUtf8(entry.title), texts);
        title->setFont(SettingsStyle::rowTitleFont());
        auto* text = new QLabel(QString::fromUtf8(entry.text), texts);
        text->setFont(SettingsStyle::caption2Font());
        text->setPalette(quiet);
        text->setWordWrap(true);
        stack->addWidget(title);
        stack->addWidget(text);
        line->addWidget(texts, 1);
        card->addHairline();
        card->addRow(row);
    }
}

// ---- opacity ----

CornerOpacitySection::CornerOpacitySection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent) {
    const auto makeGroup = [&](ScreenCorner left, ScreenCorner right, const char* pairTitle,
                               const char* leftTitle, const char* rightTitle) {
        Group g;
        g.pair = cornerOpacityRow(settings, loop, left, QString::fromUtf8(pairTitle));
        g.left = cornerOpacityRow(settings, loop, left, QString::fromUtf8(leftTitle));
        g.right = cornerOpacityRow(settings, loop, right, QString::fromUtf8(rightTitle));
        g.linked = rowStack(nullptr, {g.pair});
        g.unlinked = rowStack(nullptr, {g.left, new SettingsHairline, g.right});
        return g;
    };
    top_ = makeGroup(ScreenCorner::screenTopLeft, ScreenCorner::screenTopRight, "Top corners", "Top left",
                     "Top right");
    bottom_ = makeGroup(ScreenCorner::bottomLeft, ScreenCorner::bottomRight, "Bottom corners", "Bottom left",
                        "Bottom right");

    auto* card = new SettingsCard;
    column()->addWidget(new SettingsSectionHeader(QStringLiteral("Corner Opacity")));
    column()->addWidget(card);
    card->addRow(top_.linked);
    card->addRow(top_.unlinked);
    card->addRow(bottom_.linked);
    card->addRow(bottom_.unlinked);
    card->addRow(new SettingsCaptionRow(QStringLiteral(
        "Linked pairs share one slider — turn a corner on, then use its link badge on the preview to split "
        "them. The overlay's own corners have their opacity in Appearance ▸ Overlay Corners.")));
    follow(settings.objectWillChange());
    refreshPage();
}

SettingsSliderRow* CornerOpacitySection::row(ScreenCorner corner, bool linked) const {
    const Group& g = group(rowOf(corner));
    if (linked) return g.pair;
    return corner == ScreenCorner::screenTopRight || corner == ScreenCorner::bottomRight ? g.right : g.left;
}

QWidget* CornerOpacitySection::linkedRows(CornerRow row) const {
    return group(row).linked;
}

QWidget* CornerOpacitySection::unlinkedRows(CornerRow row) const {
    return group(row).unlinked;
}

void CornerOpacitySection::refreshPage() {
    const CornerSettings& c = settings().corners();
    top_.linked->setVisible(c.screenTopLinked);
    top_.unlinked->setVisible(!c.screenTopLinked);
    bottom_.linked->setVisible(c.bottomLinked);
    bottom_.unlinked->setVisible(!c.bottomLinked);
}

// ---- position ----

namespace {

const SettingsOptions<std::string>& positionOptions() {
    static const SettingsOptions<std::string> options{{"above", QStringLiteral("Above app windows")},
                                                      {"belowActive", QStringLiteral("Below active window")},
                                                      {"wallpaper", QStringLiteral("Above wallpaper")}};
    return options;
}

}  // namespace

void BottomCornerPositionSection::choose(OverlaySettings& settings, MainLoop& loop, ScreenCorner corner,
                                         const std::string& value) {
    if (const auto z = fromString<BottomCornerZ>(value)) deferSetBottomCornerZ(settings, loop, corner, *z);
}

BottomCornerPositionSection::BottomCornerPositionSection(OverlaySettings& settings, MainLoop& loop,
                                                         QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent) {
    const auto picker = [&](ScreenCorner corner, const char* title) -> SettingsChoiceRow* {
        return new SettingsPickerRow<std::string>(
            QString::fromUtf8(title),
            {[&settings, corner] {
                 return std::string(toString(corner == ScreenCorner::bottomRight
                                                 ? settings.cornerBottomRightZ()
                                                 : settings.cornerBottomLeftZ()));
             },
             [&settings, &loop, corner](std::string value) { choose(settings, loop, corner, value); }},
            positionOptions());
    };
    pair_ = picker(ScreenCorner::bottomLeft, "Bottom corners");
    auto* left = picker(ScreenCorner::bottomLeft, "Bottom left");
    auto* right = picker(ScreenCorner::bottomRight, "Bottom right");
    unlinked_ = rowStack(nullptr, {left, new SettingsHairline, right});

    auto* card = new SettingsCard;
    column()->addWidget(new SettingsSectionHeader(QStringLiteral("Bottom Corner Position")));
    column()->addWidget(card);
    card->addRow(pair_);
    card->addRow(unlinked_);
    follow(settings.objectWillChange());
    refreshPage();
}

void BottomCornerPositionSection::refreshPage() {
    const bool linked = settings().corners().bottomLinked;
    pair_->setVisible(linked);
    unlinked_->setVisible(!linked);
}

// ---- stroke ----

void CornerStrokeSection::setStroke(OverlaySettings& settings, bool on) {
    if (settings.corners().arcStrokeEnabled == on) return;
    CornerSettings changed = settings.corners();
    changed.arcStrokeEnabled = on;
    // The record's own change handler persists it.
    settings.corners = changed;
}

CornerStrokeSection::CornerStrokeSection(OverlaySettings& settings, MainLoop& loop, QWidget* parent)
    : OverlaySettingsPage(settings, loop, parent) {
    auto* stroke = new SettingsToggleRow(
        QStringLiteral("Add corner stroke"),
        {[&settings] { return settings.corners().arcStrokeEnabled; },
         [&settings](bool on) { setStroke(settings, on); }},
        QStringLiteral(
            "Draws a hairline along a rounded corner, so the screen's edge reads as continuous through it."),
        new SettingsBetaBadge);
    auto* card = new SettingsCard;
    column()->addWidget(new SettingsSectionHeader(QStringLiteral("Corner Stroke")));
    column()->addWidget(card);
    card->addRow(stroke);
    card->addRow(
        new SettingsCaptionRow(QStringLiteral("Nothing appears until a corner on this page is switched on, "
                                              "has a radius, and is set to draw above.")));
    follow(settings.objectWillChange());
}

}  // namespace velaro
