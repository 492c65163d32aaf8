// The real app's first launch in the test desktop: the tour window at its fixed size, every move stored
// in the settings file up to the settings window, the whole tour walked from the keyboard, at scale 2 its
// size kept, only its close button asked for and full screen refused, a minimised tour in the taskbar and
// brought back by a second launch or the tray icon's click, the settings window kept out of the taskbar
// however often it is closed, and a session whose screen cannot be read keeping the band off until the tour
// closes.
#include <xcb/xcb.h>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstring>
#include <optional>

#include "e2e/E2eSupport.h"
#include "e2e/TrayApp.h"

namespace velaro::e2e {
namespace {

// A point of the panel's free space, where the band's tint shows.
constexpr QPoint kPanelProbe(700, 4);

// Asks the window manager to add a state to a window, as a pager or a shortcut of the window manager does.
void requestState(uint32_t window, const char* state) {
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    const auto atom = [x](const char* name) {
        auto* reply = xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return found;
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("_NET_WM_STATE");
    message.data.data32[0] = 1;  // add
    message.data.data32[1] = atom(state);
    message.data.data32[3] = 2;  // from a pager
    xcb_send_event(x, 0, xcb_setup_roots_iterator(xcb_get_setup(x)).data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(x);
    xcb_disconnect(x);
}

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

    // The stored corner record, decoded from its data value.
    QJsonObject storedCorners() const {
        QFile file(config.filePath(QStringLiteral("Velaro/defaults.json")));
        if (!file.open(QIODevice::ReadOnly)) return {};
        const auto value =
            QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("cornerSettings"));
        const QByteArray data =
            QByteArray::fromBase64(value.toObject().value(QStringLiteral("$data")).toString().toLatin1());
        return QJsonDocument::fromJson(data).object();
    }

    // The tour page as the screen shows it, in page points: the client window's own place, inside its frame.
    QImage page() const {
        const auto r = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
        int x = 0, y = 0;
        for (const auto& line : QString::fromLatin1(r.out).split(QLatin1Char('\n'))) {
            const QString t = line.trimmed();
            if (t.startsWith(QLatin1String("Absolute upper-left X:")))
                x = t.section(QLatin1Char(':'), 1).toInt();
            if (t.startsWith(QLatin1String("Absolute upper-left Y:")))
                y = t.section(QLatin1Char(':'), 1).toInt();
        }
        return screenshot().copy(x, y, 750, 500);
    }

    // Whether the window has the keyboard (the window manager's active window).
    bool active() const {
        return QString::fromLatin1(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).out)
                   .trimmed() == window;
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

TEST_F(TourTest, FirstLaunchOpensTheTourAtItsSizeStoresEachMoveAndEndsInTheSettings) {
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

    // On through the feature pages to All Set, whose "View Settings" card ends the tour in the settings.
    for (const int step : {6, 7, 8, 9, 10, 3}) {
        clickPage({642, 425});
        ASSERT_TRUE(waitUntil([&] { return storedStep() == step; }))
            << "stored " << storedStep().value_or(-99);
    }
    clickPage({533, 355});
    EXPECT_TRUE(waitUntil([&] { return storedStep() == 4; })) << "stored " << storedStep().value_or(-99);
    EXPECT_TRUE(waitUntil([&] { return tourWindow().isEmpty(); })) << "the tour window closes";
    EXPECT_TRUE(waitUntil([&] {
        return !run(QStringLiteral("xdotool"),
                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                     QStringLiteral("^Velaro Settings$")})
                    .out.trimmed()
                    .isEmpty();
    })) << "the settings window opens";
}

// Well and card of the feature pages, in page points.
const QRect kWell(393, 77, 281, 207);

// How many pixels of `rect` are the tour's orange.
int orangePixels(const QImage& image, const QRect& rect) {
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 200 && c.green() > 50 && c.green() < 150 && c.blue() < 60;
        }
    return count;
}

// How many sampled pixels of the well differ between two pictures of the page.
int wellChanges(const QImage& a, const QImage& b) {
    int changed = 0;
    for (int y = kWell.top(); y < kWell.bottom(); y += 4)
        for (int x = kWell.left(); x < kWell.right(); x += 4)
            changed += !closeTo(a.pixelColor(x, y), b.pixelColor(x, y), 6);
    return changed;
}

TEST_F(TourTest, FeaturePagesWriteTheirSettingsAndDoneEndsTheTour) {
    // A tour resumed on the overlay-shape page.
    QDir(config.path()).mkpath(QStringLiteral("Velaro"));
    QFile file(config.filePath(QStringLiteral("Velaro/defaults.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"onboardingStep": 5})");
    file.close();
    ASSERT_NO_FATAL_FAILURE(launch(QStringLiteral("x11")));

    // The shape page: the gradient headline on the dark ground and the card; its clip plays once, then rests.
    QImage resting;
    ASSERT_TRUE(waitUntil(
        [&] {
            const QImage a = page();
            QEventLoop wait;
            QTimer::singleShot(400, &wait, &QEventLoop::quit);
            wait.exec();
            resting = page();
            return wellChanges(a, resting) == 0;
        },
        std::chrono::seconds(12)))
        << "the clip never came to rest";
    EXPECT_GT(orangePixels(resting, QRect(69, 200, 300, 90)), 500) << "the gradient headline";
    EXPECT_LT(resting.pixelColor(30, 380).red(), 60) << "ground";
    QImage black(750, 500, QImage::Format_RGB32);
    black.fill(Qt::black);
    EXPECT_GT(wellChanges(resting, black), 100) << "the well shows its clip";

    clickPage({626, 322});  // the picker's "Pill" row
    EXPECT_TRUE(waitUntil([&] {
        return storedCorners().value(QStringLiteral("shapeMode")).toString() == "Pill";
    })) << "cornerSettings: "
        << QJsonDocument(storedCorners()).toJson().toStdString();
    EXPECT_TRUE(waitUntil([&] { return wellChanges(resting, page()) > 20; })) << "the pill clip plays";

    clickPage({642, 425});  // Next: rounded corners
    ASSERT_TRUE(waitUntil([&] { return storedStep() == 6; }));
    clickPage({642, 304});  // its switch, on by default
    EXPECT_TRUE(waitUntil([&] {
        const QJsonObject corners = storedCorners();
        return corners.value(QStringLiteral("bottomLeftEnabled")) == QJsonValue(false) &&
               corners.value(QStringLiteral("bottomRightEnabled")) == QJsonValue(false);
    })) << QJsonDocument(storedCorners()).toJson().toStdString();

    for (int step = 7; step <= 10; ++step) {
        clickPage({642, 425});
        ASSERT_TRUE(waitUntil([&] { return storedStep() == step; })) << step;
    }
    clickPage({642, 425});
    ASSERT_TRUE(waitUntil([&] { return storedStep() == 3; }));
    // All Set: its cards under the miniature bar, the login switch off.
    QImage shown;
    EXPECT_TRUE(waitUntil([&] { return orangePixels(shown = page(), QRect(480, 76, 60, 8)) > 300; }))
        << "the miniature bar";
    // The page's entrance may still be fading the switch in.
    EXPECT_TRUE(waitUntil([&] { return closeTo((shown = page()).pixelColor(637, 192), QColor(255, 255, 255), 30); }))
        << "login switch knob " << shown.pixelColor(637, 192).name().toStdString();

    clickPage({642, 425});  // Done
    EXPECT_TRUE(waitUntil([&] { return storedStep() == 4; }));
    EXPECT_TRUE(waitUntil([&] { return tourWindow().isEmpty(); })) << "Done closes the window";
}

// Whether the window asks the taskbar to leave it out.
bool skipsTaskbar(const QString& window) {
    return QString::fromLatin1(run(QStringLiteral("xprop"), {QStringLiteral("-id"), window,
                                                            QStringLiteral("_NET_WM_STATE")})
                                   .out)
        .contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR"));
}

TEST_F(TourTest, TheWholeTourFromTheKeyboardAlone) {
    ASSERT_NO_FATAL_FAILURE(launch(QStringLiteral("x11")));
    ASSERT_TRUE(waitUntil([&] { return active(); })) << "the tour opens with the keyboard";
    const auto reaches = [&](int step) {
        return waitUntil([&] { return storedStep() == step; });
    };

    pressKeys({QStringLiteral("Return")});  // Let’s Start
    ASSERT_TRUE(reaches(1)) << "stored " << storedStep().value_or(-99);
    pressKeys({QStringLiteral("Right")});  // Next: the screen can be read in this session
    ASSERT_TRUE(reaches(5)) << "stored " << storedStep().value_or(-99);

    // The shape page: its rows are the first Tab stops, and Space picks the focused one.
    pressKeys({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")});
    EXPECT_TRUE(waitUntil([&] {
        return storedCorners().value(QStringLiteral("shapeMode")).toString() == "Pill";
    })) << QJsonDocument(storedCorners()).toJson().toStdString();

    pressKeys({QStringLiteral("Right")});
    ASSERT_TRUE(reaches(6));
    pressKeys({QStringLiteral("Tab"), QStringLiteral("space")});  // the rounded corners' switch
    EXPECT_TRUE(waitUntil([&] {
        return storedCorners().value(QStringLiteral("bottomLeftEnabled")) == QJsonValue(false);
    })) << QJsonDocument(storedCorners()).toJson().toStdString();
    pressKeys({QStringLiteral("Left")});
    ASSERT_TRUE(reaches(5)) << "Left is Back";
    pressKeys({QStringLiteral("Right")});
    ASSERT_TRUE(reaches(6));

    for (const int step : {7, 8, 9, 10, 3}) {
        pressKeys({QStringLiteral("Right")});
        ASSERT_TRUE(reaches(step)) << "stored " << storedStep().value_or(-99);
    }
    pressKeys({QStringLiteral("Right")});
    EXPECT_FALSE(waitUntil([&] { return storedStep() != 3 || tourWindow().isEmpty(); },
                           std::chrono::seconds(1)))
        << "the last page ends only by Done";

    // All Set: the focus ring shows around the taskbar switch once Tab reaches it, and Space turns it on.
    const QPoint ringTop(643, 259);  // above the switch's track (627, 261.5, 32 x 14)
    EXPECT_LT(page().pixelColor(ringTop).lightness(), 150) << "no ring before the keyboard comes";
    pressKeys({QStringLiteral("Tab"), QStringLiteral("Tab")});
    QImage ringed;
    EXPECT_TRUE(waitUntil([&] { return (ringed = page()).pixelColor(ringTop).lightness() > 200; }))
        << "ring " << ringed.pixelColor(ringTop).name().toStdString();
    pressKeys({QStringLiteral("space")});
    EXPECT_TRUE(waitUntil([&] {
        QFile file(config.filePath(QStringLiteral("Velaro/defaults.json")));
        return file.open(QIODevice::ReadOnly) &&
               QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("showDockIcon")) ==
                   QJsonValue(true);
    })) << "Space switches the focused switch";

    pressKeys({QStringLiteral("Return")});  // Done
    EXPECT_TRUE(reaches(4)) << "stored " << storedStep().value_or(-99);
    EXPECT_TRUE(waitUntil([&] { return tourWindow().isEmpty(); })) << "Done closes the window";
}

TEST_F(TourTest, AtScaleTwoTheTourKeepsItsSizeOffersOnlyClosingAndRefusesFullScreen) {
    qputenv("QT_SCALE_FACTOR", "2");
    launch(QStringLiteral("x11"));
    qunsetenv("QT_SCALE_FACTOR");
    if (HasFatalFailure()) return;
    const QSize fixed(1500, 1000);
    ASSERT_TRUE(waitUntil([&] { return windowSize() == fixed; })) << "size " << windowSize().width();
    const auto properties = [&] {
        return QString::fromLatin1(run(QStringLiteral("xprop"), {QStringLiteral("-id"), window}).out);
    };
    // It asks for closing, moving and resizing (Motif functions 32 + 4 + 2), not for minimising or
    // maximising.
    EXPECT_TRUE(properties().contains(QStringLiteral("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x26,")));

    // A full-screen request is taken back: the window returns to its size, framed with its title bar and
    // close button, and stays so.
    const auto fullScreen = [&] { return properties().contains(QStringLiteral("_NET_WM_STATE_FULLSCREEN")); };
    requestState(window.toUInt(), "_NET_WM_STATE_FULLSCREEN");
    waitUntil(fullScreen, std::chrono::milliseconds(1500));
    const auto back = [&] { return !fullScreen() && windowSize() == fixed; };
    EXPECT_TRUE(waitUntil(back)) << "size " << windowSize().width() << "x" << windowSize().height();
    EXPECT_FALSE(waitUntil([&] { return !back(); }, std::chrono::seconds(1)));
    const auto frame = cardinalProperty("_NET_FRAME_EXTENTS", window.toUInt());
    ASSERT_EQ(frame.size(), 4u);
    EXPECT_GT(frame[2], 10u) << "the title bar is back";
}

TEST_F(TourTest, AMinimisedTourComesBackWhenTheAppIsLaunchedAgain) {
    ASSERT_NO_FATAL_FAILURE(launch(QStringLiteral("x11")));
    // Asked again while it shows: a window manager still placing a window just mapped can drop the request.
    ASSERT_TRUE(waitUntil([&] {
        if (tourWindow().isEmpty()) return true;
        run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), window});
        return waitUntil([&] { return tourWindow().isEmpty(); }, std::chrono::milliseconds(500));
    })) << "the tour did not minimise";

    const auto again = run(binDir() + QStringLiteral("/velaro"), {}, std::chrono::seconds(20),
                           app.processEnvironment());
    EXPECT_EQ(again.exitCode, 0) << again.describe().toStdString();
    EXPECT_TRUE(waitUntil([&] { return !tourWindow().isEmpty(); })) << "the tour stayed minimised";
}

TEST(TourWindowTest, TheTourKeepsATaskbarEntryWhileItCanBeMinimisedAndTheTrayIconBringsItBack) {
    VELARO_REQUIRE_DESKTOP();
    TrayApp app;
    QString why;
    // Resumed on a feature page: the runtime runs, so the icon's click would otherwise open the popover.
    ASSERT_TRUE(app.launch(R"({"onboardingStep": 6})", &why)) << why.toStdString();
    QString tour;
    const auto find = [&] {
        tour = QString::fromLatin1(run(QStringLiteral("xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), QStringLiteral("^Welcome to Velaro$")})
                                       .out)
                   .trimmed();
        return !tour.isEmpty();
    };
    ASSERT_TRUE(waitUntil(find)) << "no tour window";

    // The tray-only app keeps its windows out of the taskbar, but this window manager offers to minimise
    // the tour whatever the tour asks: it keeps its entry, so that a minimised tour can be found.
    const QString window = tour;
    EXPECT_TRUE(waitUntil([&] { return !skipsTaskbar(window); })) << "the tour has no taskbar entry";
    EXPECT_FALSE(waitUntil([&] { return skipsTaskbar(window); }, std::chrono::seconds(1)));

    ASSERT_TRUE(waitUntil([&] {
        if (!find()) return true;
        run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), tour});
        return waitUntil([&] { return !find(); }, std::chrono::milliseconds(500));
    })) << "the tour did not minimise";
    ASSERT_TRUE(click(app.icon().center().x(), app.icon().center().y(), 1).finished);
    EXPECT_TRUE(waitUntil(find)) << "the tray icon's click leaves the tour minimised";
    EXPECT_FALSE(waitUntil([&] { return app.popupUnderPanel().has_value(); }, std::chrono::seconds(1)))
        << "the tour comes back instead of the popover";

