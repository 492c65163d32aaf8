// The settings file under hostile conditions, with the real app: a FIFO at its path, the user's own copies
// beside it, leftovers of killed writes, and edits other programs make while the app runs.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <optional>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "e2e/E2eSupport.h"
#include "e2e/ForeignWindow.h"
#include "e2e/RunningApp.h"
#include "e2e/TrayApp.h"

namespace velaro::e2e {
namespace {

bool isFifo(const QString& path) {
    struct stat st {};
    return ::lstat(path.toLocal8Bit().constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SettingsFileTest, AFifoAtTheSettingsPathIsSetAsideAndTheAppStartsOnDefaultsSayingWhy) {
    VELARO_REQUIRE_DESKTOP();
    RunningApp app{QByteArray()};
    ASSERT_EQ(::mkfifo(app.settingsPath().toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(app.start(true));
    // Started: it writes its settings (the checked defaults) into a new, regular file.
    ASSERT_TRUE(waitUntil([&] {
        return QFileInfo(app.settingsPath()).isFile() && !contents(app.settingsPath()).isEmpty();
    })) << app.errorOutput().toStdString();
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.errorOutput().contains("defaults.json cannot be read (not a regular file); moved it to "))
        << app.errorOutput().toStdString();
    const auto aside =
        QDir(app.folder()).entryList({QStringLiteral("defaults.json.corrupt-*")}, QDir::System);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(isFifo(app.folder() + "/" + aside[0])) << "kept as it was";
    const auto stored = nlohmann::json::parse(contents(app.settingsPath()).toStdString(), nullptr, false);
    EXPECT_FALSE(stored.contains("onboardingStep")) << "on defaults: the tour has not been completed";
}

TEST(SettingsFileTest, AStartRemovesLeftoversOfKilledWritesButNeverTheUsersOwnCopies) {
    VELARO_REQUIRE_DESKTOP();
    RunningApp app(R"({"onboardingStep": 4, "masterEnabled": false})");
    const QByteArray backup = R"({"onboardingStep": 4, "masterEnabled": true})";
    const QByteArray torn = R"({"onboardingStep": 4, "mas)";
    const auto put = [&](const QString& name, const QByteArray& bytes) {
        QFile file(app.folder() + "/" + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(put("defaults.json.backup", backup));
    ASSERT_TRUE(put("defaults.json.before", torn));
    ASSERT_TRUE(put(".defaults.json.velaro-write-k1LLed", torn));
    ASSERT_TRUE(put(".defaults.json.velaro-write-wh0le0", backup));
    ASSERT_TRUE(app.start());
    EXPECT_TRUE(waitUntil([&] {
        return !QFile::exists(app.folder() + "/.defaults.json.velaro-write-k1LLed") &&
               !QFile::exists(app.folder() + "/.defaults.json.velaro-write-wh0le0");
    })) << "leftovers of killed writes stayed";
    EXPECT_EQ(contents(app.folder() + "/defaults.json.backup"), backup);
    EXPECT_EQ(contents(app.folder() + "/defaults.json.before"), torn);
    EXPECT_TRUE(app.running());
}

// Run as root with another user's settings folder (as sudo -E does), the app neither reads nor writes through
// a link that user planted there: root's file it points to keeps its content and mode, the app starts on its
// defaults, says so once, and runs on; its end writes nothing there either. Files of another user can only be
// made by root: skipped otherwise.
TEST(SettingsFileTest, RunAsRootTheAppLeavesAnotherUsersLinkAndRootsFileAlone) {
    VELARO_REQUIRE_DESKTOP();
    if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
    constexpr uid_t kOther = 65534;  // nobody
    RunningApp app{QByteArray()};
    QTemporaryDir roots;
    ASSERT_TRUE(roots.isValid());
    const QString rootsFile = roots.filePath(QStringLiteral("roots.json"));
    const QByteArray rootsBytes = R"({"onboardingStep": 4, "masterEnabled": false})";
    {
        QFile file(rootsFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(rootsBytes);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(rootsFile).constData(), 0644), 0);
    const QByteArray link = QFile::encodeName(app.settingsPath());
    ASSERT_EQ(::symlink(QFile::encodeName(rootsFile).constData(), link.constData()), 0);
    ASSERT_EQ(::lchown(link.constData(), kOther, kOther), 0);
    ASSERT_EQ(::chown(QFile::encodeName(app.folder()).constData(), kOther, kOther), 0);
    ASSERT_TRUE(app.start(true));
    const QByteArray refusal =
        "defaults.json is a link of another user; leaving it and what it points to alone";
    EXPECT_TRUE(waitUntil([&] { return app.errorOutput().contains(refusal); }, std::chrono::seconds(15)))
        << app.errorOutput().toStdString();
    // Up on its defaults, not on root's file (where the tour is done): the tour opens.
    EXPECT_TRUE(waitUntil(
        [] {
            return !run(QStringLiteral("xdotool"),
                        {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                         QStringLiteral("^Welcome to Velaro$")})
                        .out.trimmed()
                        .isEmpty();
        },
        std::chrono::seconds(20)));
    EXPECT_TRUE(app.running());
    // Its end, which writes what is pending, writes nothing there either.
    EXPECT_GE(app.endTimed(), 0);
    EXPECT_EQ(app.errorOutput().count(refusal), 1) << app.errorOutput().toStdString();
    EXPECT_EQ(contents(rootsFile), rootsBytes);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(rootsFile).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(QFileInfo(app.settingsPath()).symLinkTarget(), rootsFile);
    EXPECT_EQ(
        QDir(app.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
        QStringList{QStringLiteral("defaults.json")})
        << "nothing made in their folder";
    EXPECT_EQ(
        QDir(roots.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
        QStringList{QStringLiteral("roots.json")});
}

// Rewrites the settings file as another program would, under the lock every writer of the file takes.
void editSettings(const RunningApp& app, const std::function<void(nlohmann::json&)>& edit, bool inPlace) {
    const QByteArray lockPath = (app.settingsPath() + ".lock").toLocal8Bit();
    const int lock = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    auto json = nlohmann::json::parse(contents(app.settingsPath()).toStdString());
    edit(json);
    const QByteArray text = QByteArray::fromStdString(json.dump(2));
    if (inPlace) {
        EXPECT_TRUE(app.writeSettings(text));
    } else {
        // An editor's save: a new file renamed over the old one.
        QFile next(app.settingsPath() + ".new");
        ASSERT_TRUE(next.open(QIODevice::WriteOnly));
        next.write(text);
        next.close();
        ASSERT_TRUE(QFile::rename(app.settingsPath() + ".new", app.settingsPath()) ||
                    (QFile::remove(app.settingsPath()) &&
                     QFile::rename(app.settingsPath() + ".new", app.settingsPath())));
    }
    ::close(lock);
}

constexpr qint64 kEditShowsWithin = 1500;  // ms

TEST(SettingsFileTest, AnOutsideEditOfTheFileChangesTheBandWithinOneSecond) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    RunningApp app(R"({"onboardingStep": 4})");
    const QPoint inPanel(QGuiApplication::primaryScreen()->geometry().width() / 3, panel / 2);
    const QColor untinted = screenshot().pixelColor(inPanel);
    const QColor colour(0x28, 0x8c, 0xc8);
    ASSERT_FALSE(closeTo(untinted, colour, 8)) << "the panel starts in another colour";
    ASSERT_TRUE(app.start());
    ForeignWindow window({.rgb = colour.rgb() & 0xffffff, .maximised = true});
    const auto tinted = [&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), colour, 10); };
    const auto clear = [&](const QImage& shot) { return closeTo(shot.pixelColor(inPanel), untinted, 10); };
    ASSERT_TRUE(tinted(screenshotWhen(tinted, std::chrono::seconds(15)))) << "the band never took the colour";
    // Let the app's own start-up writes settle, so the edit is not merged with one of them.
    waitUntil([] { return false; }, std::chrono::milliseconds(500));

    // The master switch turned off in the file hides the band: saved as editors do (a new file renamed into
    // place), then written in place. Turning it back on restarts the capture, which takes its own time.
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "written in place" : "replaced by a new file");
        QElapsedTimer sinceEdit;
        editSettings(
            app, [](nlohmann::json& json) { json["masterEnabled"] = false; }, inPlace);
        sinceEdit.start();
        EXPECT_TRUE(clear(screenshotWhen(clear, std::chrono::seconds(3)))) << "the band stayed on";
        // The watcher reacts within milliseconds and the fade takes a fraction of a second; the margin above
        // one second is for a sanitizer build sharing a loaded machine with other test runs.
        EXPECT_LT(sinceEdit.elapsed(), kEditShowsWithin);
        editSettings(
            app, [](nlohmann::json& json) { json["masterEnabled"] = true; }, inPlace);
        EXPECT_TRUE(tinted(screenshotWhen(tinted, std::chrono::seconds(10)))) << "the band did not come back";
    }
    EXPECT_TRUE(app.running());
}

// Sizes far beyond their sliders in the file, at device pixel ratios 1 and 2: the band is as tall as the
// sliders' ends make it (160 points and its ears of 60), the screen below it stays uncovered, and the app
// says what it bounded. Bounded only to the screen, such a band once blacked out the whole screen.
TEST(SettingsFileTest, ABandHeightAndRadiusBeyondTheirSlidersLeaveTheScreenBelowTheBandUncovered) {
    VELARO_REQUIRE_DESKTOP();
    const int panel = panelHeight();
    ASSERT_GT(panel, 0);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint inPanel(screen.width() / 3, panel / 2);
    struct Case {
        int ratio;
        const char* size;   // as the file holds it
        const char* shown;  // as the log says it
    };
    for (const auto& [ratio, size, shown] : {Case{1, "1e308", "1e+308"}, Case{2, "1e6", "1000000"}}) {
        SCOPED_TRACE(std::string("ratio ") + std::to_string(ratio) + ", " + size);
        RunningApp app(
            QByteArray(R"({"onboardingStep": 4, "keepOverlayAlwaysOn": true, "emptyDesktopMode": )") +
            R"("black", "strokeEnabled": false, "alwaysOnOverlayHeight": )" + size +
            R"(, "alwaysOnCornerRadius": )" + size + "}");
        app.setEnvironment(QStringLiteral("QT_SCALE_FACTOR"), QString::number(ratio));
        ASSERT_TRUE(app.start(true));
        const auto black = [&](const QImage& shot) {
            return closeTo(shot.pixelColor(inPanel), Qt::black, 4);
        };
        EXPECT_TRUE(black(screenshotWhen(black, std::chrono::seconds(15)))) << "the band never showed";
        // The band's window: across the whole screen from its top, as tall as the sliders' ends make it.
        const int tall = (160 + 60) * ratio;
        std::optional<QRect> band;
        EXPECT_TRUE(waitUntil([&] {
            for (const QRect& g : visibleWindows({QStringLiteral("--pid"), QString::number(app.pid())}))
                if (g.top() == 0 && g.width() == screen.width() && g.height() == tall) band = g;
            return band.has_value();
        })) << "no band "
            << tall << " pixels tall";
        const QPoint below(screen.width() / 2, tall + (screen.height() - tall) / 2);
        EXPECT_FALSE(closeTo(screenPixel(below), Qt::black, 4)) << "the screen below the band is blacked out";
        EXPECT_TRUE(app.errorOutput().contains("DEFAULTS alwaysOnOverlayHeight: " + QByteArray(shown) +
                                               " is outside 24...160; using 160"))
            << app.errorOutput().toStdString();
        EXPECT_TRUE(app.running());
    }
}

}  // namespace
}  // namespace velaro::e2e
