// scripts/desktop-session as the test runner uses it: a second, private desktop beside the one these tests
// run in, started twice (the second start harmless), described by `env`, and stopped without leftovers.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {
namespace {

class DesktopSessionTest : public ::testing::Test {
protected:
    inline static const QStringList kSessionVariables{QStringLiteral("DISPLAY"),
                                                      QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                                                      QStringLiteral("XDG_RUNTIME_DIR"),
                                                      QStringLiteral("PULSE_SERVER"),
                                                      QStringLiteral("VELARO_DESKTOP_DIR"),
                                                      QStringLiteral("XDG_CONFIG_HOME"),
                                                      QStringLiteral("XDG_DATA_HOME"),
                                                      QStringLiteral("XDG_CACHE_HOME"),
                                                      QStringLiteral("XDG_STATE_HOME")};

    void SetUp() override {
        VELARO_REQUIRE_DESKTOP();
        ASSERT_TRUE(scratch_.isValid());
        // The script resolves its state dir to a canonical path, and so must the marker we look for.
        stateDir_ = QFileInfo(scratch_.path()).canonicalFilePath() + QStringLiteral("/desktop");
        environment_.insert(QStringLiteral("VELARO_DESKTOP_DIR"), stateDir_);
        environment_.insert(QStringLiteral("VELARO_BUILD_DIR"), buildDir());
    }
    void TearDown() override {
        if (!stateDir_.isEmpty()) session({QStringLiteral("stop")});
    }

    CommandResult session(const QStringList& arguments) const {
        return run(sourceDir() + QStringLiteral("/scripts/desktop-session"), arguments,
                   std::chrono::seconds(90), environment_);
    }

    // The variables a shell gains from `eval "$(scripts/desktop-session env)"`, the way scripts/test uses it.
    // The shell starts without any of them (the state dir reaches only the script), so all it ends up with
    // came from the eval.
    QMap<QString, QString> exported() const {
        QMap<QString, QString> variables;
        auto environment = environment_;
        for (const QString& name : kSessionVariables) environment.remove(name);
        environment.insert(QStringLiteral("STATE_DIR"), stateDir_);
        const auto result =
            run(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral(
                     "eval \"$(VELARO_DESKTOP_DIR=$STATE_DIR \"$0\" env)\" && unset STATE_DIR && env -0"),
                 sourceDir() + QStringLiteral("/scripts/desktop-session")},
                std::chrono::seconds(30), environment);
        if (result.exitCode != 0) return variables;
        for (const QByteArray& entry : result.out.split('\0')) {
            const int equals = entry.indexOf('=');
            const QString name = QString::fromLocal8Bit(entry.left(equals));
            if (equals > 0 && kSessionVariables.contains(name))
                variables.insert(name, QString::fromLocal8Bit(entry.mid(equals + 1)));
        }
        return variables;
    }

    // (pid, start time) of every process the session recorded.
    std::vector<std::pair<int, QByteArray>> recordedProcesses() const {
        std::vector<std::pair<int, QByteArray>> processes;
        QFile file(stateDir_ + QStringLiteral("/pids"));
        if (!file.open(QIODevice::ReadOnly)) return processes;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const auto fields = line.split(' ');
            if (fields.size() == 3) processes.emplace_back(fields[1].toInt(), fields[2]);
        }
        return processes;
    }

    static bool alive(int pid, const QByteArray& startTime) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) return false;
        const QByteArray text = stat.readAll();
        const auto fields = text.mid(text.lastIndexOf(") ") + 2).split(' ');
        return fields.size() > 19 && fields[0] != "Z" && fields[19] == startTime;
    }

    // Processes whose environment carries the session's marker: anything it started, or their children.
    QList<int> markedProcesses() const {
        QList<int> marked;
        const QByteArray marker = "VELARO_DESKTOP_SESSION=" + stateDir_.toLocal8Bit();
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool isPid = false;
            const int pid = entry.toInt(&isPid);
            if (!isPid) continue;
            QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(marker))
                marked << pid;
        }
        return marked;
    }

    // Runs the wait helper against the private desktop.
    CommandResult waitOnPrivateDesktop(const QString& display, const QStringList& conditions) const {
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        return run(binDir() + QStringLiteral("/velaro-desktop-wait"),
                   QStringList{QStringLiteral("--timeout"), QStringLiteral("5")} + conditions,
                   std::chrono::seconds(10), environment);
    }

    QTemporaryDir scratch_;
    QString stateDir_;
    QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
};

