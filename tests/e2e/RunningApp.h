// The real app in a process of its own, with its own settings folder, ended (and waited for) when the test
// ends; what it writes on stderr can be kept for the test to read.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>
#include <chrono>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {

class RunningApp {
public:
    // `defaultsJson` becomes the settings file; none is written when it is null.
    explicit RunningApp(const QByteArray& defaultsJson) {
        QDir(dir_.path()).mkpath(QStringLiteral("Velaro"));
        if (!defaultsJson.isNull()) writeSettings(defaultsJson);
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    }
    // Ends the app as the session does (SIGTERM); it must leave cleanly: exit status 0, which also means
    // that the sanitizer build found no leak and no error on the way out.
    ~RunningApp() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(8000)) {
            ADD_FAILURE() << "the app did not end within 8 s of SIGTERM";
            process_.kill();
            process_.waitForFinished(2000);
            return;
        }
        // Ended by the signal itself: it came before the app set up its handling, early in its start.
        if (process_.exitStatus() == QProcess::CrashExit && process_.exitCode() == SIGTERM) return;
        EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit) << "the app crashed on its way out";
        EXPECT_EQ(process_.exitCode(), 0) << "the app left with a failure (a leak report exits with 23)";
    }
    RunningApp(const RunningApp&) = delete;
    RunningApp& operator=(const RunningApp&) = delete;

    // `keepErrors`: stderr is kept for errorOutput() instead of passing through to the test's own, with the
    // app's debug lines among it.
    bool start(bool keepErrors = false) {
        if (keepErrors && !environment_.contains(QStringLiteral("QT_LOGGING_RULES")))
            environment_.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("velaro.*.debug=true"));
        process_.setProcessEnvironment(environment_);
        process_.setProcessChannelMode(keepErrors ? QProcess::SeparateChannels
                                                  : QProcess::ForwardedErrorChannel);
        process_.start(binDir() + QStringLiteral("/velaro"), {});
        return process_.waitForStarted(5000);
    }
    bool running() const { return process_.state() == QProcess::Running; }
    // Sends SIGTERM and waits up to `limit` for the app to end: the milliseconds it took, or -1 when it did
    // not end within the limit. How it ended is checked as the destructor checks it.
    qint64 endTimed(std::chrono::milliseconds limit = std::chrono::seconds(8)) {
        QElapsedTimer took;
        took.start();
        process_.terminate();
        if (!process_.waitForFinished(int(limit.count()))) return -1;
        const qint64 ms = took.elapsed();
        EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit) << "the app crashed on its way out";
        EXPECT_EQ(process_.exitCode(), 0) << "the app left with a failure (a leak report exits with 23)";
        return ms;
    }
    qint64 pid() const { return process_.processId(); }
    const QProcessEnvironment& environment() const { return environment_; }
    // Changes what the app is started with (before start()).
    void setEnvironment(const QString& name, const QString& value) { environment_.insert(name, value); }
    void unsetEnvironment(const QString& name) { environment_.remove(name); }
    // What the app wrote on stderr so far (with start(true)).
    QByteArray errorOutput() {
        errors_ += process_.readAllStandardError();
        return errors_;
    }

    // The settings folder, and a file in it.
    QString folder() const { return dir_.filePath(QStringLiteral("Velaro")); }
    QString settingsPath() const { return folder() + QStringLiteral("/defaults.json"); }
    bool writeSettings(const QByteArray& json) const {
        QFile file(settingsPath());
        return file.open(QIODevice::WriteOnly) && file.write(json) == json.size();
    }

private:
    QTemporaryDir dir_;
    QProcessEnvironment environment_;
    QProcess process_;
    QByteArray errors_;
};

}  // namespace velaro::e2e
