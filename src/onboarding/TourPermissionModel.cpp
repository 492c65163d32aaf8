// Polling and requests of the tour's permission model.
#include "onboarding/TourPermissionModel.h"

#include <QGuiApplication>
#include <QObject>

namespace velaro {

Stream<std::monostate> applicationBecameActive() {
    return Stream<std::monostate>([](Stream<std::monostate>::Sink sink) {
        auto* app = qGuiApp;
        if (!app) return Subscription();
        const auto connection = QObject::connect(app, &QGuiApplication::applicationStateChanged, app,
                                                 [sink](Qt::ApplicationState state) {
                                                     if (state == Qt::ApplicationActive) sink({});
                                                 });
        return Subscription([connection] { QObject::disconnect(connection); });
    });
}

TourPermissionModel::TourPermissionModel(Permissions& permissions, MainLoop& loop,
                                         Stream<std::monostate> becameActive)
    : permissions_(permissions),
      loop_(loop),
      becameActive_(std::move(becameActive)),
      screenRecordingGranted_(permissions.screenCaptureAllowed()),
      accessibilityGranted_(permissions.accessibilityTrusted()) {}

void TourPermissionModel::start() {
    ++consumers_;
    refresh();
    if (poll_.isActive()) return;
    // Both handlers belong to the model and end with it, so neither outlives it.
    poll_ = loop_.every(pollInterval, [this] { refresh(); });
    activation_ = becameActive_.sink([this](const std::monostate&) { refresh(); });
}

void TourPermissionModel::stop() {
    consumers_ = std::max(consumers_ - 1, 0);
    if (consumers_ > 0) return;
    poll_.cancel();
    activation_.cancel();
}

void TourPermissionModel::refresh() {
    const bool capture = permissions_.screenCaptureAllowed();
    if (capture != screenRecordingGranted_()) screenRecordingGranted_ = capture;
    const bool trusted = permissions_.accessibilityTrusted();
    if (trusted != accessibilityGranted_()) accessibilityGranted_ = trusted;
}

void TourPermissionModel::requestScreenRecording() {
    if (!screenRecordingAsked_()) {
        screenRecordingAsked_ = true;
        refresh();
        return;
    }
    permissions_.openPrivacyPane(PrivacyPane::screenCapture);
}

void TourPermissionModel::requestAccessibility() {
    permissions_.requestAccessibility();
    permissions_.openPrivacyPane(PrivacyPane::accessibility);
}

}  // namespace velaro
