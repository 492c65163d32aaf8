// The wallpaper preview's model, digest, canvas and stand-in.
#include "ui/settings/rings/WallpaperPreview.h"

#include <QEvent>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/MainLoop.h"
#include "platform/Screens.h"
#include "platform/Workspace.h"
#include "sampling/WallpaperSnapshot.h"
#include "ui/settings/kit/SettingsStyle.h"

namespace velaro {
namespace {

constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

void mix(std::uint64_t& hash, const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= kFnvPrime;
    }
}

void mix(std::uint64_t& hash, std::uint32_t value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    mix(hash, bytes, 4);
}

}  // namespace

// Sampling single bytes at a stride that is a multiple of the pixel size would read one channel only, so
// two wallpapers of different solid colours would look the same: whole pixels are read instead.
std::optional<std::uint64_t> wallpaperDigest(const QImage& image) {
    if (image.isNull() || image.depth() != 32) return std::nullopt;
    const unsigned char* bytes = image.constBits();
    if (!bytes) return std::nullopt;
    const auto length = static_cast<std::size_t>(image.sizeInBytes());
    std::uint64_t hash = kFnvOffsetBasis;
    mix(hash, static_cast<std::uint32_t>(image.width()));
    mix(hash, static_cast<std::uint32_t>(image.height()));
    constexpr std::size_t kStride = 16 * 4;
    for (std::size_t at = 0; at + 4 <= length; at += kStride) mix(hash, bytes + at, 4);
    return hash;
}

// ---- model ----

WallpaperPreviewModel::WallpaperPreviewModel(MainLoop& loop, WallpaperPictureSource* pictures,
                                             Workspace* workspace)
    : loop_(loop), pictures_(pictures), workspace_(workspace), changeReload_(loop, [this] {
          if (isStarted()) reload();
      }) {}

// Pictures still on their way find the model gone; the watches end with their handles.
WallpaperPreviewModel::~WallpaperPreviewModel() {
    lifetime_.end();
}

void WallpaperPreviewModel::start() {
    if (isStarted()) return;
    started_ = true;
    // A wallpaper setter names its picture in two properties at once: one picture for both notices.
    if (pictures_)
        changeObserver_ =
            pictures_->wallpaperChanged().sink(lifetime_.guard([this](int) { changeReload_.schedule(); }));
    if (workspace_) {
        spaceObserver_ = workspace_->events()
                             .filter([](const WorkspaceEvent& e) {
                                 return e.kind == WorkspaceEvent::Kind::activeSpaceDidChange;
                             })
                             .sink(lifetime_.guard([this](const WorkspaceEvent&) { reload(); }));
    }
    reload();
}

void WallpaperPreviewModel::stop() {
    started_ = false;
    changeObserver_.cancel();
    spaceObserver_.cancel();
    ++loadGeneration_;
}

void WallpaperPreviewModel::reload() {
    ++loadGeneration_;
    load();
}

// Loads are never cancelled: each carries the generation it was asked under, and only the newest counts.
void WallpaperPreviewModel::load() {
    const std::uint64_t generation = loadGeneration_;
    auto done = lifetime_.guard(
        [this, generation](std::optional<QImage> picture) { finishLoad(generation, std::move(picture)); });
    if (!pictures_) {
        loop_.post([done]() mutable { done(std::nullopt); });
        return;
    }
    pictures_->captureWallpaperImage(pictureSize, false, std::move(done));
}

void WallpaperPreviewModel::finishLoad(std::uint64_t generation, std::optional<QImage> picture) {
    if (generation != loadGeneration_ || !isStarted()) return;
    if (!picture || picture->isNull()) {
        publishedDigest_.reset();
        if (image()) image = std::nullopt;
        return;
    }
    // A picture without a digest cannot be shown to be unchanged: it is always published.
    const auto digest = wallpaperDigest(*picture);
    if (digest && publishedDigest_ && *digest == *publishedDigest_) return;
    publishedDigest_ = digest;
    image = std::move(picture);
}

// ---- canvas ----

