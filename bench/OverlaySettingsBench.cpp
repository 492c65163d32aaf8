// Loading every setting at launch (migrations, resolve, write-back) over a defaults file that holds every
// key, against parsing that same file: what the settings store adds to reading the file itself.
#include <benchmark/benchmark.h>

#include <string>

#include "base/QtMainLoop.h"
#include "platform/linux/defaults/DefaultsFileFormat.h"
#include "settings/OverlaySettings.h"

namespace velaro {
namespace {

// Keeps values in memory, so the measurement has no file writes in it.
class MemoryStore final : public LayeredDefaultsStore {
public:
    explicit MemoryStore(PlistValue stored) { domain_.replaceStored(std::move(stored)); }
    void set(const std::string& key, PlistValue value) override { domain_.set(key, std::move(value)); }
    void remove(const std::string& key) override { domain_.remove(key); }
};

// The text of a defaults file in which every setting is stored, the records included.
std::string fullDefaultsFile() {
    QtMainLoop loop;
    MemoryStore store(PlistValue::object());
    for (const auto key : settings_keys::allKeys()) {
        auto value = settings_keys::storedDefault(key);
        if (!value.is_null()) store.set(std::string(key), std::move(value));
    }
    OverlaySettings settings(store, loop);
    auto corners = settings.corners();
    corners.screenTopLeftEnabled = true;
    settings.corners = corners;
    auto drift = settings.hueDrift();
    drift.enabled = true;
    settings.hueDrift = drift;
    auto shortcuts = settings.appShortcuts();
    shortcuts.assign(ShortcutAction::master, ShortcutKeyCombo{46, 0x1800});
    settings.appShortcuts = shortcuts;
    settings.setMulticolorEnabled(true);
    settings.style = MenuBarStyle::gradient;
    return encodeDefaultsFile(store.persistentDomain());
}

void BM_ConstructOverlaySettings(benchmark::State& state) {
    const auto text = fullDefaultsFile();
    QtMainLoop loop;
    for (auto _ : state) {
        MemoryStore store(*decodeDefaultsFile(text));
        OverlaySettings settings(store, loop);
        benchmark::DoNotOptimize(settings.vizEnabled());
    }
}
BENCHMARK(BM_ConstructOverlaySettings);

void BM_ConstructOverlaySettings_Baseline(benchmark::State& state) {
    const auto text = fullDefaultsFile();
    for (auto _ : state) {
        auto parsed = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(parsed.size());
    }
}
BENCHMARK(BM_ConstructOverlaySettings_Baseline);

}  // namespace
}  // namespace velaro
