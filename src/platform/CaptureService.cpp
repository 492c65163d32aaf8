// Content filter construction and the rule that decides which windows a display filter leaves out.
#include "platform/CaptureService.h"

#include <algorithm>

namespace velaro {

ContentFilter ContentFilter::displayExcludingApplications(CaptureDisplay display,
                                                          std::vector<CaptureApplication> applications,
                                                          std::vector<CaptureWindow> exceptingWindows) {
    ContentFilter f;
    f.kind = Kind::display;
    f.display = display;
    f.excludedApplications = std::move(applications);
    f.exceptingWindows = std::move(exceptingWindows);
    return f;
}

ContentFilter ContentFilter::displayExcludingWindows(CaptureDisplay display,
                                                     std::vector<CaptureWindow> windows) {
    ContentFilter f;
    f.kind = Kind::display;
    f.display = display;
    f.excludedWindows = std::move(windows);
    return f;
}

ContentFilter ContentFilter::desktopIndependentWindow(CaptureWindow window) {
    ContentFilter f;
    f.kind = Kind::window;
    f.window = std::move(window);
    return f;
}

bool ContentFilter::excludes(std::int64_t pid, std::uint32_t windowID, bool isPanel) const {
    if (kind != Kind::display) return false;
    const auto sameWindow = [windowID](const CaptureWindow& w) { return w.windowID == windowID; };
    if (std::any_of(excludedWindows.begin(), excludedWindows.end(), sameWindow)) return true;
    if (std::any_of(exceptingWindows.begin(), exceptingWindows.end(), sameWindow)) return false;
    // A window whose process is unknown cannot belong to an excluded application: process 0 never matches.
    if (pid > 0 && std::any_of(excludedApplications.begin(), excludedApplications.end(),
                               [pid](const CaptureApplication& a) { return a.processID == pid; }))
        return true;
    return isPanel && !includeMenuBar;
}

}  // namespace velaro
