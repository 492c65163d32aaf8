// The steps of the sampler's refresh that follow what hangs from the bar: the menu poll that tells the
// overlay when another app's menu has closed while no stream watches, the slide gate's decision from the
// window positions, and the seam hidden under menu surfaces. Each runs on the main thread inside the refresh.
#pragma once

#include <string>

namespace velaro {

class DefaultsStore;
class ScreenSampler;
struct WindowScanResult;

inline constexpr const char* kSeamAutoHideKey = "seamAutoHide";

// With a stream running the frame analysis watches foreign menus and the poll only hands over; without
// one the poll owns the watch. `now` is the loop's uptime in seconds.
void pollMenuTracking(ScreenSampler& sampler, bool foreignMenuSeen, double now);

// Opens or closes the slide gate from one scan, and keeps its window positions for the next.
void updateSlideGate(ScreenSampler& sampler, const WindowScanResult& scan);

// Hides the seam at once under a menu surface (only with "seamAutoHide" on) and shows it again 0.4 s after
// the last refresh that saw one.
void updateSeam(ScreenSampler& sampler, const DefaultsStore& defaults);

}  // namespace velaro
