// The welcome page's artwork, headline and entrance.
#include "onboarding/WelcomePage.h"

#include <QPainter>

#include "onboarding/TourPainting.h"
#include "onboarding/TourPalette.h"

namespace velaro {

namespace {

constexpr QSizeF kPage{750, 500};

// The smallest rectangle (in points) holding every visible pixel of an image drawn over the page.
QRectF visibleBounds(const QImage& image) {
    if (image.isNull()) return {};
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int left = argb.width(), right = -1, top = argb.height(), bottom = -1;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(row[x]) == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return {};
    const qreal s = image.devicePixelRatio();
    return QRectF(left / s, top / s, (right - left + 1) / s, (bottom - top + 1) / s);
}

}  // namespace

WelcomeArt::WelcomeArt(qreal scale) : scale_(scale) {
    backdrop_ = tour::artwork(QStringLiteral("TourWelcomeBackdrop"), kPage, scale);
    // The logo artwork spans the page; only the part that shows is blurred while it comes in.
    const QImage logo = tour::artwork(QStringLiteral("TourWelcomeLogo"), kPage, scale);
    if (const QRectF bounds = visibleBounds(logo); !bounds.isEmpty())
        logo_ = tour::renderPiece(bounds, scale, [&](QPainter& p) { p.drawImage(QPointF(0, 0), logo); });
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QString text = QString::fromUtf8(lines[i]);
        QImage probe(1, 1, QImage::Format_ARGB32_Premultiplied);
        const QRectF frame = tour::lineFrame(probe, text, tour::welcomeFont, 0, references[i]);
        // Centred across the page.
        const double x = (kPage.width() - frame.width()) / 2;
        lines_[i] = tour::renderPiece(frame.translated(x, 0), scale, [&](QPainter& p) {
            tour::drawLine(p, text, tour::welcomeFont, x, references[i], tour::text);
        });
    }
}

void WelcomeArt::paint(QPainter& painter, const std::array<double, 4>& progress) const {
    if (!backdrop_.isNull()) painter.drawImage(QRectF(QPointF(0, 0), kPage), backdrop_);
    tour::paintEntrance(painter, logo_, progress[0]);
    for (std::size_t i = 0; i < lines_.size(); ++i) tour::paintEntrance(painter, lines_[i], progress[i + 1]);
}

WelcomePage::WelcomePage(MainLoop& loop, bool reduceMotion, QWidget* parent) : QWidget(parent) {
    setFixedSize(750, 500);
    setAccessibleName(QStringLiteral("Turn your top panel into a living part of your desktop."));
    for (auto& entrance : entrances_) {
        entrance = std::make_unique<tour::Entrance>(loop);
        entrance->setOnChange([this] { update(); });
    }
    // The logo first, then the lines a little apart.
    entrances_[0]->show(!reduceMotion);
    for (std::size_t i = 1; i < entrances_.size(); ++i)
        entrances_[i]->show(!reduceMotion, 0.25 + 0.15 * double(i - 1));
}

WelcomePage::~WelcomePage() = default;

void WelcomePage::paintEvent(QPaintEvent*) {
    if (!art_ || art_->scale() != devicePixelRatioF()) art_.emplace(devicePixelRatioF());
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    art_->paint(painter, {entrances_[0]->progress(), entrances_[1]->progress(), entrances_[2]->progress(),
                          entrances_[3]->progress()});
}

}  // namespace velaro