TEST_F(DesktopSessionTest, StartsOnceDescribesItselfAndStopsWithoutLeftovers) {
    const auto started = session({QStringLiteral("start")});
    ASSERT_EQ(started.exitCode, 0) << started.describe().toStdString();

    const auto variables = exported();
    for (const QString& name : kSessionVariables)
        EXPECT_TRUE(variables.contains(name)) << name.toStdString() << " is not exported";
    const QString display = variables.value(QStringLiteral("DISPLAY"));
    EXPECT_NE(display, qEnvironmentVariable("DISPLAY"))
        << "the private desktop took over the running display";
    // Nothing the tests write may land in the real home.
    for (const QString& name : kSessionVariables) {
        if (!name.startsWith(QStringLiteral("XDG_")) && name != QStringLiteral("VELARO_DESKTOP_DIR"))
            continue;
        EXPECT_TRUE(variables.value(name).startsWith(stateDir_))
            << name.toStdString() << "=" << variables.value(name).toStdString();
    }
    // The bus address works as it came out of the eval (its quoting survived).
    auto onPrivateBus = QProcessEnvironment::systemEnvironment();
    onPrivateBus.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                        variables.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")));
    const auto busId =
        run(QStringLiteral("dbus-send"),
            {QStringLiteral("--session"), QStringLiteral("--print-reply"),
             QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
             QStringLiteral("org.freedesktop.DBus.GetId")},
            std::chrono::seconds(10), onPrivateBus);
    EXPECT_EQ(busId.exitCode, 0) << busId.describe().toStdString();

    const auto ready =
        waitOnPrivateDesktop(display, {QStringLiteral("selection"), QStringLiteral("WM_S0"),
                                       QStringLiteral("selection"), QStringLiteral("_NET_WM_CM_S0"),
                                       QStringLiteral("selection"), QStringLiteral("_NET_SYSTEM_TRAY_S0"),
                                       QStringLiteral("workarea-top"), QStringLiteral("28")});
    EXPECT_EQ(ready.exitCode, 0) << ready.describe().toStdString();

    const auto processes = recordedProcesses();
    ASSERT_GE(processes.size(), 6u) << "X server, bus, window manager, compositor, panel and sound server";

    // A second start finds the desktop running and changes nothing.
    const auto again = session({QStringLiteral("start")});
    EXPECT_EQ(again.exitCode, 0) << again.describe().toStdString();
    EXPECT_EQ(exported().value(QStringLiteral("DISPLAY")), display);
    EXPECT_EQ(recordedProcesses(), processes);
    for (const auto& [pid, startTime] : processes) EXPECT_TRUE(alive(pid, startTime)) << pid;

    // Something a desktop process started (a bus-activated service, say) goes with the desktop.
    QProcess child;
    auto childEnvironment = QProcessEnvironment::systemEnvironment();
    childEnvironment.insert(QStringLiteral("VELARO_DESKTOP_SESSION"), stateDir_);
    child.setProcessEnvironment(childEnvironment);
    child.setProgram(QStringLiteral("sleep"));
    child.setArguments({QStringLiteral("600")});
    qint64 childPid = 0;
    ASSERT_TRUE(child.startDetached(&childPid));
    ASSERT_TRUE(waitUntil([&] { return markedProcesses().contains(static_cast<int>(childPid)); }));

    const auto stopped = session({QStringLiteral("stop")});
    EXPECT_EQ(stopped.exitCode, 0) << stopped.describe().toStdString();
    for (const auto& [pid, startTime] : processes)
        EXPECT_FALSE(alive(pid, startTime)) << pid << " survived stop";
    EXPECT_TRUE(markedProcesses().isEmpty()) << "a process the desktop started outlived stop";
    EXPECT_NE(session({QStringLiteral("env")}).exitCode, 0) << "env still describes a stopped desktop";
    // Stopping again is harmless.
    EXPECT_EQ(session({QStringLiteral("stop")}).exitCode, 0);
}

