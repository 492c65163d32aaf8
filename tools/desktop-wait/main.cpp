// velaro-desktop-wait: waits, driven by X events and bounded by a timeout, until the test desktop is ready.
//
// Starting a desktop piece by piece is only reliable when each step waits for the previous one to take
// effect: the window manager owning WM_S0, the compositor owning _NET_WM_CM_S0, the panel's strut showing in
// _NET_WORKAREA, the tray owning _NET_SYSTEM_TRAY_S0. A fixed sleep is either too long or, on a loaded CI
// machine, too short; this helper watches the root window instead and returns as soon as all conditions hold.
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <poll.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kExitReady = 0;
constexpr int kExitTimedOut = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: velaro-desktop-wait [--timeout SECONDS] CONDITION...\n"
    "Waits until every CONDITION holds on $DISPLAY, then exits 0; exits 1 when the timeout (default 10 s)\n"
    "passes first, 2 on bad arguments or when the display cannot be opened.\n"
    "Conditions:\n"
    "  selection NAME     the selection NAME has an owner (WM_S0, _NET_WM_CM_S0, _NET_SYSTEM_TRAY_S0, ...)\n"
    "  workarea-top PX    _NET_WORKAREA of the current desktop starts PX pixels below the top of the "
    "screen\n"
    "Before waiting it can also paint the desktop background:\n"
    "  root-colour #RRGGBB  fills the root window and publishes the fill as _XROOTPMAP_ID, the property a\n"
    "                       compositor paints the background from (a plain root colour it ignores)\n";

struct Condition {
    enum class Kind { Selection, WorkareaTop } kind;
    std::string selection;  // Selection: the selection's atom name
    long top = 0;           // WorkareaTop: the expected y of the work area
    xcb_atom_t atom = XCB_ATOM_NONE;
};

struct Options {
    double timeoutSeconds = 10;
    std::vector<Condition> conditions;
    std::optional<uint32_t> rootColour;  // 0xRRGGBB
};

std::optional<double> parseNumber(const char* text, bool integral) {
    if (!text || !*text) return std::nullopt;
    char* end = nullptr;
    const double value =
        integral ? static_cast<double>(std::strtol(text, &end, 10)) : std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

// Returns the options, or an error message naming the argument that is wrong.
std::optional<Options> parseArguments(int argc, char** argv, std::string& error) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--timeout") {
            const auto seconds = parseNumber(next, false);
            if (!seconds || *seconds <= 0) {
                error = "--timeout needs a positive number of seconds";
                return std::nullopt;
            }
            options.timeoutSeconds = *seconds;
            ++i;
        } else if (arg == "selection") {
            if (!next || !*next) {
                error = "selection needs the name of a selection";
                return std::nullopt;
            }
            options.conditions.push_back({Condition::Kind::Selection, next});
            ++i;
        } else if (arg == "workarea-top") {
            const auto top = parseNumber(next, true);
            if (!top) {
                error = "workarea-top needs a number of pixels";
                return std::nullopt;
            }
            options.conditions.push_back({Condition::Kind::WorkareaTop, {}, static_cast<long>(*top)});
            ++i;
        } else if (arg == "root-colour") {
            const std::string hex = next ? next : "";
            char* end = nullptr;
            const unsigned long rgb =
                hex.size() == 7 && hex[0] == '#' ? std::strtoul(hex.c_str() + 1, &end, 16) : 0;
            if (!end || *end != '\0' || hex.find_first_of("+- ", 1) != std::string::npos) {
                error = "root-colour needs a colour written #RRGGBB";
                return std::nullopt;
            }
            options.rootColour = static_cast<uint32_t>(rgb);
            ++i;
        } else {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    if (options.conditions.empty() && !options.rootColour) {
        error = "no condition given";
        return std::nullopt;
    }
    return options;
}

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> owned(T* reply) {
    return Reply<T>(reply, &std::free);
}

xcb_atom_t internAtom(xcb_connection_t* connection, const std::string& name) {
    auto reply = owned(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Reads a CARDINAL[] property of the root window; empty when it is not set.
std::vector<uint32_t> cardinals(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t property) {
    auto reply = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, property, XCB_ATOM_CARDINAL, 0, 1024), nullptr));
    if (!reply || reply->format != 32) return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

class Desktop {
public:
    Desktop(xcb_connection_t* connection, xcb_window_t root) : connection_(connection), root_(root) {
        workarea_ = internAtom(connection, "_NET_WORKAREA");
        currentDesktop_ = internAtom(connection, "_NET_CURRENT_DESKTOP");
    }

    // Empty when the condition holds, otherwise what is seen instead (for the timeout message).
    std::string unmet(const Condition& condition) const {
        switch (condition.kind) {
            case Condition::Kind::Selection: {
                auto reply = owned(xcb_get_selection_owner_reply(
                    connection_, xcb_get_selection_owner(connection_, condition.atom), nullptr));
                if (reply && reply->owner != XCB_WINDOW_NONE) return {};
                return "the selection " + condition.selection + " has no owner";
            }
            case Condition::Kind::WorkareaTop: {
                const auto area = cardinals(connection_, root_, workarea_);
                const auto current = cardinals(connection_, root_, currentDesktop_);
                const size_t desktop = current.empty() ? 0 : current[0];
                if (area.size() < (desktop + 1) * 4) return "_NET_WORKAREA is not set";
                const long top = static_cast<long>(area[desktop * 4 + 1]);
                if (top == condition.top) return {};
                return "the work area of desktop " + std::to_string(desktop) +
                       " starts at y=" + std::to_string(top) + ", not " + std::to_string(condition.top);
            }
        }
        return "unknown condition";
    }

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t workarea_;
    xcb_atom_t currentDesktop_;
};

