// The test desktop's only output (the null sink velaro_null) unplugged, as a headset is, until restore() or
// the end of the test; back, it is the default output again.
#pragma once

#include <utility>

#include "e2e/E2eSupport.h"

namespace velaro::e2e {

class OutputUnplugged {
public:
    OutputUnplugged() : unloaded_(pactl({"unload-module", "module-null-sink"})) {}
    ~OutputUnplugged() { restore(); }
    OutputUnplugged(const OutputUnplugged&) = delete;
    OutputUnplugged& operator=(const OutputUnplugged&) = delete;

    bool unloaded() const { return unloaded_; }
    void restore() {
        if (!std::exchange(unloaded_, false)) return;
        pactl({"load-module", "module-null-sink", "sink_name=velaro_null",
               "sink_properties=device.description=Velaro-null-output"});
        pactl({"set-default-sink", "velaro_null"});
    }

private:
    static bool pactl(const QStringList& arguments) { return run("pactl", arguments).exitCode == 0; }
    bool unloaded_;
};

}  // namespace velaro::e2e
