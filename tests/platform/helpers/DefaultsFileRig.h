// What the settings store's tests share: a temporary settings folder, its file read and written as other
// programs do, the store's log caught, and stand-ins for the real time the store's blocking writes spend.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Log.h"
#include "platform/linux/JsonDefaultsStore.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Sets an environment variable, or unsets it (nothing), for as long as it lives.
struct ScopedEnv {
    ScopedEnv(const char* name, const std::optional<QString>& value)
        : name(name), saved(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        value ? qputenv(name, value->toLocal8Bit()) : qunsetenv(name);
    }
    ~ScopedEnv() { saved ? qputenv(name, *saved) : qunsetenv(name); }
    ScopedEnv(const ScopedEnv&) = delete;
    const char* name;
    std::optional<QByteArray> saved;
};

// Real time as the store's blocking writes see it, moved on the test's loop: a wait for the lock takes all it
// is given unless the lock is free by then, and `during` runs in every wait (an editor going on writing).
class LoopWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    explicit LoopWaits(VirtualLoop& loop) : loop_(loop) {}
    double now() override { return loop_.uptime(); }
    void pause(double seconds) override {
        if (during) during();
        loop_.advance(seconds);
    }
    int lock(const std::string& lockFile, double seconds) override {
        lockWaits.push_back(seconds);
        pause(seconds);
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if (fd >= 0) ::close(fd);
        return -1;
    }

    std::function<void()> during;
    std::vector<double> lockWaits;

private:
    VirtualLoop& loop_;
};

// Waits that pass without moving the test's loop: for stores that start on a file that stays broken, which
// the load reads again for half a second before it sets it aside.
class PassingWaits final : public JsonDefaultsStore::BlockingWaits {
public:
    double now() override { return now_; }
    void pause(double seconds) override { now_ += seconds; }
    int lock(const std::string&, double) override { return -1; }

private:
    double now_ = 0;
};

// A settings file at config/Velaro/defaults.json in a folder of its own, with the store's log lines caught.
class DefaultsFileRig : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.filePath("config/Velaro/defaults.json").toStdString();
        // A fixed wall time makes the name of a set-aside file predictable.
        loop_.setWallTimeOrigin(
            std::chrono::system_clock::from_time_t(1796630400));  // 2026-12-07 08:00:00 UTC
        previousSink_ = setLogSink([this](std::string_view tag, std::string_view message) {
            logged_.push_back(std::string(tag) + " " + std::string(message));
        });
    }
    void TearDown() override { setLogSink(previousSink_); }

    void writeFile(const std::string& text) {
        QDir().mkpath(QString::fromStdString(path_).section('/', 0, -2));
        writeText(path_, text);
    }
    PlistValue fileJson() { return PlistValue::parse(readText(path_)); }
    // Whether changes wait to be written: a flush writes only those, so with none it leaves even a removed
    // file absent. The file is put back as it was.
    bool writesPending(JsonDefaultsStore& store) {
        const bool existed = exists(path_);
        const std::string kept = existed ? readText(path_) : std::string();
        QFile::remove(QString::fromStdString(path_));
        store.flush();
        const bool wrote = exists(path_);
        if (!wrote && existed) writeText(path_, kept);
        return wrote;
    }
    std::string asidePath() const { return path_ + ".corrupt-20261207T080000Z"; }
    bool loggedWithTag() const {
        for (const auto& line : logged_)
            if (line.rfind("DEFAULTS ", 0) == 0) return true;
        return false;
    }

    QTemporaryDir dir_;
    std::string path_;
    VirtualLoop loop_;
    PassingWaits brokenStart_;
    std::vector<std::string> logged_;
    LogSink previousSink_;
};

}  // namespace velaro::test
