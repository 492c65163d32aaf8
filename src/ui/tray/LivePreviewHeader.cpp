// The popover's status row and preview.
#include "ui/tray/LivePreviewHeader.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "overlay/BarFillStyles.h"
#include "sampling/AppWatcher.h"
#include "sampling/ScreenSampler.h"
#include "settings/OverlaySettings.h"
#include "ui/settings/kit/FlatGroupBox.h"
#include "ui/settings/kit/PreviewColors.h"
#include "ui/settings/kit/StyleOpacityControls.h"
#include "ui/settings/kit/SymbolIcon.h"

namespace velaro::LivePreviewHeader {
namespace {

bool zonesShown(const OverlaySettings& s) {
    return s.overlayColorZones().multicolorEnabled && !s.autoSample() && s.style() == MenuBarStyle::solid;
}

QFont scaled(QFont font, double factor, QFont::Weight weight = QFont::Normal) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

// The stand-in for an app without an icon: a dashed rounded square.
QImage dashedAppImage() {
    const QIcon themed = symbolIcon("app.dashed");
    if (!themed.isNull()) return themed.pixmap(StatusRow::iconSize, StatusRow::iconSize).toImage();
    QImage image(StatusRow::iconSize, StatusRow::iconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(128, 128, 128), 1.5, Qt::DashLine));
    p.drawRoundedRect(QRectF(3, 3, StatusRow::iconSize - 6, StatusRow::iconSize - 6), 6, 6);
    return image;
}

}  // namespace

StatusWord statusWord(bool masterEnabled, bool filledWindowActive) {
    if (!masterEnabled) return {"Disabled", false};
    if (filledWindowActive) return {"Filled screen", true};
    return {"Windowed", false};
}

Color previewColor(ScreenSampler& sampler, const OverlaySettings& settings) {
    return settings.effectiveColor(sampledPreviewColor(sampler));
}

std::vector<Color> previewZoneColors(ScreenSampler& sampler, const OverlaySettings& settings) {
    if (!settings.isSamplingActive()) return {};
    return livePreviewFeed(sampler).feed.zoneColors();
}

std::string previewHexText(ScreenSampler& sampler, const OverlaySettings& settings) {
    if (settings.isHueDriftEffective()) {
        const auto& stops = settings.hueDrift().effectivePaletteStops();
        if (!stops.empty()) return stops.front();
    }
    if (zonesShown(settings)) {
        const auto& stops = settings.overlayColorZones().stops;
        if (!stops.empty()) return stops.front();
    }
    return hexString(previewColor(sampler, settings));
}

std::string previewCaption(ScreenSampler& sampler, const OverlaySettings& settings) {
    return std::string(styleLabel(settings.style())) + " • " + previewHexText(sampler, settings);
}

MenuBarPreview::Inputs previewInputs(ScreenSampler& sampler, const OverlaySettings& s) {
    const LivePreviewFeed live = livePreviewFeed(sampler);
    const Color color = s.effectiveColor(live.feed.dominantColor());
    MenuBarPreview::Inputs in;
    in.style = s.style();
    in.color = color;
    in.colorStrip = previewZoneColors(sampler, s);
    in.opacity = s.overlayOpacity();
    in.gradientTopColor = s.gradientTopFollowsSample() && s.autoSample() ? color : s.gradientTopColor();
    in.gradientBottomColor =
        s.gradientBottomFollowsSample() && s.autoSample() ? color : s.gradientBottomColor();
    in.gradientTopOpacity = s.gradientTopOpacity();
    in.gradientBottomOpacity = s.gradientBottomOpacity();
    in.liveLine = live.feed.liveLine();
    if (s.blurEnabled()) in.blurBackdrop = live.feed.blurredBackdropImage();
    in.styleOpacityFactor = s.blurEnabled() ? s.styleOpacityOverBlur() : 1.0;
    if (zonesShown(s)) in.zoneColors = s.colorZoneColors();
    in.zoneBlend = s.overlayColorZones().blend;
    in.zoneTransitionWidth = s.overlayColorZones().transitionWidth;
    in.driftPattern = hueDriftPreviewColors(s);
    const bool scroll = s.hueDrift().variant == OverlayHueDrift::Variant::scroll;
    in.driftBlend = scroll ? s.hueDrift().blend : true;
    in.driftTransitionWidth = scroll ? s.hueDrift().transitionWidth : 1.0;
    return in;
}

