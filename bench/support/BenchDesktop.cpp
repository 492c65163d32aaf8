// The benchmarks' desktop, child processes, their usage, screen pixels and client windows.
#include "BenchDesktop.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace velaro::bench {

namespace {

using Clock = std::chrono::steady_clock;

// The test desktop of this program, when it had to start one.
class OwnDesktop {
public:
    static OwnDesktop& get() {
        static OwnDesktop desktop;
        return desktop;
    }
    bool ready = false;
    std::string why;

private:
    OwnDesktop() {
        if (std::getenv("DISPLAY")) {
            ready = true;
            return;
        }
        for (fs::path dir = selfDirectory(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
            if (fs::exists(dir / "scripts/desktop-session")) script_ = dir / "scripts/desktop-session";
        if (script_.empty()) {
            why = "no DISPLAY and no scripts/desktop-session above the program";
            return;
        }
        state_ = fs::temp_directory_path() / ("velaro-bench-desktop-" + std::to_string(getpid()));
        setenv("VELARO_DESKTOP_DIR", state_.c_str(), 1);
        setenv("VELARO_BUILD_DIR", selfDirectory().parent_path().c_str(), 1);
        if (!fs::exists(selfDirectory() / "velaro-desktop-wait")) {
            why = "no DISPLAY, and the desktop's wait helper (velaro-desktop-wait) is not built";
            return;
        }
        if (std::system((script_.string() + " start >/dev/null").c_str()) != 0) {
            why = "the test desktop did not start";
            return;
        }
        started_ = true;
        // Take over the desktop's environment (display, session bus, XDG folders).
        FILE* env = popen((script_.string() + " env").c_str(), "r");
        char line[4096];
        while (env && fgets(line, sizeof line, env)) {
            std::string text(line);
            if (text.rfind("export ", 0) != 0) continue;
            text = text.substr(7);
            const auto eq = text.find('=');
            if (eq == std::string::npos) continue;
            std::string value = text.substr(eq + 1);
            while (!value.empty() && (value.back() == '\n' || value.back() == '\'')) value.pop_back();
            if (!value.empty() && value.front() == '\'') value.erase(0, 1);
            std::string unescaped;
            for (std::size_t i = 0; i < value.size(); ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) ++i;
                unescaped += value[i];
            }
            setenv(text.substr(0, eq).c_str(), unescaped.c_str(), 1);
        }
        if (env) pclose(env);
        ready = std::getenv("DISPLAY") != nullptr;
        if (!ready) why = "the test desktop gave no DISPLAY";
        if (ready) settle();
    }
    // A desktop that has just started is still busy a while: the compositor paints everything for the first
    // time, and again for the root's colour; the panel draws itself. That work would be counted in the first
    // benchmark's figures, so its processes are given up to 10 s to fall quiet (under 1 ms of CPU in all over
    // half a second).
    static void settle() {
        std::vector<pid_t> desktop;
        for (const char* name : {"xvfb", "xorg", "picom", "tint2", "openbox"})
            if (const auto pid = desktopProcess(name)) desktop.push_back(*pid);
        const auto cpu = [&] {
            double seconds = 0;
            for (const pid_t pid : desktop) seconds += usageOf(pid).cpuSeconds;
            return seconds;
        };
        const auto start = Clock::now();
        while (Clock::now() - start < std::chrono::seconds(10)) {
            const double before = cpu();
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            if (cpu() - before < 0.001) return;
        }
    }
    ~OwnDesktop() {
        if (!started_) return;
        [[maybe_unused]] auto status = std::system((script_.string() + " stop >/dev/null").c_str());
        std::error_code ignored;
        fs::remove_all(state_, ignored);
    }

    bool started_ = false;
    fs::path script_;
    fs::path state_;
};

// One thread, from its /proc/<pid>/task/<tid> folder.
ProcessUsage taskUsage(const fs::path& task) {
    ProcessUsage usage;
    std::ifstream schedstat(task / "schedstat");
    unsigned long long runNs = 0;
    if (schedstat >> runNs) usage.cpuSeconds += double(runNs) / 1e9;
    std::ifstream status(task / "status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) usage.wakeups += std::atoll(line.c_str() + 24);
    std::ifstream io(task / "io");
    while (std::getline(io, line))
        if (line.rfind("syscw:", 0) == 0) usage.writes += std::atoll(line.c_str() + 6);
    return usage;
}

ProcessUsage threadsOf(pid_t pid) {
    ProcessUsage usage;
    std::error_code ignored;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored))
        usage += taskUsage(task.path());
    return usage;
}

}  // namespace

