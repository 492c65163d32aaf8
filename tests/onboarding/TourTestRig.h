// The tour's root view over fakes and the virtual loop: settings on an in-memory store, a login item, the
// permissions the test grants, and an activation stream the test sends.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <memory>
#include <variant>

#include "app/LoginItemManager.h"
#include "base/Published.h"
#include "onboarding/OnboardingRootView.h"
#include "settings/OverlaySettings.h"
#include "support/FakeDefaultsStore.h"
#include "support/FakeLoginItem.h"
#include "support/FakePermissions.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

struct TourRig {
    VirtualLoop loop;
    FakeDefaultsStore defaults;
    std::unique_ptr<OverlaySettings> settings = std::make_unique<OverlaySettings>(defaults, loop);
    FakeLoginItem loginService;
    LoginItemManager loginItem{loginService};
    FakePermissions permissions;
    PassthroughSubject<std::monostate> activation;
    int runtimeStarts = 0;
    int finishes = 0;
    int settingsOpened = 0;
    std::unique_ptr<OnboardingRootView> view;

    OnboardingRootView& open(OnboardingStep step = OnboardingStep::welcome, bool persists = true,
                             bool reduceMotion = false) {
        view = std::make_unique<OnboardingRootView>(OnboardingRootView::Model{
            .settings = *settings,
            .loginItem = {loginItem.isEnabled(), [this](bool on) { loginItem.setEnabled(on); }},
            .permissions = permissions,
            .loop = loop,
            .openSettings = [this] { ++settingsOpened; },
            .finish = [this] { ++finishes; },
            .startRuntime = [this] { ++runtimeStarts; },
            .step = step,
            .persistsProgress = persists,
            .reduceMotion = reduceMotion,
            .becameActive = activation.stream(),
        });
        return *view;
    }

    std::optional<std::int64_t> storedStep() const { return defaults.integerValue(onboardingStepKey); }
};

// A widget drawn offscreen at a pixel ratio, as the screen would show it.
inline QImage render(QWidget& widget, qreal scale = 1.0) {
    QImage image((QSizeF(widget.size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::black);
    widget.render(&image);
    return image;
}

// The colour at a point in widget points.
inline QColor pixelAt(const QImage& image, QPointF point) {
    const qreal s = image.devicePixelRatio();
    return image.pixelColor(int(point.x() * s), int(point.y() * s));
}

inline bool near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace velaro::test
