// The test MPRIS player (velaro-test-player) in a process of its own, and the line-reading process it is
// built on: the desktop tests command it and wait for the calls it reports.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {

// A process whose standard output is read line by line as Qt's loop runs.
class LineProcess {
public:
    LineProcess(const QString& program, const QStringList& arguments) {
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine()) lines_.push_back(process_.readLine().trimmed().toStdString());
        });
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, arguments);
    }
    ~LineProcess() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.closeWriteChannel();
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(2000);
    }
    bool started() { return process_.waitForStarted(5000); }
    void send(const QString& line) {
        process_.write((line + QLatin1Char('\n')).toUtf8());
        process_.waitForBytesWritten(1000);
    }
    // Waits for a line (after those already seen by earlier waits) for which `match` holds.
    bool waitForLine(const std::function<bool(const std::string&)>& match,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return waitUntil(
            [&] {
                for (; seen_ < lines_.size(); ++seen_)
                    if (match(lines_[seen_])) {
                        ++seen_;
                        return true;
                    }
                return false;
            },
            limit);
    }
    bool waitForLine(const std::string& exact) {
        return waitForLine([&](const std::string& l) { return l == exact; });
    }
    const std::vector<std::string>& lines() const { return lines_; }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    std::vector<std::string> lines_;
    std::size_t seen_ = 0;
};

class TestPlayer : public LineProcess {
public:
    // `coverColour` ("#RRGGBB") is the colour of the one-colour cover it shows.
    explicit TestPlayer(const QString& name = QStringLiteral("velarotest"),
                        const QString& coverColour = QStringLiteral("#ff0000"))
        : LineProcess(binDir() + QStringLiteral("/velaro-test-player"),
                      {QStringLiteral("--name"), name, QStringLiteral("--desktop-entry"),
                       QStringLiteral("velaro-test-player"), QStringLiteral("--art-color"), coverColour}) {}
    bool ready() { return started() && waitForLine("ready"); }
    // Sends a command and waits until the player has carried it out.
    bool command(const QString& line) {
        send(line);
        return waitForLine("done " + line.section(QLatin1Char(' '), 0, 0).toStdString());
    }
};

}  // namespace velaro::e2e
