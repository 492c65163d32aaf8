// The defaults file against plain nlohmann JSON work on the same bytes: what our decoding, merging and
// atomic replacement add on top of the parse and the write themselves.
#include <benchmark/benchmark.h>

#include <QSaveFile>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "base/QtMainLoop.h"
#include "platform/linux/JsonDefaultsStore.h"

namespace velaro {
namespace {

// About a hundred keys shaped like the app's settings: switches, numbers, names, colour lists, and a few
// records stored as JSON data.
PlistValue typicalSettings() {
    PlistValue stored = PlistValue::object();
    for (int i = 0; i < 40; ++i) stored["switch" + std::to_string(i)] = i % 3 == 0;
    for (int i = 0; i < 35; ++i) stored["amount" + std::to_string(i)] = 0.125 * i + 1.0;
    for (int i = 0; i < 5; ++i) stored["count" + std::to_string(i)] = 15 * i;
    for (int i = 0; i < 10; ++i) stored["mode" + std::to_string(i)] = "rainbow" + std::to_string(i);
    for (int i = 0; i < 5; ++i)
        stored["palette" + std::to_string(i)] = {"#FF6F62", "#FF699C", "#E97EF5", "#FF874A",
                                                 "#FBDC7A", "#5967FF", "#7D8FFF", "#85E7FF"};
    const std::string record =
        R"({"pillEnabled":true,"topLeftEnabled":true,"topLeftRadius":12.5,"topRightEnabled":false,)"
        R"("bottomLeftEnabled":true,"bottomLeftRadius":8,"topColorMode":"Follow Overlay",)"
        R"("bottomColorMode":"Black","customColor":"#112233","linked":true})";
    for (int i = 0; i < 5; ++i)
        stored["record" + std::to_string(i)] = plistData(Bytes(record.begin(), record.end()));
    return stored;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct DefaultsFile {
    DefaultsFile() : path(dir.filePath("defaults.json").toStdString()) {
        std::ofstream(path, std::ios::binary) << encodeDefaultsFile(typicalSettings());
    }
    QTemporaryDir dir;
    std::string path;
};

void BM_DefaultsStoreLoad(benchmark::State& state) {
    DefaultsFile file;
    QtMainLoop loop;
    for (auto _ : state) {
        JsonDefaultsStore store(loop, file.path);
        benchmark::DoNotOptimize(store.hasStoredValue("record4"));
    }
}
BENCHMARK(BM_DefaultsStoreLoad);

void BM_DefaultsStoreLoad_Baseline(benchmark::State& state) {
    DefaultsFile file;
    for (auto _ : state) {
        auto parsed = nlohmann::json::parse(readAll(file.path));
        benchmark::DoNotOptimize(parsed.size());
    }
}
BENCHMARK(BM_DefaultsStoreLoad_Baseline);

// One changed key written out: read back and compare the file, encode, replace atomically.
void BM_DefaultsStoreWrite(benchmark::State& state) {
    DefaultsFile file;
    QtMainLoop loop;
    JsonDefaultsStore store(loop, file.path);
    double amount = 0;
    for (auto _ : state) {
        store.set("amount0", amount += 1.0);
        benchmark::DoNotOptimize(store.flush());
    }
}
BENCHMARK(BM_DefaultsStoreWrite);

void BM_DefaultsStoreWrite_Baseline(benchmark::State& state) {
    DefaultsFile file;
    auto json = nlohmann::json::parse(readAll(file.path));
    double amount = 0;
    for (auto _ : state) {
        json["amount0"] = amount += 1.0;
        const std::string text = json.dump(2);
        QSaveFile out(QString::fromStdString(file.path));
        out.open(QIODevice::WriteOnly);
        out.write(text.data(), static_cast<qint64>(text.size()));
        benchmark::DoNotOptimize(out.commit());
    }
}
BENCHMARK(BM_DefaultsStoreWrite_Baseline);

}  // namespace
}  // namespace velaro
