// The artwork colour of a 3000 × 3000 JPEG cover as the engine takes it from "get" (decoded at a reduced
// size), against the same output decoded in full before the same average (goal: at most 0.3×).
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <nlohmann/json.hpp>

#include "music/ArtworkColor.h"
#include "sampling/ScreenSampler.h"

namespace {

const std::string& coverOutput() {
    static const std::string output = [] {
        QImage image(3000, 3000, QImage::Format_RGB32);
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, 3000, 3000);
        gradient.setColorAt(0, QColor(200, 40, 30));
        gradient.setColorAt(1, QColor(20, 60, 180));
        painter.fillRect(image.rect(), gradient);
        painter.end();
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 90);
        return nlohmann::json(
                   {{"payload", {{"title", "Cover"}, {"artworkData", jpeg.toBase64().toStdString()}}}})
            .dump();
    }();
    return output;
}

void BM_ArtworkColor(benchmark::State& state) {
    const std::string& output = coverOutput();
    for (auto _ : state) benchmark::DoNotOptimize(velaro::decodeArtwork(output));
}
BENCHMARK(BM_ArtworkColor)->Unit(benchmark::kMillisecond);

void BM_ArtworkColor_Baseline(benchmark::State& state) {
    const std::string& output = coverOutput();
    for (auto _ : state) {
        const auto object = nlohmann::json::parse(output);
        const auto& text = object.at("payload").at("artworkData").get_ref<const std::string&>();
        const auto bytes = QByteArray::fromBase64(QByteArray::fromStdString(text));
        benchmark::DoNotOptimize(velaro::ScreenSampler::averageColor(QImage::fromData(bytes)));
    }
}
BENCHMARK(BM_ArtworkColor_Baseline)->Unit(benchmark::kMillisecond);

}  // namespace
