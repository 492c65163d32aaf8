// Window control on X11: the maximise button of a window-manager title bar found from the frame extents
// and the title-bar layout, and EWMH requests that raise, activate and fill another program's window.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WindowControl.h"

namespace velaro {

class X11Session;

// The title-bar layout of the window manager named `windowManager`, from its configuration file's text:
// openbox's <titleLayout>, e.g. "NLIMC" (N icon, L label, I iconify, M maximise, C close, S shade, D all
// desktops), or openbox's default when the file names none. Nothing for other window managers, whose title
// bars are not laid out this way: guessing could take their close button for the maximise button.
std::optional<std::string> titleLayoutFor(std::string_view windowManager, std::string_view configXml);

// Which layout letter a title-bar button stands for. `siblings` are the visible windows that share the
// button's parent (root pixels; the button among them): square ones are buttons, the widest one the label.
// Letters left of L sit left of the label in order, those right of it right of it. `present` holds the
// letters this window shows; when their count does not match the buttons found, every letter is tried.
std::optional<char> titleButtonLetter(std::string_view layout, const std::vector<Rect>& siblings,
                                      const Rect& button, const std::set<char>& present);

class X11WindowControl final : public WindowControl {
public:
    // The session must outlive the service. Any thread.
    explicit X11WindowControl(X11Session& session);
    ~X11WindowControl() override;

    std::optional<MaximiseButton> maximiseButtonAt(Point point, std::int64_t windowNumber) override;
    std::optional<bool> isFullScreen(WindowHandle window) override;
    std::optional<std::int32_t> processOf(WindowHandle window) override;
    WindowActionResult raise(WindowHandle window) override;
    WindowActionResult activate(WindowHandle window) override;
    WindowActionResult fill(WindowHandle window) override;

private:
    // Whether the window still exists.
    bool exists(std::uint32_t window);
    std::vector<std::string> atomList(std::uint32_t window, const char* property);
    void sendToRoot(std::uint32_t window, const char* message, const std::vector<std::uint32_t>& data);
    // The frame's outer rectangle in root pixels and the frame extents (left, right, top, bottom).
    std::optional<std::pair<Rect, std::vector<std::uint32_t>>> frameOf(std::uint32_t window);

    // The title layout of the running window manager, from the answers to its check window and its
    // configuration file; nothing when it has no known layout.
    std::optional<std::string> layoutOf(const std::vector<std::uint32_t>& checkWindow,
                                        const std::string& configPath);

    std::mutex mutex_;  // one caller at a time (the caches below): the tap's thread and the fill queue
    X11Session& session_;
    // Read once per window manager and per version of its configuration file.
    std::uint32_t cachedCheckWindow_ = 0;
    std::string cachedWindowManager_;
    std::optional<std::optional<std::string>> cachedLayout_;
    std::string cachedConfigPath_;
    std::filesystem::file_time_type cachedConfigTime_;
    std::string cachedLayoutWindowManager_;
};

}  // namespace velaro
