// The real app's first launch in the test desktop: the tour window at its fixed size, its first moves stored
// in the settings file, and a session whose screen cannot be read keeping the band off until the tour closes.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <optional>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {
namespace {

// A point of the panel's free space, where the band's tint shows.
constexpr QPoint kPanelProbe(700, 4);

class TourTest : public ::testing::Test {
protected:
    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        if (!QFile::exists(binDir() + QStringLiteral("/velaro"))) GTEST_SKIP() << "the app is not built yet";
        ASSERT_TRUE(config.isValid());
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("600")});
    }
    void TearDown() override {
        if (app.state() == QProcess::NotRunning) return;
        app.terminate();
        if (!app.waitForFinished(5000)) {
            app.kill();
            app.waitForFinished(5000);
        }
    }

    // Starts the app with no stored settings (a first launch) in a session of `sessionType`.
    void launch(const QString& sessionType) {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        environment.insert(QStringLiteral("XDG_SESSION_TYPE"), sessionType);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(binDir() + QStringLiteral("/velaro"), {});
        ASSERT_TRUE(app.waitForStarted(10000));
        ASSERT_TRUE(waitUntil([&] { return !(window = tourWindow()).isEmpty(); }, std::chrono::seconds(20)))
            << "no window titled \"Welcome to Velaro\"";
    }

    QString tourWindow() const {
        const auto r =
            run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                            QStringLiteral("--name"), QStringLiteral("^Welcome to Velaro$")});
        return QString::fromLatin1(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).trimmed();
    }

    QSize windowSize() const {
        const auto r = run(QStringLiteral("xdotool"),
                           {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
        int w = 0, h = 0;
        for (const auto& line : QString::fromLatin1(r.out).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("WIDTH="))) w = line.mid(6).toInt();
            if (line.startsWith(QLatin1String("HEIGHT="))) h = line.mid(7).toInt();
        }
        return {w, h};
    }

    // Clicks a point of the tour's page.
    void clickPage(QPoint point) {
        run(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(point.x()),
             QString::number(point.y()), QStringLiteral("click"), QStringLiteral("1")});
    }

    std::optional<int> storedStep() const {
        QFile file(config.filePath(QStringLiteral("Velaro/defaults.json")));
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        const auto value =
            QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("onboardingStep"));
        if (!value.isDouble()) return std::nullopt;
        return value.toInt();
    }

    QTemporaryDir config;
    QProcess app;
    QString window;
};

TEST_F(TourTest, FirstLaunchOpensTheTourAtItsSizeAndStoresEachMove) {
    ASSERT_NO_FATAL_FAILURE(launch(QStringLiteral("x11")));
    ASSERT_TRUE(waitUntil([&] { return windowSize() == QSize(750, 500); }))
        << "size " << windowSize().width();

    // Another size asked of the window manager does not stick.
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowsize"), window, QStringLiteral("900"), QStringLiteral("700")});
    EXPECT_FALSE(waitUntil([&] { return windowSize() != QSize(750, 500); }, std::chrono::milliseconds(1500)))
        << "became " << windowSize().width() << "x" << windowSize().height();

    clickPage({372, 425});  // Let’s Start
    EXPECT_TRUE(waitUntil([&] { return storedStep() == 1; })) << "stored " << storedStep().value_or(-99);
    // The screen can be read in this session, so Next is enabled and leads to the first feature page.
    clickPage({642, 425});
    EXPECT_TRUE(waitUntil([&] { return storedStep() == 5; })) << "stored " << storedStep().value_or(-99);
}

TEST_F(TourTest, WithoutScreenCaptureTheBandWaitsUntilTheTourCloses) {
    const QColor colour(0x2e, 0xa0, 0x5a);
    // Another program's window of one colour, maximised under the panel.
    QProcess other;
    other.start(binDir() + QStringLiteral("/velaro-demo-window"), {colour.name()});
    ASSERT_TRUE(other.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return closeTo(screenshot().pixelColor(960, 540), colour, 4); }));

    ASSERT_NO_FATAL_FAILURE(launch(QStringLiteral("wayland")));
    // The app is up with its tour; the band stays off while the tour waits for the capture permission.
    EXPECT_FALSE(waitUntil([&] { return closeTo(screenshot().pixelColor(kPanelProbe), colour, 12); },
                           std::chrono::seconds(3)));

    requestClose(window.toUInt());
    ASSERT_TRUE(waitUntil([&] { return tourWindow().isEmpty(); })) << "the tour window stays open";
    const QImage shown =
        screenshotWhen([&](const QImage& shot) { return closeTo(shot.pixelColor(kPanelProbe), colour, 12); },
                       std::chrono::seconds(15));
    EXPECT_TRUE(closeTo(shown.pixelColor(kPanelProbe), colour, 12))
        << "band " << shown.pixelColor(kPanelProbe).name().toStdString();
    other.kill();
    other.waitForFinished(5000);
}

}  // namespace
}  // namespace velaro::e2e
