// The main loop's longest stand while other programs' windows change in a burst: 100 managed windows of
// another client raised in turn, a quarter of them unmapped and mapped again, over and over, with the
// panel and the window manager of the test desktop at work. The overlay windows (a band under the panel, a
// corner at the normal level) re-read the stack after each change on the main loop; the bare app, a plain
// Qt window doing nothing in a process of its own, meets the same bursts with the same gap timer.
#include <benchmark/benchmark.h>

#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchDesktop.h"
#include "LoopGaps.h"
#include "base/QtMainLoop.h"
#include "platform/linux/QtOverlayWindowHost.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XdgAppCatalog.h"

namespace {

using namespace velaro;
using bench::LoopGap;
using bench::LoopGaps;

// The overlay host needs Qt's own X connection: this program runs on the desktop's display.
[[maybe_unused]] const bool kOnDisplay = [] {
    if (!std::getenv(bench::kBareAppVariable)) setenv("QT_QPA_PLATFORM", "xcb", 0);
    return bench::startDesktopFirst();
}();

constexpr int kWindows = 100;
constexpr int kPasses = 4;
constexpr int kBursts = 15;
// After its requests are in, a burst goes on in the window manager's and the panel's answers a while.
constexpr double kSettleSeconds = 0.6;

// Runs the main loop until `done` holds (checked every millisecond), then `after` seconds more.
void runLoopUntil(const std::function<bool()>& done, double after) {
    QEventLoop events;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) events.quit();
    });
    check.start(1);
    events.exec();
    check.stop();
    QTimer::singleShot(static_cast<int>(after * 1000), &events, &QEventLoop::quit);
    events.exec();
}

std::vector<LoopGap> readGaps(const std::string& path) {
    std::vector<LoopGap> gaps;
    std::ifstream in(path);
    LoopGap gap;
    while (in >> gap.end >> gap.length) gaps.push_back(gap);
    return gaps;
}

// Counters, in milliseconds, over the bursts (each burst's longest stand, from its first request until the
// desktop settled): app_ms and baseline_ms their medians, app_max_ms and baseline_max_ms the longest;
// ratio app_ms / baseline_ms.
void BM_MainLoopStandDuringRestackBurst(benchmark::State& state) {
    std::string why;
    if (!bench::ensureDesktop(&why)) return state.SkipWithError(why.c_str());
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return state.SkipWithError("needs the xcb platform (QT_QPA_PLATFORM=xcb)");
    XdgAppCatalog catalog{{"/nonexistent"}};
    auto session = X11Session::open({}, X11Session::qtPixelRatio(), catalog);
    if (!session) return state.SkipWithError("no X session");
    QtMainLoop loop;
    QtOverlayWindowHost host(loop, session.get());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    auto paint = [](QPainter& p, Size s) {
        p.fillRect(QRectF(0, 0, s.width, s.height), QColor(120, 20, 90));
    };
    auto band = host.makeWindow({"overlay-band", Rect(0, screen.height() - 40, screen.width(), 40),
                                 OverlayWindowLevel::belowPanel, 1.0, paint});
    auto corner =
        host.makeWindow({"overlay-corner", Rect(0, 0, 24, 24), OverlayWindowLevel::normal, 1.0, paint});
    band->orderFrontRegardless();
    corner->orderFrontRegardless();

    bench::ClientWindows others(kWindows);
    if (!others.managed()) return state.SkipWithError("the window manager did not take the windows in");
    const std::string gapsPath =
        (bench::fs::temp_directory_path() / ("velaro-bench-gaps-" + std::to_string(getpid()))).string();
    bench::Child bare(bench::selfProgram(), "{}",
                      {{bench::kBareAppVariable, "gaps"}, {bench::kBareGapsVariable, gapsPath}});
    std::vector<LoopGap> appGaps;
    LoopGaps gaps([&](const LoopGap& gap) { appGaps.push_back(gap); });
    runLoopUntil([] { return true; }, 2.0);  // both windows shown, the desktop quiet

    std::vector<std::pair<double, double>> bursts;
    for (auto _ : state) {
        for (int burst = 0; burst < kBursts; ++burst) {
            std::atomic<bool> sent{false};
            const double start = LoopGaps::now();
            std::thread churn([&] {
                others.churn(kPasses);
                sent = true;
            });
            runLoopUntil([&] { return sent.load(); }, kSettleSeconds);
            churn.join();
            bursts.emplace_back(start, LoopGaps::now());
        }
    }
    const auto bareGaps = readGaps(gapsPath);
    std::remove(gapsPath.c_str());
    std::vector<double> app, baseline;
    for (const auto& [from, to] : bursts) {
        app.push_back(bench::longestGap(appGaps, from, to) * 1000);
        baseline.push_back(bench::longestGap(bareGaps, from, to) * 1000);
    }
    if (bareGaps.empty()) return state.SkipWithError("the bare app noted nothing");
    state.counters["app_ms"] = bench::median(app);
    state.counters["app_max_ms"] = *std::max_element(app.begin(), app.end());
    state.counters["baseline_ms"] = bench::median(baseline);
    state.counters["baseline_max_ms"] = *std::max_element(baseline.begin(), baseline.end());
    state.counters["ratio"] = bench::median(app) / std::max(bench::median(baseline), 1e-3);
    state.counters["windows"] = kWindows;
}
BENCHMARK(BM_MainLoopStandDuringRestackBurst)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