ModelWatch::ModelWatch(MainLoop& loop, ScreenSampler& sampler, const OverlaySettings& settings,
                       const AppWatcher& appWatcher, std::function<void()> refresh)
    : refresh_(loop, std::move(refresh)) {
    const auto changed = [this] { refresh_.schedule(); };
    // The live channel may come and go; the sampler's pulse marks every fresh publication of its colours.
    subscriptions_ = livePreviewFeed(sampler).feed.subscribe(changed);
    subscriptions_.push_back(sampler.colorPulse.changes().sink([changed](const auto&) { changed(); }));
    subscriptions_.push_back(settings.objectWillChange().sink([changed](const auto&) { changed(); }));
    subscriptions_.push_back(appWatcher.activeAppName.changes().sink([changed](const auto&) { changed(); }));
    subscriptions_.push_back(appWatcher.activeAppIcon.changes().sink([changed](const auto&) { changed(); }));
    subscriptions_.push_back(appWatcher.activeAppId.changes().sink([changed](const auto&) { changed(); }));
}

// ---- status row ----

StatusRow::StatusRow(ScreenSampler& sampler, OverlaySettings& settings, AppWatcher& appWatcher,
                     MainLoop& loop, QWidget* parent)
    : QWidget(parent),
      sampler_(sampler),
      settings_(settings),
      appWatcher_(appWatcher),
      watch_(loop, sampler, settings, appWatcher, [this] { refresh(); }) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(11, 11, 11 + swatchSize + 12, 11);
    row->setSpacing(12);
    icon_ = new QLabel(this);
    icon_->setFixedSize(iconSize, iconSize);
    row->addWidget(icon_);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    name_ = new QLabel(this);
    name_->setFont(scaled(name_->font(), 0.92, QFont::Medium));
    name_->setTextFormat(Qt::PlainText);
    name_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    lines->addWidget(name_);
    status_ = new QLabel(this);
    status_->setFont(scaled(status_->font(), 0.75));
    lines->addWidget(status_);
    row->addLayout(lines);
    row->addStretch(1);
    refresh();
}

QImage StatusRow::appIcon() const {
    const auto& icon = appWatcher_.activeAppIcon();
    if (icon && !icon->isNull()) return *icon;
    return dashedAppImage();
}

void StatusRow::refresh() {
    const auto& name = appWatcher_.activeAppName();
    name_->setText(name ? QString::fromStdString(*name) : QStringLiteral("—"));
    word_ = statusWord(settings_.masterEnabled(), sampler_.isFilledWindowActive());
    status_->setText(QString::fromUtf8(word_.text.data(), static_cast<qsizetype>(word_.text.size())));
    QPalette pal = status_->palette();
    pal.setColor(QPalette::WindowText,
                 word_.green ? QColor(52, 199, 89) : palette().color(QPalette::PlaceholderText));
    status_->setPalette(pal);
    swatch_ = sampledPreviewColor(sampler_);

    // Clipped to a rounded square, as app icons are shown here.
    QImage rounded(iconSize, iconSize, QImage::Format_ARGB32_Premultiplied);
    rounded.fill(Qt::transparent);
    QPainter p(&rounded);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, iconSize, iconSize), 7, 7);
    p.setClipPath(clip);
    p.drawImage(QRectF(0, 0, iconSize, iconSize), appIcon());
    p.end();
    icon_->setPixmap(QPixmap::fromImage(rounded));
    update();
}

void StatusRow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12, 12);
    p.fillPath(card, palette().color(QPalette::AlternateBase));
    const QRectF swatch(width() - 11 - swatchSize, (height() - swatchSize) / 2.0, swatchSize, swatchSize);
    QPainterPath well;
    well.addRoundedRect(swatch, 4, 4);
    p.fillPath(well, toQColor(swatch_));
    p.setPen(QPen(QColor(255, 255, 255, 51), 1));
    p.drawPath(well);
}

// ---- preview ----

Preview::Preview(ScreenSampler& sampler, OverlaySettings& settings, AppWatcher& appWatcher, MainLoop& loop,
                 QWidget* parent)
    : QWidget(parent),
      sampler_(sampler),
      settings_(settings),
      watch_(loop, sampler, settings, appWatcher, [this] { refresh(); }) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* box = new FlatGroupBox(QStringLiteral("Preview"), symbolIcon("eye.fill"), this);
    outer->addWidget(box);
    box->contentLayout()->setSpacing(10);
    bar_ = new MenuBarPreview(loop, box);
    box->contentLayout()->addWidget(bar_);
    caption_ = new QLabel(box);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(caption_->font().pointSizeF() * 0.85);
    caption_->setFont(mono);
    caption_->setForegroundRole(QPalette::PlaceholderText);
    box->contentLayout()->addWidget(caption_);
    refresh();
}

QString Preview::caption() const {
    return caption_->text();
}

void Preview::refresh() {
    bar_->setInputs(previewInputs(sampler_, settings_));
    caption_->setText(QString::fromStdString(previewCaption(sampler_, settings_)));
}

}  // namespace velaro::LivePreviewHeader