double mainScreenAspect(const Screens* screens) {
    constexpr double kFallback = 1.6;
    if (!screens) return kFallback;
    const auto main = screens->mainScreen();
    if (!main) return kFallback;
    const double w = main->frame.width(), h = main->frame.height();
    // A screen without a usable size would give no shape (or an infinite one).
    if (!(h > 0) || !(w > 0) || !std::isfinite(w / h)) return kFallback;
    return w / h;
}

void paintCanvasFallback(QPainter& painter, const QSizeF& size) {
    const QRectF area(QPointF(0, 0), size);
    QLinearGradient shade(area.topLeft(), area.bottomLeft());
    shade.setColorAt(0, QColor::fromRgbF(0.16f, 0.16f, 0.16f));
    shade.setColorAt(1, QColor::fromRgbF(0.09f, 0.09f, 0.09f));
    painter.fillRect(area, shade);
    if (size.width() <= 9 || size.height() <= 9) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.1f));
    for (double y = 9; y < size.height(); y += 18)
        for (double x = 9; x < size.width(); x += 18) painter.drawEllipse(QPointF(x, y), 0.75, 0.75);
    painter.restore();
}

WallpaperCanvas::WallpaperCanvas(const Screens* screens, QWidget* parent)
    : QWidget(parent), screens_(screens), aspect_(mainScreenAspect(screens)) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    if (screens_) {
        screensWatch_ = screens_->parametersChanged().sink([this](int) {
            const double aspect = mainScreenAspect(screens_);
            if (aspect == aspect_) return;
            aspect_ = aspect;
            updateGeometry();
        });
    }
}

void WallpaperCanvas::setImage(std::optional<QImage> image) {
    if (image && image->isNull()) image.reset();
    image_ = std::move(image);
    stale_ = true;
    update();
}

int WallpaperCanvas::heightForWidth(int width) const {
    return std::max(1, static_cast<int>(std::lround(width / aspect_)));
}

QSize WallpaperCanvas::sizeHint() const {
    constexpr int kWidth = 460;
    return {kWidth, heightForWidth(kWidth)};
}

void WallpaperCanvas::render(QImage& target, const std::optional<QImage>& image, const QColor& separator) {
    target.fill(Qt::transparent);
    const double ratio = target.devicePixelRatio();
    const QSizeF size(target.width() / ratio, target.height() / ratio);
    const QRectF area(QPointF(0, 0), size);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(area, cornerRadius, cornerRadius);
    painter.setClipPath(shape);
    if (image && image->width() > 0 && image->height() > 0) {
        // Fill: the picture scaled to cover the whole area, centred, its overhang cut off.
        const double scale = std::max(size.width() / image->width(), size.height() / image->height());
        const QSizeF shown(size.width() / scale, size.height() / scale);
        const QRectF source(
            QPointF((image->width() - shown.width()) / 2, (image->height() - shown.height()) / 2), shown);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(area, *image, source);
    } else {
        paintCanvasFallback(painter, size);
    }
    painter.setClipping(false);
    // The border lies inside the edge: the shape inset by half the line.
    painter.setPen(QPen(separator, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);
}

void WallpaperCanvas::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, qRound(width() * ratio)), std::max(1, qRound(height() * ratio)));
    if (stale_ || rendered_.size() != pixels || rendered_.devicePixelRatio() != ratio) {
        rendered_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        rendered_.setDevicePixelRatio(ratio);
        render(rendered_, image_, SettingsStyle::hairlineColor(palette()));
        stale_ = false;
    }
    QPainter painter(this);
    paintRendered(painter, rendered_, event->rect());
}

void WallpaperCanvas::paintRendered(QPainter& painter, const QImage& rendered, const QRect& dirty) {
    const qreal ratio = rendered.devicePixelRatio();
    painter.drawImage(
        QRectF(dirty), rendered,
        QRectF(dirty.x() * ratio, dirty.y() * ratio, dirty.width() * ratio, dirty.height() * ratio));
}

void WallpaperCanvas::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        stale_ = true;
        update();
    }
    QWidget::changeEvent(event);
}

}  // namespace velaro
