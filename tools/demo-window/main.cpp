// velaro-demo-window RRGGBB [--maximised] [--place=X,Y,W,H] [--unmanaged] [--decorated] [--title=T]
//                    [--instance=I] [--class=C] [--commands]
// Shows a window of one colour as another program's: without a place, maximised over the whole screen and
// undecorated, so the demo desktop has a window filling the top of the screen whose colour the band takes on.
// It stays until it is killed; with --commands (the desktop tests) it writes the window's id (four bytes) to
// standard output, repaints it in each colour (four bytes, 0xRRGGBB) read from standard input, and ends with
// the input.
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::uint32_t rgb = 0;
    bool maximised = false, unmanaged = false, decorated = false, placed = false, commands = false;
    int x = 0, y = 0, width = 0, height = 0;
    std::string title, instance = "velaro-demo-window", className = "VelaroDemoWindow";
};

bool startsWith(const char* arg, const char* prefix, const char** rest) {
    const std::size_t n = std::strlen(prefix);
    if (std::strncmp(arg, prefix, n) != 0) return false;
    *rest = arg + n;
    return true;
}

bool parse(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    const char* colour = argv[1][0] == '#' ? argv[1] + 1 : argv[1];
    if (std::strlen(colour) != 6 || std::strspn(colour, "0123456789abcdefABCDEF") != 6) return false;
    o.rgb = static_cast<std::uint32_t>(std::strtoul(colour, nullptr, 16));
    for (int i = 2; i < argc; ++i) {
        const char* v = nullptr;
        if (!std::strcmp(argv[i], "--maximised"))
            o.maximised = true;
        else if (!std::strcmp(argv[i], "--unmanaged"))
            o.unmanaged = true;
        else if (!std::strcmp(argv[i], "--decorated"))
            o.decorated = true;
        else if (!std::strcmp(argv[i], "--commands"))
            o.commands = true;
        else if (startsWith(argv[i], "--title=", &v))
            o.title = v;
        else if (startsWith(argv[i], "--instance=", &v))
            o.instance = v;
        else if (startsWith(argv[i], "--class=", &v))
            o.className = v;
        else if (startsWith(argv[i], "--place=", &v)) {
            if (std::sscanf(v, "%d,%d,%d,%d", &o.x, &o.y, &o.width, &o.height) != 4 || o.width <= 0 ||
                o.height <= 0)
                return false;
            o.placed = true;
        } else {
            return false;
        }
    }
    if (!o.placed) o.maximised = true;
    return true;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: velaro-demo-window RRGGBB [--maximised] [--place=X,Y,W,H] [--unmanaged] "
                     "[--decorated] [--title=T] [--instance=I] [--class=C] [--commands]\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "velaro-demo-window: cannot open the display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!o.placed) o.width = screen->width_in_pixels, o.height = screen->height_in_pixels;
    const xcb_window_t w = xcb_generate_id(c);
    const std::uint32_t values[] = {o.rgb, o.unmanaged ? 1u : 0u};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, static_cast<std::int16_t>(o.x),
                      static_cast<std::int16_t>(o.y), static_cast<std::uint16_t>(o.width),
                      static_cast<std::uint16_t>(o.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    const std::string wmClass = o.instance + '\0' + o.className + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
    if (!o.title.empty())
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(o.title.size()), o.title.data());
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
    if (o.placed) {
        // The user's position and size, and the program's: the window manager keeps the window there.
        std::uint32_t sizeHints[18] = {1 | 2 | 4 | 8};
        sizeHints[1] = static_cast<std::uint32_t>(o.x), sizeHints[2] = static_cast<std::uint32_t>(o.y);
        sizeHints[3] = static_cast<std::uint32_t>(o.width),
        sizeHints[4] = static_cast<std::uint32_t>(o.height);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 32,
                            18, sizeHints);
    }
    if (o.maximised) {
        const xcb_atom_t state[] = {atom(c, "_NET_WM_STATE_MAXIMIZED_VERT"),
                                    atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ")};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2,
                            state);
    }
    if (!o.decorated) {
        // Without a title bar the strip under the panel is the window's own colour.
        const std::uint32_t noDecorations[] = {2, 0, 0, 0, 0};
        const xcb_atom_t hints = atom(c, "_MOTIF_WM_HINTS");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, hints, hints, 32, 5, noDecorations);
    }
    xcb_map_window(c, w);
    xcb_flush(c);
    if (o.commands) {
        if (write(STDOUT_FILENO, &w, sizeof w) != sizeof w) return 1;
        close(STDOUT_FILENO);
        std::uint32_t next;
        while (read(STDIN_FILENO, &next, sizeof next) == sizeof next) {
            xcb_change_window_attributes(c, w, XCB_CW_BACK_PIXEL, &next);
            xcb_clear_area(c, 0, w, 0, 0, 0, 0);
            xcb_flush(c);
        }
    } else {
        while (xcb_generic_event_t* event = xcb_wait_for_event(c)) std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
