// The pointer's side of the light beam: watches the pointer while the beam can show, keeps every frame
// analysis's pointer cache current, and publishes whether the pointer lies in the beam band under the bar.
// The caches are also kept current while a frame analysis waits for the pointer to leave the bar.
#pragma once

#include <functional>
#include <vector>

#include "base/Cancellable.h"
#include "base/Published.h"
#include "platform/PointerSource.h"

namespace velaro {

class FrameOutput;

class PointerBand {
public:
    // `frameOutputs` lists the frame analyses whose pointer caches are fed, the primary screen's first.
    PointerBand(PointerSource& pointer, std::function<std::vector<FrameOutput*>()> frameOutputs);

    // True while the pointer lies in the beam band; written only when it changes.
    Published<bool> pointerInBeamBand{false};
    // Height of the bar the band hangs under, in points (set by the overlay once it knows it).
    double beamBandMenuBarHeight = 24;

    // The pointer is watched only while light reflections and the master switch are both on.
    void update(bool lightReflectionsEnabled, bool masterEnabled);
    // A second install while watching adds nothing.
    void installPointerMonitors();
    // Stops watching and clears the band flag.
    void removePointerMonitors();
    // Watches the pointer for the frame analyses alone, while one of them waits for it to move.
    void setFramesWaitForPointer(bool waiting);

    void updatePointerInBeamBand();
    // Writes the pointer into every frame analysis and returns its y in points below the primary screen's
    // top (0 when there is no screen).
    double cachePointerPosition();

private:
    PointerSource& pointer_;
    std::function<std::vector<FrameOutput*>()> frameOutputs_;
    Cancellable watch_;
    Cancellable framesWatch_;
};

}  // namespace velaro
