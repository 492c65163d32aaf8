// velaro-demo-window #RRGGBB: shows a maximised, undecorated window of one colour until it is killed, so the
// demo desktop has a window filling the top of the screen whose colour the band takes on.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
}

bool parseColour(const char* text, std::uint32_t& rgb) {
    std::string s = text;
    if (!s.empty() && s[0] == '#') s.erase(0, 1);
    if (s.size() != 6 || s.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    rgb = static_cast<std::uint32_t>(std::strtoul(s.c_str(), nullptr, 16));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t rgb = 0;
    if (argc != 2 || !parseColour(argv[1], rgb)) {
        std::fprintf(stderr, "usage: velaro-demo-window #RRGGBB\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "velaro-demo-window: cannot open the display\n");
        return 1;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, screen->width_in_pixels,
                      screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL, &rgb);
    const char wmClass[] = "velaro-demo-window\0VelaroDemoWindow";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                        wmClass);
    const xcb_atom_t maximised[] = {atom(c, "_NET_WM_STATE_MAXIMIZED_VERT"),
                                    atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ")};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2,
                        maximised);
    // Without a title bar the strip under the panel is the window's own colour.
    const std::uint32_t noDecorations[] = {2, 0, 0, 0, 0};
    const xcb_atom_t motifHints = atom(c, "_MOTIF_WM_HINTS");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, motifHints, motifHints, 32, 5, noDecorations);
    xcb_map_window(c, w);
    xcb_flush(c);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) std::free(event);
    xcb_disconnect(c);
    return 0;
}