fs::path selfProgram() {
    return fs::read_symlink("/proc/self/exe");
}

fs::path selfDirectory() {
    return selfProgram().parent_path();
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool ensureDesktop(std::string* why) {
    auto& desktop = OwnDesktop::get();
    if (!desktop.ready && why) *why = desktop.why;
    return desktop.ready;
}

namespace {
bool& desktopFirstFlag() {
    static bool wanted = false;
    return wanted;
}
}  // namespace

bool startDesktopFirst() {
    return desktopFirstFlag() = true;
}

bool desktopFirst() {
    return desktopFirstFlag();
}

std::optional<pid_t> desktopProcess(const std::string& name) {
    const char* dir = std::getenv("VELARO_DESKTOP_DIR");
    if (!dir) return std::nullopt;
    std::ifstream pids(fs::path(dir) / "pids");
    std::string line;
    while (std::getline(pids, line)) {
        std::istringstream fields(line);
        std::string n;
        pid_t pid = 0;
        if (fields >> n >> pid && n == name && kill(pid, 0) == 0) return pid;
    }
    return std::nullopt;
}

ProcessUsage usageOf(pid_t pid) {
    return threadsOf(pid);
}

ProcessUsage mainThreadUsageOf(pid_t pid) {
    const std::string id = std::to_string(pid);
    return taskUsage(fs::path("/proc") / id / "task" / id);
}

std::map<pid_t, ProcessUsage> threadUsagesOf(pid_t pid) {
    std::map<pid_t, ProcessUsage> threads;
    std::error_code error;
    for (const auto& task : fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "task", error))
        threads[static_cast<pid_t>(std::atoi(task.path().filename().c_str()))] = taskUsage(task.path());
    return threads;
}

namespace {

// Wakes the display's screen saver and starts its count again. The test desktop's blanks after 10 minutes:
// the app then takes the screens for asleep and stops its checks, and would be measured doing nothing (a
// benchmark program that runs long enough, or one run on a desktop that has been up a while, got there).
void resetScreenSaver() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(c))
        std::free(xcb_request_check(c, xcb_force_screen_saver_checked(c, XCB_SCREEN_SAVER_RESET)));
    xcb_disconnect(c);
}

}  // namespace

Child::Child(const fs::path& program, const std::string& defaultsJson,
             const std::map<std::string, std::string>& environment) {
    resetScreenSaver();
    static int made = 0;
    config_ = fs::temp_directory_path() /
              ("velaro-bench-config-" + std::to_string(getpid()) + "-" + std::to_string(++made));
    fs::create_directories(config_ / "Velaro");
    std::ofstream(config_ / "Velaro/defaults.json") << defaultsJson;
    pid_ = fork();
    if (pid_ == 0) {
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        if (!freopen("/dev/null", "w", stderr)) _exit(126);
        execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
}

Child::~Child() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(config_, ignored);
}

bool Child::running() const {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

ProcessUsage Child::usage() const {
    ProcessUsage total = ownUsage();
    total += childrenUsage();
    return total;
}

ProcessUsage Child::ownUsage() const {
    return threadsOf(pid_);
}

ProcessUsage Child::childrenUsage() const {
    ProcessUsage total;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid …: the name may hold spaces, so read past its closing parenthesis.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == pid_)
            total += threadsOf(std::stoi(entry.path().filename().string()));
    }
    return total;
}

UsageWindow::UsageWindow(std::vector<std::function<ProcessUsage()>> processes)
    : processes_(std::move(processes)),
      cpu_(processes_.size()),
      wakeups_(processes_.size()),
      writes_(processes_.size()) {}

void UsageWindow::run(double seconds) {
    std::vector<ProcessUsage> before;
    for (const auto& p : processes_) before.push_back(p());
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    wall_ = std::chrono::duration<double>(Clock::now() - start).count();
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        const ProcessUsage after = processes_[i]();
        cpu_[i] = after.cpuSeconds - before[i].cpuSeconds;
        wakeups_[i] = after.wakeups - before[i].wakeups;
        writes_[i] = after.writes - before[i].writes;
    }
}

