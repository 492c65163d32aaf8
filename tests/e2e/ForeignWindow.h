// A window of another process, as the sampler, the window list and the window manager see any program's
// window: a forked child speaking plain xcb shows it in one colour without decorations, maximised or at a
// place of the user's, and repaints it on request. The window goes with this object.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QRect>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace velaro::e2e {

class ForeignWindow {
public:
    struct Options {
        std::uint32_t rgb = 0;  // 0xRRGGBB
        bool maximised = false;
        // Where the window goes, as the user placed it (the window manager keeps it); else a default place.
        std::optional<QRect> place;
        std::string instance = "foreign-window";
        std::string className = "ForeignWindow";
    };

    explicit ForeignWindow(Options options) {
        // Close-on-exec, so that no program started meanwhile holds the command pipe open after this ends.
        int toChild[2], toParent[2];
        if (pipe2(toChild, O_CLOEXEC) != 0) return;
        if (pipe2(toParent, O_CLOEXEC) != 0) {
            close(toChild[0]);
            close(toChild[1]);
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]);
            close(toParent[0]);
            runChild(options, toChild[0], toParent[1]);
        }
        close(toChild[0]);
        close(toParent[1]);
        commands_ = toChild[1];
        if (read(toParent[0], &window_, sizeof window_) != sizeof window_) window_ = 0;
        close(toParent[0]);
    }
    ~ForeignWindow() {
        if (pid_ <= 0) return;
        close(commands_);  // the end of the commands ends the child
        waitpid(pid_, nullptr, 0);
    }
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    pid_t pid() const { return pid_; }
    std::uint32_t window() const { return window_; }
    void paint(std::uint32_t rgb) { (void)!write(commands_, &rgb, sizeof rgb); }

private:
    // Only xcb and plain system calls: the child of a threaded process must not touch Qt.
    [[noreturn]] static void runChild(const Options& options, int commands, int answer) {
        keepOnly(commands, answer);
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) _exit(1);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t w = xcb_generate_id(c);
        const QRect place = options.place.value_or(QRect(100, 100, 400, 300));
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, place.x(), place.y(), place.width(),
                          place.height(), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL, &options.rgb);
        auto atom = [c](const char* name) {
            auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
            const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
            std::free(r);
            return a;
        };
        const std::string wmClass = options.instance + '\0' + options.className + '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            wmClass.size(), wmClass.data());
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        if (options.place) {
            std::uint32_t sizeHints[18] = {1 | 2 | 4 |
                                           8};  // user position and size, program position and size
            sizeHints[1] = place.x(), sizeHints[2] = place.y();
            sizeHints[3] = place.width(), sizeHints[4] = place.height();
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                                32, 18, sizeHints);
        }
        if (options.maximised) {
            const xcb_atom_t state[] = {atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                                        atom("_NET_WM_STATE_MAXIMIZED_HORZ")};
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2,
                                state);
        }
        // Without a title bar the strip under the panel is the window's own colour.
        const std::uint32_t noDecorations[] = {2, 0, 0, 0, 0};
        const xcb_atom_t hints = atom("_MOTIF_WM_HINTS");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, hints, hints, 32, 5, noDecorations);
        xcb_map_window(c, w);
        xcb_flush(c);
        (void)!write(answer, &w, sizeof w);
        close(answer);
        std::uint32_t next;
        while (read(commands, &next, sizeof next) == sizeof next) {
            xcb_change_window_attributes(c, w, XCB_CW_BACK_PIXEL, &next);
            xcb_clear_area(c, 0, w, 0, 0, 0, 0);
            xcb_flush(c);
        }
        _exit(0);
    }

    // Closes every inherited descriptor but the standard ones, `a` and `b`: the child of another window
    // still holding that window's command pipe would keep it from ever seeing the end of its commands.
    static void keepOnly(int a, int b) {
        const unsigned lo = static_cast<unsigned>(std::min(a, b)), hi = static_cast<unsigned>(std::max(a, b));
        if (lo > 3) close_range(3, lo - 1, 0);
        if (hi > lo + 1) close_range(lo + 1, hi - 1, 0);
        close_range(hi + 1, ~0u, 0);
    }

    pid_t pid_ = -1;
    int commands_ = -1;
    std::uint32_t window_ = 0;
};

}  // namespace velaro::e2e