TEST_F(DesktopSessionTest, RestartsADesktopThatDied) {
    ASSERT_EQ(session({QStringLiteral("start")}).exitCode, 0);
    const auto before = recordedProcesses();
    ASSERT_FALSE(before.empty());
    // The X server goes away behind the script's back; the next start must bring up a working desktop.
    ASSERT_EQ(::kill(before.front().first, SIGKILL), 0);
    const auto restarted = session({QStringLiteral("start")});
    ASSERT_EQ(restarted.exitCode, 0) << restarted.describe().toStdString();
    for (const auto& [pid, startTime] : before)
        EXPECT_FALSE(alive(pid, startTime)) << pid << " of the old desktop";
    const auto ready =
        waitOnPrivateDesktop(exported().value(QStringLiteral("DISPLAY")),
                             {QStringLiteral("selection"), QStringLiteral("_NET_SYSTEM_TRAY_S0")});
    EXPECT_EQ(ready.exitCode, 0) << ready.describe().toStdString();
}

TEST_F(DesktopSessionTest, RefusesToStartWithoutTheWaitHelper) {
    environment_.insert(QStringLiteral("VELARO_BUILD_DIR"), scratch_.filePath(QStringLiteral("no-build")));
    const auto result = session({QStringLiteral("start")});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_TRUE(result.err.contains("velaro-desktop-wait is not built")) << result.err.toStdString();
    EXPECT_TRUE(recordedProcesses().empty());
    EXPECT_TRUE(markedProcesses().isEmpty());
}

TEST_F(DesktopSessionTest, DualStartGivesTwoMonitorsSideBySide) {
    if (::geteuid() != 0) GTEST_SKIP() << "the dummy-driver X server needs root";
    const auto started = session({QStringLiteral("start"), QStringLiteral("--dual")});
    ASSERT_EQ(started.exitCode, 0) << started.describe().toStdString();
    const QString display = exported().value(QStringLiteral("DISPLAY"));

    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    const auto monitors = run(QStringLiteral("xrandr"), {QStringLiteral("--listmonitors")},
                              std::chrono::seconds(10), environment);
    ASSERT_EQ(monitors.exitCode, 0) << monitors.describe().toStdString();
    EXPECT_TRUE(monitors.out.contains("Monitors: 2")) << monitors.out.toStdString();
    EXPECT_TRUE(monitors.out.contains("1920/") && monitors.out.contains("x1080/"))
        << monitors.out.toStdString();
    EXPECT_TRUE(monitors.out.contains("+0+0")) << monitors.out.toStdString();
    EXPECT_TRUE(monitors.out.contains("+1920+0")) << monitors.out.toStdString();
    const auto panel =
        waitOnPrivateDesktop(display, {QStringLiteral("workarea-top"), QStringLiteral("28"),
                                       QStringLiteral("selection"), QStringLiteral("_NET_SYSTEM_TRAY_S0")});
    EXPECT_EQ(panel.exitCode, 0) << panel.describe().toStdString();

    // A single-monitor start over a running dual desktop says so instead of pretending.
    const auto mismatched = session({QStringLiteral("start")});
    EXPECT_NE(mismatched.exitCode, 0);
    EXPECT_TRUE(mismatched.err.contains("stop it before")) << mismatched.err.toStdString();
}

}  // namespace
}  // namespace velaro::e2e
