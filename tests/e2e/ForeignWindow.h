// A window of another process, as the sampler, the window list and the window manager see any program's
// window: a started velaro-demo-window shows it in one colour, maximised or at a place of the user's, and
// repaints it on request. The window goes with this object.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QRect>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "E2eSupport.h"

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
        std::string title;
        bool managed = true;     // else override-redirect: the window manager never sees it
        bool decorated = false;  // a title bar of the window manager's
    };

    explicit ForeignWindow(Options options) {
        std::vector<std::string> args = {binDir().toStdString() + "/velaro-demo-window", hex(options.rgb),
                                         "--commands", "--instance=" + options.instance,
                                         "--class=" + options.className};
        if (options.maximised) args.push_back("--maximised");
        if (!options.managed) args.push_back("--unmanaged");
        if (options.decorated) args.push_back("--decorated");
        if (!options.title.empty()) args.push_back("--title=" + options.title);
        // Always a place: without one the program would make the window as large as the screen, and it would
        // keep that size once unmaximised.
        const QRect p = options.place.value_or(QRect(100, 100, 400, 300));
        args.push_back("--place=" + std::to_string(p.x()) + ',' + std::to_string(p.y()) + ',' +
                       std::to_string(p.width()) + ',' + std::to_string(p.height()));
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        // Close-on-exec, so that no program started meanwhile holds the command pipe open after this ends.
        int toChild[2], toParent[2];
        if (pipe2(toChild, O_CLOEXEC) != 0) return;
        if (pipe2(toParent, O_CLOEXEC) != 0) {
            close(toChild[0]);
            close(toChild[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, toParent[1], STDOUT_FILENO);
        // Nothing else of ours goes along: a window holding another's command pipe would keep it alive.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(toParent[1]);
        commands_ = toChild[1];
        if (pid_ <= 0 || read(toParent[0], &window_, sizeof window_) != sizeof window_) window_ = 0;
        close(toParent[0]);
    }
    ~ForeignWindow() {
        if (commands_ >= 0) close(commands_);  // the end of the commands ends the child
        if (pid_ <= 0) return;
        waitpid(pid_, nullptr, 0);
    }
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    pid_t pid() const { return pid_; }
    std::uint32_t window() const { return window_; }
    void paint(std::uint32_t rgb) { (void)!write(commands_, &rgb, sizeof rgb); }

private:
    static std::string hex(std::uint32_t rgb) {
        char text[8];
        std::snprintf(text, sizeof text, "%06x", rgb & 0xffffffu);
        return text;
    }

    pid_t pid_ = -1;
    int commands_ = -1;
    std::uint32_t window_ = 0;
};

}  // namespace velaro::e2e