ScreenReader::ScreenReader() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

ScreenReader::~ScreenReader() {
    xcb_disconnect(connection_);
}

std::optional<std::uint32_t> ScreenReader::pixel(int x, int y) const {
    if (!root_) return std::nullopt;
    auto* reply = xcb_get_image_reply(
        connection_, xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, x, y, 1, 1, ~0u), nullptr);
    if (!reply) return std::nullopt;
    std::uint32_t value = 0;
    if (xcb_get_image_data_length(reply) >= 4) std::memcpy(&value, xcb_get_image_data(reply), 4);
    std::free(reply);
    return value & 0xffffff;
}

namespace {

xcb_atom_t atomOf(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    std::free(reply);
    return atom;
}

}  // namespace

ClientWindows::ClientWindows(int count, bool fill) : c_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(c_)) return;
    const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
    const char wmClass[] = "bench\0Bench";
    const xcb_atom_t pidAtom = atomOf(c_, "_NET_WM_PID");
    const xcb_atom_t state = atomOf(c_, "_NET_WM_STATE");
    const xcb_atom_t motifHints = atomOf(c_, "_MOTIF_WM_HINTS");
    const xcb_atom_t maximised[] = {atomOf(c_, "_NET_WM_STATE_MAXIMIZED_VERT"),
                                    atomOf(c_, "_NET_WM_STATE_MAXIMIZED_HORZ")};
    for (int i = 0; i < count; ++i) {
        const xcb_window_t w = xcb_generate_id(c_);
        const bool big = fill && i == 0;
        const std::uint32_t background = 0x808080;
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, w, screen->root, big ? 0 : 40 + (i % 40) * 20,
                          big ? 0 : 120 + (i % 30) * 10, big ? screen->width_in_pixels : 300,
                          big ? screen->height_in_pixels : 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, &background);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, pidAtom, XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            sizeof wmClass, wmClass);
        if (big) {
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, 2, maximised);
            // No title bar: the strip just below the panel must be the window's own painted top, or the
            // sampled row would be the decoration, which never changes colour.
            const std::uint32_t hints[5] = {2 /* decorations given */, 0, 0 /* none */, 0, 0};
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, w, motifHints, motifHints, 32, 5, hints);
        }
        windows_.push_back(w);
    }
    // The big one last, so it is in front.
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) xcb_map_window(c_, *it);
    xcb_flush(c_);
}

ClientWindows::~ClientWindows() {
    xcb_disconnect(c_);  // the server destroys every window of the connection
}

void ClientWindows::churn(int passes) {
    if (xcb_connection_has_error(c_)) return;
    const std::uint32_t above[] = {XCB_STACK_MODE_ABOVE};
    for (int pass = 0; pass < passes; ++pass) {
        for (std::size_t i = 0; i < windows_.size(); ++i) {
            xcb_configure_window(c_, windows_[i], XCB_CONFIG_WINDOW_STACK_MODE, above);
            if ((i + pass) % 4 == 0) {
                xcb_unmap_window(c_, windows_[i]);
                xcb_map_window(c_, windows_[i]);
            }
        }
    }
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

bool ClientWindows::managed() {
    if (xcb_connection_has_error(c_)) return false;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    const auto* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    const xcb_atom_t list = atomOf(c_, "_NET_CLIENT_LIST");
    while (Clock::now() < deadline) {
        auto* reply = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, screen->root, list, XCB_ATOM_WINDOW, 0, 8192), nullptr);
        std::vector<xcb_window_t> listed;
        if (reply && reply->format == 32) {
            const auto* data = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            listed.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        const bool all = std::all_of(windows_.begin(), windows_.end(), [&](xcb_window_t w) {
            return std::find(listed.begin(), listed.end(), w) != listed.end();
        });
        if (all) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void ClientWindows::paintFirst(std::uint32_t rgb, int rows) {
    if (windows_.empty()) return;
    xcb_change_window_attributes(c_, windows_.front(), XCB_CW_BACK_PIXEL, &rgb);
    // Only its top, where the strip is sampled: the server's cost of painting the rest would drown ours.
    xcb_clear_area(c_, 0, windows_.front(), 0, 0, 0, static_cast<std::uint16_t>(rows));
    xcb_flush(c_);
}

}  // namespace velaro::bench
