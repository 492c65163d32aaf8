// velaro-window-storm [--windows=N] [--listed=N] [--changes=N] [--interval-ms=N] [--churn=N] [--wait]
// A storm of window-list changes, as a session restore or a runaway program makes one: N unmapped windows
// (3000), each stating a process (_NET_WM_PID) and a class (WM_CLASS) of its own, as the windows of as many
// programs would; then the root's _NET_CLIENT_LIST rewritten --changes times (400), --interval-ms apart (2),
// each time listing --listed of the windows (2900) after the window manager's own, while --churn of the
// listed windows (50) are destroyed and as many new ones created between two rewrites. Prints "ready" once
// the windows exist (with --wait it then waits for a line on standard input), "storm" as the first rewrite
// goes out and "done" once the server has taken the last; the manager's list is put back and the windows go
// when it ends.
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    int windows = 3000, listed = 2900, changes = 400, intervalMs = 2, churn = 50;
    bool wait = false;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!std::strcmp(arg, "--wait")) {
            o.wait = true;
            continue;
        }
        int* target = nullptr;
        const char* value = std::strchr(arg, '=');
        if (!value) return false;
        const std::string name(arg, value - arg);
        if (name == "--windows")
            target = &o.windows;
        else if (name == "--listed")
            target = &o.listed;
        else if (name == "--changes")
            target = &o.changes;
        else if (name == "--interval-ms")
            target = &o.intervalMs;
        else if (name == "--churn")
            target = &o.churn;
        else
            return false;
        char* end = nullptr;
        const long n = std::strtol(value + 1, &end, 10);
        if (*end || n < 0 || n > 1000000) return false;
        *target = static_cast<int>(n);
    }
    return o.listed <= o.windows && o.churn <= o.listed;
}

class Storm {
public:
    explicit Storm(xcb_connection_t* c)
        : c_(c), root_(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root) {
        clientList_ = atom("_NET_CLIENT_LIST");
        pid_ = atom("_NET_WM_PID");
        managed_ = listed();
    }
    ~Storm() {
        setList(managed_);
        for (const auto w : windows_) xcb_destroy_window(c_, w);
        settle();
    }

    void create(int count) {
        for (int i = 0; i < count; ++i) windows_.push_back(make());
        settle();
    }
    // One rewrite: `churn` of the oldest listed windows go and as many new ones come, then `listed` of the
    // windows, the newest first, follow the manager's own in the list. The windows listed before all others
    // stay unlisted throughout.
    void change(int listedCount, int churn) {
        const auto firstListed =
            windows_.size() - std::min<std::size_t>(static_cast<std::size_t>(listedCount), windows_.size());
        const auto gone =
            std::min<std::size_t>(static_cast<std::size_t>(churn), windows_.size() - firstListed);
        const auto from = windows_.begin() + static_cast<std::ptrdiff_t>(firstListed);
        for (auto it = from; it != from + static_cast<std::ptrdiff_t>(gone); ++it)
            xcb_destroy_window(c_, *it);
        windows_.erase(from, from + static_cast<std::ptrdiff_t>(gone));
        for (int i = 0; i < churn; ++i) windows_.push_back(make());
        std::vector<xcb_window_t> list = managed_;
        list.insert(list.end(), windows_.rbegin(),
                    windows_.rbegin() + std::min<int>(listedCount, windows_.size()));
        setList(list);
        xcb_flush(c_);
    }
    // A round trip: every request before it has been carried out.
    void settle() { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    // A window of a program of its own: a process id no process has (beyond the largest the kernel hands
    // out) and a class named after it.
    xcb_window_t make() {
        const xcb_window_t w = xcb_generate_id(c_);
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, root_, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::uint32_t pid = kFirstPid + made_++;
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, pid_, XCB_ATOM_CARDINAL, 32, 1, &pid);
        const std::string name = "storm-" + std::to_string(pid);
        // WM_CLASS: the instance and the class, each ended by a NUL.
        const std::string wmClass = name + '\0' + "Storm" + name.substr(5) + '\0';
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        return w;
    }
    xcb_atom_t atom(const std::string& name) {
        auto* r = xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(r);
        return a;
    }
    std::vector<xcb_window_t> listed() {
        auto* r = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 1 << 20), nullptr);
        std::vector<xcb_window_t> out;
        if (r && r->format == 32) {
            const auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
            out.assign(v, v + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
        return out;
    }
    void setList(const std::vector<xcb_window_t>& list) {
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, root_, clientList_, XCB_ATOM_WINDOW, 32,
                            static_cast<std::uint32_t>(list.size()), list.data());
    }

    xcb_connection_t* c_;
    xcb_window_t root_;
    static constexpr std::uint32_t kFirstPid = 5000000;
    xcb_atom_t clientList_, pid_;
    std::uint32_t made_ = 0;
    std::vector<xcb_window_t> managed_;
    std::deque<xcb_window_t> windows_;
};

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: velaro-window-storm [--windows=N] [--listed=N] [--changes=N] [--interval-ms=N] "
                     "[--churn=N] [--wait]\n");
        return 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "velaro-window-storm: cannot open the display\n");
        return 1;
    }
    {
        Storm storm(c);
        storm.create(o.windows);
        say("ready");
        if (o.wait) {
            char line[64];
            if (!std::fgets(line, sizeof line, stdin)) return 0;
        }
        say("storm");
        for (int k = 0; k < o.changes; ++k) {
            storm.change(o.listed, o.churn);
            std::this_thread::sleep_for(std::chrono::milliseconds(o.intervalMs));
        }
        storm.settle();
        say("done");
    }
    xcb_disconnect(c);
    return 0;
}
