// Polling of the tour's capability model.
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
    : watch_(permissions), loop_(loop), becameActive_(std::move(becameActive)) {}

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

}  // namespace velaro
