// Window control on X11: title-bar button lookup, EWMH raise, activation and fill to the work area.
#include "platform/linux/X11WindowControl.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/linux/X11Screens.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XcbUtil.h"

namespace velaro {

namespace {

// Openbox's layout when its configuration names none.
constexpr const char* kDefaultLayout = "NLIMC";

bool isSquare(const Rect& r) {
    return r.width() >= 4 && std::abs(r.width() - r.height()) <= 1;
}

// EWMH: the request comes from a pager or similar tool, not from the window's own program, so the window
// manager does not second-guess it.
constexpr std::uint32_t kSourcePager = 2;

}  // namespace

std::optional<std::string> titleLayoutFor(std::string_view windowManager, std::string_view configXml) {
    if (windowManager != "Openbox") return std::nullopt;
    static const std::regex pattern(R"(<titleLayout>\s*([A-Za-z]*)\s*</titleLayout>)");
    std::match_results<std::string_view::const_iterator> match;
    if (std::regex_search(configXml.begin(), configXml.end(), match, pattern) && match[1].length() > 0) {
        std::string layout = match[1].str();
        for (auto& ch : layout) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return layout;
    }
    return kDefaultLayout;
}

std::optional<char> titleButtonLetter(std::string_view layout, const std::vector<Rect>& siblings,
                                      const Rect& button, const std::set<char>& present) {
    if (!isSquare(button)) return std::nullopt;
    std::vector<Rect> squares;
    std::optional<Rect> label;
    for (const auto& r : siblings) {
        if (isSquare(r))
            squares.push_back(r);
        else if (r.width() > 2 * r.height() && (!label || r.width() > label->width()))
            label = r;
    }
    const auto split = layout.find('L');
    const std::string_view leftLetters = split == std::string_view::npos ? layout : layout.substr(0, split);
    const std::string_view rightLetters =
        split == std::string_view::npos ? std::string_view() : layout.substr(split + 1);

    // Buttons in layout order: left ones from the left edge, right ones from the right edge.
    std::sort(squares.begin(), squares.end(),
              [](const Rect& a, const Rect& b) { return a.minX() < b.minX(); });
    const auto tryLetters = [&](bool onlyPresent) -> std::optional<char> {
        auto keep = [&](std::string_view letters) {
            std::string out;
            for (char ch : letters)
                if (!onlyPresent || present.count(ch)) out.push_back(ch);
            return out;
        };
        const std::string left = keep(leftLetters), right = keep(rightLetters);
        std::size_t leftCount = left.size();
        if (label) {
            leftCount = std::count_if(squares.begin(), squares.end(),
                                      [&](const Rect& r) { return r.midX() < label->minX(); });
            if (leftCount != left.size() || squares.size() - leftCount != right.size()) return std::nullopt;
        } else if (squares.size() != left.size() + right.size()) {
            return std::nullopt;
        }
        const std::string ordered = left + right;
        for (std::size_t i = 0; i < squares.size(); ++i)
            if (squares[i] == button) return ordered[i];
        return std::nullopt;
    };
    if (auto letter = tryLetters(true)) return letter;
    return tryLetters(false);
}

X11WindowControl::X11WindowControl(X11Session& session) : session_(session) {
    session_.desktop().intern({"_NET_FRAME_EXTENTS", "_NET_WM_STATE", "_NET_WM_STATE_FULLSCREEN",
                               "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ",
                               "_NET_WM_ALLOWED_ACTIONS", "_NET_ACTIVE_WINDOW", "_NET_RESTACK_WINDOW",
                               "_NET_MOVERESIZE_WINDOW", "_NET_SUPPORTED", "_NET_CLIENT_LIST",
                               "_NET_WM_STRUT_PARTIAL", "_NET_WM_STRUT", "_OB_CONFIG_FILE", "UTF8_STRING"});
}

X11WindowControl::~X11WindowControl() = default;

bool X11WindowControl::exists(std::uint32_t window) {
    auto* c = session_.desktop().get();
    auto attributes =
        x11::awaitReply(c, xcb_get_window_attributes(c, window), xcb_get_window_attributes_reply);
    return attributes != nullptr;
}

std::vector<std::string> X11WindowControl::atomList(std::uint32_t window, const char* property) {
    auto* c = session_.desktop().get();
    auto reply =
        x11::awaitReply(c, x11::askProperty(c, window, session_.desktop().atom(property), XCB_ATOM_ATOM, 64),
                        xcb_get_property_reply);
    std::vector<xcb_get_atom_name_cookie_t> asks;
    for (auto atom : x11::values32(reply.get())) asks.push_back(xcb_get_atom_name(c, atom));
    std::vector<std::string> names;
    for (auto ask : asks)
        if (auto name = x11::awaitReply(c, ask, xcb_get_atom_name_reply))
            names.emplace_back(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
    return names;
}

std::optional<std::pair<Rect, std::vector<std::uint32_t>>> X11WindowControl::frameOf(std::uint32_t window) {
    auto* c = session_.desktop().get();
    auto geometryAsk = xcb_get_geometry(c, window);
    auto translateAsk = xcb_translate_coordinates(c, window, session_.desktop().root(), 0, 0);
    auto extentsAsk =
        x11::askProperty(c, window, session_.desktop().atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    auto geometry = x11::awaitReply(c, geometryAsk, xcb_get_geometry_reply);
    auto translated = x11::awaitReply(c, translateAsk, xcb_translate_coordinates_reply);
    auto extentsReply = x11::awaitReply(c, extentsAsk, xcb_get_property_reply);
    auto extents = x11::values32(extentsReply.get());
    if (!geometry || !translated) return std::nullopt;
    if (extents.size() < 4) extents.assign(4, 0);
    const Rect frame(translated->dst_x - double(extents[0]), translated->dst_y - double(extents[2]),
                     geometry->width + double(extents[0]) + extents[1],
                     geometry->height + double(extents[2]) + extents[3]);
    return std::make_pair(frame, extents);
}

std::optional<MaximiseButton> X11WindowControl::maximiseButtonAt(Point point, std::int64_t windowNumber) {
    // The pointer waits for this answer: requests that do not depend on each other go out together.
    std::lock_guard lock(mutex_);
    auto* c = session_.desktop().get();
    const auto client = static_cast<xcb_window_t>(windowNumber);
    if (client == 0) return std::nullopt;
    const auto root = session_.desktop().root();
    auto actionsAsk =
        x11::askProperty(c, client, session_.desktop().atom("_NET_WM_ALLOWED_ACTIONS"), XCB_ATOM_ATOM, 64);
    auto checkAsk =
        x11::askProperty(c, root, session_.desktop().atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 1);
    auto configAsk =
        x11::askProperty(c, root, session_.desktop().atom("_OB_CONFIG_FILE"), XCB_ATOM_ANY, 1024);
    const auto frame = frameOf(client);
    auto actions = x11::awaitReply(c, actionsAsk, xcb_get_property_reply);
    auto check = x11::awaitReply(c, checkAsk, xcb_get_property_reply);
    auto configPath = x11::awaitReply(c, configAsk, xcb_get_property_reply);

    const auto space = session_.space();
    const Point rootPoint = space.rootFromTopLeft(point);
    const int rootX = static_cast<int>(std::floor(rootPoint.x));
    const int rootY = static_cast<int>(std::floor(rootPoint.y));
    // Only a window-manager title bar: the point between the frame's top and the client's top.
    if (!frame) return std::nullopt;
    const auto& [outer, extents] = *frame;
    if (extents[2] == 0 || !outer.contains({double(rootX), double(rootY)}) ||
        rootY >= outer.minY() + extents[2])
        return std::nullopt;
    const auto layout = layoutOf(x11::values32(check.get()), x11::bytes8(configPath.get()));
    if (!layout) return std::nullopt;

    // Walk down from the root to the deepest window under the point, remembering its parent.
    xcb_window_t parent = root, under = root;
    for (int depth = 0; depth < 16; ++depth) {
        auto t = x11::awaitReply(c, xcb_translate_coordinates(c, root, under, rootX, rootY),
                                 xcb_translate_coordinates_reply);
        if (!t || t->child == XCB_WINDOW_NONE) break;
        parent = under;
        under = t->child;
    }
    if (under == client || parent == root) return std::nullopt;

    // The button's visible siblings, in root pixels.
    auto tree = x11::awaitReply(c, xcb_query_tree(c, parent), xcb_query_tree_reply);
    if (!tree) return std::nullopt;
    const auto* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    std::vector<xcb_get_window_attributes_cookie_t> attributeAsks;
    std::vector<xcb_get_geometry_cookie_t> geometryAsks;
    for (int i = 0; i < count; ++i) {
        attributeAsks.push_back(xcb_get_window_attributes(c, children[i]));
        geometryAsks.push_back(xcb_get_geometry(c, children[i]));
    }
    auto parentOrigin =
        x11::awaitReply(c, xcb_translate_coordinates(c, parent, root, 0, 0), xcb_translate_coordinates_reply);
    std::vector<Rect> siblings;
    std::optional<Rect> button;
    for (int i = 0; i < count; ++i) {
        auto a = x11::awaitReply(c, attributeAsks[i], xcb_get_window_attributes_reply);
        auto g = x11::awaitReply(c, geometryAsks[i], xcb_get_geometry_reply);
        if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || !parentOrigin) continue;
        const Rect r(parentOrigin->dst_x + g->x, parentOrigin->dst_y + g->y, g->width, g->height);
        siblings.push_back(r);
        if (children[i] == under) button = r;
    }
    if (!button) return std::nullopt;

    std::set<char> present{'N', 'L'};
    const std::pair<const char*, char> kActionLetters[] = {
        {"_NET_WM_ACTION_MAXIMIZE_HORZ", 'M'}, {"_NET_WM_ACTION_MAXIMIZE_VERT", 'M'},
        {"_NET_WM_ACTION_MINIMIZE", 'I'},      {"_NET_WM_ACTION_CLOSE", 'C'},
        {"_NET_WM_ACTION_SHADE", 'S'},         {"_NET_WM_ACTION_CHANGE_DESKTOP", 'D'}};
    for (auto action : x11::values32(actions.get()))
        for (const auto& [name, letter] : kActionLetters)
            if (action == session_.desktop().atom(name)) present.insert(letter);
    if (titleButtonLetter(*layout, siblings, *button, present) != 'M') return std::nullopt;
    return MaximiseButton{client, space.topLeftFromRoot(*button)};
}

std::optional<std::string> X11WindowControl::layoutOf(const std::vector<std::uint32_t>& checkWindow,
                                                      const std::string& configPath) {
    if (checkWindow.empty()) return std::nullopt;
    // The window manager names itself on its check window, which lives as long as it runs.
    if (checkWindow[0] != cachedCheckWindow_) {
        auto* c = session_.desktop().get();
        auto name = x11::awaitReply(
            c, x11::askProperty(c, checkWindow[0], session_.desktop().atom("_NET_WM_NAME"), XCB_ATOM_ANY, 64),
            xcb_get_property_reply);
        cachedCheckWindow_ = checkWindow[0];
        cachedWindowManager_ = x11::bytes8(name.get());
    }
    // The configuration is read again only when its file changed (openbox re-reads it on request too).
    std::error_code error;
    const auto modified = configPath.empty() ? std::filesystem::file_time_type{}
                                             : std::filesystem::last_write_time(configPath, error);
    if (!cachedLayout_ || configPath != cachedConfigPath_ || modified != cachedConfigTime_ ||
        cachedLayoutWindowManager_ != cachedWindowManager_) {
        std::stringstream config;
        if (!configPath.empty()) config << std::ifstream(configPath).rdbuf();
        cachedLayout_ = titleLayoutFor(cachedWindowManager_, config.str());
        cachedConfigPath_ = configPath;
        cachedConfigTime_ = modified;
        cachedLayoutWindowManager_ = cachedWindowManager_;
    }
    return *cachedLayout_;
}

std::optional<bool> X11WindowControl::isFullScreen(WindowHandle window) {
    std::lock_guard lock(mutex_);
    if (!exists(static_cast<xcb_window_t>(window))) return std::nullopt;
    const auto states = atomList(static_cast<xcb_window_t>(window), "_NET_WM_STATE");
    return std::find(states.begin(), states.end(), "_NET_WM_STATE_FULLSCREEN") != states.end();
}

std::optional<std::int32_t> X11WindowControl::processOf(WindowHandle window) {
    std::lock_guard lock(mutex_);
    const auto pids = x11::processesOfWindows(session_.desktop(), {static_cast<xcb_window_t>(window)});
    if (pids.empty() || pids.front() <= 0) return std::nullopt;
    return pids.front();
}

void X11WindowControl::sendToRoot(std::uint32_t window, const char* message,
                                  const std::vector<std::uint32_t>& data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = session_.desktop().atom(message);
    for (std::size_t i = 0; i < data.size() && i < 5; ++i) event.data.data32[i] = data[i];
    xcb_send_event(session_.desktop().get(), 0, session_.desktop().root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

WindowActionResult X11WindowControl::raise(WindowHandle window) {
    std::lock_guard lock(mutex_);
    const auto w = static_cast<xcb_window_t>(window);
    if (!exists(w)) return WindowActionResult::invalidWindow;
    sendToRoot(w, "_NET_RESTACK_WINDOW", {kSourcePager, XCB_WINDOW_NONE, XCB_STACK_MODE_ABOVE});
    xcb_flush(session_.desktop().get());
    return WindowActionResult::success;
}

WindowActionResult X11WindowControl::activate(WindowHandle window) {
    std::lock_guard lock(mutex_);
    const auto w = static_cast<xcb_window_t>(window);
    if (!exists(w)) return WindowActionResult::invalidWindow;
    sendToRoot(w, "_NET_ACTIVE_WINDOW", {kSourcePager, XCB_CURRENT_TIME, XCB_WINDOW_NONE});
    xcb_flush(session_.desktop().get());
    return WindowActionResult::success;
}

WindowActionResult X11WindowControl::fill(WindowHandle window) {
    std::lock_guard lock(mutex_);
    auto* c = session_.desktop().get();
    const auto w = static_cast<xcb_window_t>(window);
    const auto frame = frameOf(w);
    if (!frame) return WindowActionResult::invalidWindow;
    const auto supported = atomList(session_.desktop().root(), "_NET_SUPPORTED");
    if (std::find(supported.begin(), supported.end(), "_NET_MOVERESIZE_WINDOW") == supported.end())
        return WindowActionResult::failure;

    // The monitor the window lies on most, less every dock's strut on it (per monitor: the root's single
    // work area is wrong with several monitors).
    const auto& [outer, extents] = *frame;
    const auto screens = session_.screens();
    if (screens.monitors.empty()) return WindowActionResult::failure;
    Rect monitor = screens.monitors.front().root;
    double best = -1;
    for (const auto& m : screens.monitors)
        if (const double overlap = m.root.intersection(outer).area(); overlap > best) {
            best = overlap;
            monitor = m.root;
        }
    const double rootWidth = screens.rootWidth, rootHeight = screens.rootHeight;
    // The struts the client list's reading found, and those of the windows it has not read as they stand.
    std::vector<Strut> struts;
    const auto listed = session_.clients().current();
    std::vector<std::uint32_t> unread;
    for (const auto w : x11::rootWindowList(session_.desktop(), "_NET_CLIENT_LIST")) {
        if (const auto* values = listed.strutOf(w)) {
            if (auto strut = Strut::fromValues(*values, rootWidth, rootHeight)) struts.push_back(*strut);
        } else {
            unread.push_back(w);
        }
    }
    for (const auto& [window, strut] : strutsOf(session_.desktop(), unread, rootWidth, rootHeight))
        struts.push_back(strut);
    const Rect area = visibleAreaOf(monitor, struts, rootWidth, rootHeight);
    const double clientWidth = area.width() - extents[0] - extents[1];
    const double clientHeight = area.height() - extents[2] - extents[3];
    if (clientWidth < 1 || clientHeight < 1) return WindowActionResult::failure;

    // A maximised window keeps its size whatever is asked: leave that state first. Never full screen.
    const auto states = atomList(w, "_NET_WM_STATE");
    const bool maximised = std::any_of(states.begin(), states.end(), [](const std::string& s) {
        return s == "_NET_WM_STATE_MAXIMIZED_VERT" || s == "_NET_WM_STATE_MAXIMIZED_HORZ";
    });
    if (maximised)
        sendToRoot(w, "_NET_WM_STATE",
                   {0 /* remove */, session_.desktop().atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                    session_.desktop().atom("_NET_WM_STATE_MAXIMIZED_HORZ"), kSourcePager});
    // North-west gravity: x and y place the frame's outer corner; width and height are the client's.
    constexpr std::uint32_t kNorthWest = 1, kAllFields = 0xf00;
    sendToRoot(w, "_NET_MOVERESIZE_WINDOW",
               {kNorthWest | kAllFields | (kSourcePager << 12), std::uint32_t(std::lround(area.x())),
                std::uint32_t(std::lround(area.y())), std::uint32_t(std::lround(clientWidth)),
                std::uint32_t(std::lround(clientHeight))});
    xcb_flush(c);
    return WindowActionResult::success;
}

}  // namespace velaro