    // Escape closes it as its close button does, on the page it reached.
    ASSERT_TRUE(waitUntil([&] {
        return QString::fromLatin1(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow")}).out)
                   .trimmed() == tour;
    })) << "the tour came back with the keyboard";
    pressKeys({QStringLiteral("Escape")});
    EXPECT_TRUE(waitUntil([&] { return !find(); })) << "Escape leaves the tour open";
    QFile file(app.settingsPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("onboardingStep")),
              QJsonValue(6));
}

TEST(TourWindowTest, TheSettingsWindowStaysOutOfTheTaskbarHoweverOftenItIsClosed) {
    VELARO_REQUIRE_DESKTOP();
    TrayApp app;
    QString why;
    ASSERT_TRUE(app.launch(R"({"onboardingStep": 4})", &why)) << why.toStdString();
    QDir config = QFileInfo(app.settingsPath()).dir();  // <config>/Velaro
    config.cdUp();
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.absolutePath());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const auto settingsWindow = [] {
        return QString::fromLatin1(run(QStringLiteral("xdotool"),
                                       {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), QStringLiteral("^Velaro Settings$")})
                                       .out)
            .trimmed();
    };
    // Each launch of the running app opens its settings window. Closing the window destroys its X window;
    // the next opening makes a new one, which must be kept out of the taskbar as the first was.
    for (int opening = 0; opening < 2; ++opening) {
        const auto again = run(TrayApp::executable(), {}, std::chrono::seconds(20), environment);
        ASSERT_EQ(again.exitCode, 0) << again.describe().toStdString();
        QString shown;
        ASSERT_TRUE(waitUntil([&] { return !(shown = settingsWindow()).isEmpty(); })) << opening;
        EXPECT_TRUE(waitUntil([&] { return skipsTaskbar(shown); })) << "opening " << opening;
        ASSERT_TRUE(closeWindow(shown.toUInt(), [&] { return settingsWindow().isEmpty(); })) << opening;
    }
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

    // Closed as its close button does.
    QString open;
    ASSERT_TRUE(waitUntil([&] { return !(open = tourWindow()).isEmpty(); })) << "no tour window";
    ASSERT_TRUE(closeWindow(open.toUInt(), [&] { return tourWindow().isEmpty(); }))
        << "the tour window stays open";
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
