// The pointer's side of the light beam.
#include "sampling/PointerBand.h"

#include "sampling/FrameOutput.h"

namespace velaro {

namespace {

// The band starts this far below the bar and is this tall (the beam's reach plus room to move in).
constexpr double kBandOffset = 6;
constexpr double kBandHeight = 30 + 20;
// Once inside, the pointer must move this much further out to leave, so the flag does not flicker.
constexpr double kBandHysteresis = 10;

}  // namespace

PointerBand::PointerBand(PointerSource& pointer, std::function<std::vector<FrameOutput*>()> frameOutputs)
    : pointer_(pointer), frameOutputs_(std::move(frameOutputs)) {}

void PointerBand::update(bool lightReflectionsEnabled, bool masterEnabled) {
    if (lightReflectionsEnabled && masterEnabled)
        installPointerMonitors();
    else
        removePointerMonitors();
}

void PointerBand::installPointerMonitors() {
    if (watch_.isActive()) return;
    updatePointerInBeamBand();
    watch_ = pointer_.watchMotion([this] { updatePointerInBeamBand(); });
}

void PointerBand::removePointerMonitors() {
    watch_.cancel();
    if (pointerInBeamBand()) pointerInBeamBand = false;
}

void PointerBand::setFramesWaitForPointer(bool waiting) {
    if (!waiting) {
        framesWatch_.cancel();
    } else if (!framesWatch_.isActive()) {
        // The analyses read the pointer where it rests when they held the change; its moves are news.
        framesWatch_ = pointer_.watchMotion([this] { cachePointerPosition(); });
    }
}

void PointerBand::updatePointerInBeamBand() {
    const double y = cachePointerPosition();
    const double margin = pointerInBeamBand() ? kBandHysteresis : 0;
    const double top = beamBandMenuBarHeight + kBandOffset;
    const bool inside = top - margin <= y && y <= top + kBandHeight + margin;
    if (inside != pointerInBeamBand()) pointerInBeamBand = inside;
}

double PointerBand::cachePointerPosition() {
    const auto global = pointer_.location();
    const auto topLeft = pointer_.topLeftLocation();
    const double y = topLeft ? topLeft->y : 0;
    if (global) {
        const Point cached{global->x, y};
        for (FrameOutput* output : frameOutputs_ ? frameOutputs_() : std::vector<FrameOutput*>{}) {
            if (output) output->setCachedPointer(cached);
        }
    }
    return y;
}

}  // namespace velaro