// Shifts an 8-bit channel into the place a TrueColor visual's mask gives it.
uint32_t placeChannel(uint32_t value8, uint32_t mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    int bits = 0;
    while ((mask >> (shift + bits)) & 1) ++bits;
    const uint32_t scaled = bits >= 8 ? value8 << (bits - 8) : value8 >> (8 - bits);
    return (scaled << shift) & mask;
}

// Fills the root with a small tile of the colour and keeps that tile alive after we disconnect, so that both
// the X server (no compositor) and a compositor reading _XROOTPMAP_ID show it.
void paintRoot(xcb_connection_t* connection, const xcb_screen_t& screen, uint32_t rgb) {
    uint32_t pixel = rgb;
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem; xcb_depth_next(&depths)) {
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
             xcb_visualtype_next(&visuals)) {
            const xcb_visualtype_t& visual = *visuals.data;
            if (visual.visual_id != screen.root_visual) continue;
            pixel = placeChannel((rgb >> 16) & 0xff, visual.red_mask) |
                    placeChannel((rgb >> 8) & 0xff, visual.green_mask) |
                    placeChannel(rgb & 0xff, visual.blue_mask);
        }
    }
    const xcb_pixmap_t tile = xcb_generate_id(connection);
    xcb_create_pixmap(connection, screen.root_depth, tile, screen.root, 8, 8);
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, tile, XCB_GC_FOREGROUND, &pixel);
    const xcb_rectangle_t whole{0, 0, 8, 8};
    xcb_poly_fill_rectangle(connection, tile, gc, 1, &whole);
    xcb_free_gc(connection, gc);
    xcb_change_window_attributes(connection, screen.root, XCB_CW_BACK_PIXMAP, &tile);
    for (const char* name : {"_XROOTPMAP_ID", "ESETROOT_PMAP_ID"}) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, screen.root, internAtom(connection, name),
                            XCB_ATOM_PIXMAP, 32, 1, &tile);
    }
    xcb_clear_area(connection, 0, screen.root, 0, 0, 0, 0);
    xcb_set_close_down_mode(connection, XCB_CLOSE_DOWN_RETAIN_PERMANENT);
    xcb_flush(connection);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options = parseArguments(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "velaro-desktop-wait: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    const char* display = std::getenv("DISPLAY");
    const char* displayName = display ? display : "(DISPLAY is not set)";
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "velaro-desktop-wait: cannot open the display '%s'\n", displayName);
        xcb_disconnect(connection);
        return kExitUsage;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    const xcb_window_t root = screens.data->root;
    if (options->rootColour) paintRoot(connection, *screens.data, *options->rootColour);

    // Subscribe before the first check, so that a change between the check and the wait still wakes us.
    const uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &rootEvents);
    const auto* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
    const bool haveXfixes = xfixes && xfixes->present;
    if (haveXfixes)
        owned(
            xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 5, 0), nullptr));
    for (auto& condition : options->conditions) {
        if (condition.kind != Condition::Kind::Selection) continue;
        condition.atom = internAtom(connection, condition.selection);
        if (haveXfixes) {
            xcb_xfixes_select_selection_input(connection, root, condition.atom,
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                                  XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                                  XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        }
    }
    xcb_flush(connection);

    const Desktop desktop(connection, root);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(options->timeoutSeconds);
    std::string firstUnmet;
    for (;;) {
        firstUnmet.clear();
        for (const auto& condition : options->conditions) {
            firstUnmet = desktop.unmet(condition);
            if (!firstUnmet.empty()) break;
        }
        if (firstUnmet.empty()) break;

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        // Without XFixes no event tells of a new selection owner, so look again at least every 50 ms.
        const int waitMs = haveXfixes ? static_cast<int>(left.count()) : std::min<int>(50, left.count());
        // Replies read during the checks may have queued events already; they count as a wake-up.
        if (xcb_generic_event_t* queued = xcb_poll_for_queued_event(connection)) {
            std::free(queued);
        } else {
            pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
            poll(&descriptor, 1, waitMs);
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) std::free(event);
        if (xcb_connection_has_error(connection)) {
            std::fprintf(stderr, "velaro-desktop-wait: the display '%s' closed the connection\n",
                         displayName);
            xcb_disconnect(connection);
            return kExitUsage;
        }
    }
    xcb_disconnect(connection);
    if (!firstUnmet.empty()) {
        std::fprintf(stderr, "velaro-desktop-wait: gave up after %g s on %s: %s\n", options->timeoutSeconds,
                     displayName, firstUnmet.c_str());
        return kExitTimedOut;
    }
    return kExitReady;
}
