// A now-playing engine on the virtual loop over the fake launcher, with its diagnostics captured and the
// wall clock at 2024-05-01T12:00:00Z when the loop starts.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/Log.h"
#include "music/MusicProgressEngine.h"
#include "support/FakeProcessLauncher.h"
#include "support/VirtualLoop.h"

namespace velaro::test {

struct EngineRig {
    static constexpr double startWall = 1714564800.0;  // 2024-05-01T12:00:00Z
    static constexpr const char* adapterPath = "/opt/velaro/libexec/velaro/velaro-media-adapter";

    VirtualLoop loop;
    FakeProcessLauncher launcher{loop};
    bool adapterPresent = true;
    std::vector<std::function<void()>> willTerminate;
    std::vector<std::string> log;
    std::vector<ProgressSnapshot> changes;
    std::unique_ptr<MusicProgressEngine> engine;

    explicit EngineRig(bool positionSummary = false) {
        loop.setWallTimeOrigin(std::chrono::system_clock::time_point(std::chrono::seconds(1714564800)));
        previousSink_ = setLogSink([this](std::string_view tag, std::string_view message) {
            log.push_back(std::string(tag) + " " + std::string(message));
        });
        engine = std::make_unique<MusicProgressEngine>(MusicProgressEngine::Services{
            .loop = loop,
            .launcher = launcher,
            .locateAdapter = [this]() -> std::optional<std::string> {
                if (!adapterPresent) return std::nullopt;
                return std::string(adapterPath);
            },
            .onWillTerminate =
                [this](std::function<void()> block) { willTerminate.push_back(std::move(block)); },
            .positionSummary = positionSummary,
        });
        engine->setOnChange([this](const ProgressSnapshot& s) { changes.push_back(s); });
    }
    ~EngineRig() {
        engine.reset();
        setLogSink(std::move(previousSink_));
    }

    // Starts the engine and lets its first turn run.
    void start() {
        engine->start();
        loop.runUntilIdle();
    }
    // The newest stream process.
    FakeChildProcess& stream() {
        const auto streams = launcher.launched("stream");
        EXPECT_FALSE(streams.empty());
        return *streams.back();
    }
    int streams() const { return int(launcher.launched("stream").size()); }
    // Writes one line to the stream and lets the notifications it queues run.
    void line(const nlohmann::json& object) { raw(object.dump() + "\n"); }
    void raw(std::string_view bytes) {
        stream().write(bytes);
        loop.runUntilIdle();
    }
    void data(const nlohmann::json& payload, bool diff = false) {
        line({{"type", "data"}, {"diff", diff}, {"payload", payload}});
    }
    // Seconds since 1970 now, on the loop's clock.
    double now() const { return startWall + loop.uptime(); }
    // An internet date-time `offset` seconds from now.
    std::string stamp(double offset) const {
        const long long ms = static_cast<long long>(std::llround((now() + offset) * 1000));
        const std::time_t seconds = ms / 1000;
        std::tm t{};
        gmtime_r(&seconds, &t);
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, ms % 1000);
        return text;
    }
    double progress() const { return engine->snapshot().progress01.value_or(-1); }

    int count(std::string_view prefix) const {
        return int(std::count_if(log.begin(), log.end(),
                                 [&](const std::string& l) { return l.starts_with(prefix); }));
    }
    std::vector<std::string> lines(std::string_view prefix) const {
        std::vector<std::string> out;
        for (const auto& l : log)
            if (l.starts_with(prefix)) out.push_back(l);
        return out;
    }

private:
    LogSink previousSink_;
};

}  // namespace velaro::test
