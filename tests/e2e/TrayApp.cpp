// Launching the app for a desktop test, finding its windows, and stopping it.
#include "e2e/TrayApp.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QSaveFile>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {

std::optional<QRect> windowGeometry(const QString& id) {
    const auto r =
        run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
    if (!r.finished || r.exitCode != 0) return std::nullopt;
    int x = 0, y = 0, w = 0, h = 0;
    for (const auto& line : QString::fromLatin1(r.out).split(QLatin1Char('\n'))) {
        const auto kv = line.split(QLatin1Char('='));
        if (kv.size() != 2) continue;
        const int v = kv[1].toInt();
        if (kv[0] == QLatin1String("X")) x = v;
        if (kv[0] == QLatin1String("Y")) y = v;
        if (kv[0] == QLatin1String("WIDTH")) w = v;
        if (kv[0] == QLatin1String("HEIGHT")) h = v;
    }
    return QRect(x, y, w, h);
}

std::vector<QRect> visibleWindows(const QStringList& search) {
    std::vector<QRect> out;
    QStringList args{QStringLiteral("search"), QStringLiteral("--onlyvisible")};
    args += search;
    const auto r = run(QStringLiteral("xdotool"), args);
    for (const auto& id : QString::fromLatin1(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (auto g = windowGeometry(id.trimmed())) out.push_back(*g);
    return out;
}

void pressKeys(const QStringList& keys) {
    run(QStringLiteral("xdotool"),
        QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} + keys);
}

void movePointer(QPoint to) {
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y())});
}

QString TrayApp::executable() {
    return binDir() + QStringLiteral("/velaro");
}

TrayApp::~TrayApp() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString TrayApp::settingsPath() const {
    return config_.filePath(QStringLiteral("Velaro/defaults.json"));
}

QJsonObject TrayApp::storedSettings() const {
    QFile file(settingsPath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool TrayApp::storeSetting(const QString& key, const QJsonValue& value) const {
    QJsonObject settings = storedSettings();
    settings.insert(key, value);
    QSaveFile file(settingsPath());
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(settings).toJson()) >= 0 && file.commit();
}

bool TrayApp::launch(const QByteArray& json, QString* why) {
    QDir(config_.path()).mkpath(QStringLiteral("Velaro"));
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size()) {
        *why = QStringLiteral("cannot write ") + settingsPath();
        return false;
    }
    file.close();

    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(environment_);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(program_, {});
    if (!process_.waitForStarted(10000)) {
        *why = QStringLiteral("the app did not start: ") + process_.errorString();
        return false;
    }
    // A pointer resting on the panel holds sampling (the hover pause is on by default), and an earlier
    // click on the icon leaves it there: start each case with it away from the panel.
    movePointer(awayFromPanel);
    pid_ = QString::number(process_.processId());
    if (!waitUntil([&] { return findIcon(); }, std::chrono::seconds(20))) {
        *why = QStringLiteral("the app put no icon in the tray (is the status item made at launch?)");
        return false;
    }
    return true;
}

// The app's small window inside the panel is its tray icon.
bool TrayApp::findIcon() {
    const auto icon = iconNow();
    if (icon) icon_ = *icon;
    return icon.has_value();
}

std::optional<QRect> TrayApp::iconNow() const {
    for (const QRect& g : visibleWindows({QStringLiteral("--pid"), pid_}))
        if (g.top() >= 0 && g.bottom() < panelHeight && g.width() <= panelHeight) return g;
    return std::nullopt;
}

std::optional<QRect> TrayApp::popupUnderPanel() const {
    for (const QRect& g : visibleWindows({QStringLiteral("--pid"), pid_}))
        if (g.top() >= panelHeight - 2 && g.top() <= panelHeight + 8 && g.width() > panelHeight) return g;
    return std::nullopt;
}

void TrayApp::rightClickIcon() const {
    click(icon_.center().x(), icon_.center().y(), 3);
}

}  // namespace velaro::e2e
