// Real children through /bin/sh: output, exit status, exec failures, SIGTERM escalating to SIGKILL, reaping
// after the handlers are gone, signals after reaping, and death together with the launching process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/linux/LinuxChildProcess.h"

namespace velaro {
namespace {

using namespace std::chrono_literals;

// What one child said, collected from the launcher's threads.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::string output;
    int endOfOutput = 0;
    bool outputAfterEnd = false;
    std::optional<int> status;
    bool endBeforeExit = false;

    ProcessLauncher::Handlers handlers() {
        return {
            .onOutput =
                [this](std::string_view chunk) {
                    std::lock_guard lock(mutex);
                    if (endOfOutput) outputAfterEnd = true;
                    if (chunk.empty())
                        ++endOfOutput;
                    else
                        output.append(chunk);
                    changed.notify_all();
                },
            .onExit =
                [this](int s) {
                    std::lock_guard lock(mutex);
                    status = s;
                    endBeforeExit = endOfOutput > 0;
                    changed.notify_all();
                },
        };
    }
    // Waits for the exit (and, for a piped child, the end of its output); false if it did not come.
    bool waitForExit(bool piped, std::chrono::seconds limit = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return status && (!piped || endOfOutput); });
    }
    bool waitForOutput(std::string_view text) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return output.find(text) != std::string::npos; });
    }
};

ProcessLauncher::Spec shell(std::string script, bool piped = true) {
    return {.program = "/bin/sh", .arguments = {"-c", std::move(script)}, .pipeOutput = piped};
}

// Waits for a state another thread brings about, without an event to wait on.
template <class Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// True while `pid` is a child of this process that nobody has reaped yet (running or a zombie).
bool unreaped(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

bool waitForExitOf(int pidfd, int milliseconds) {
    pollfd p{pidfd, POLLIN, 0};
    return ::poll(&p, 1, milliseconds) == 1;
}

TEST(LinuxChildProcess, OutputExitStatusAndTheNullDevice) {
    struct Case {
        const char* script;
        bool piped;
        std::string output;
        int status;
    };
    const Case cases[] = {
        {"printf 'a\\nb'; printf 'c' >&2; exit 3", true, "a\nb", 3},
        {"head -c 200000 /dev/zero | tr '\\0' x", true, std::string(200000, 'x'), 0},
        {"echo lost; exit 0", false, "", 0},
        {"kill -9 $$", true, "", SIGKILL},
    };
    LinuxProcessLauncher launcher;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        Recorder r;
        std::string error;
        auto child = launcher.launch(shell(c.script, c.piped), r.handlers(), &error);
        ASSERT_TRUE(child) << error;
        EXPECT_GT(child->pid(), 0);
        ASSERT_TRUE(r.waitForExit(c.piped));
        std::lock_guard lock(r.mutex);
        EXPECT_EQ(r.output, c.output) << "only standard output is delivered";
        EXPECT_EQ(*r.status, c.status);
        EXPECT_EQ(r.endOfOutput, c.piped ? 1 : 0);
        EXPECT_FALSE(r.outputAfterEnd);
        if (c.piped) {
            EXPECT_TRUE(r.endBeforeExit) << "what the child wrote comes before its exit";
        }
        EXPECT_FALSE(child->isRunning());
    }
}

TEST(LinuxChildProcess, ExecFailuresComeBackAsTheSystemsDescription) {
    QTemporaryDir dir;
    const std::string plain = dir.filePath("not-executable").toStdString();
    std::ofstream(plain) << "#!/bin/sh\n";
    struct Case {
        std::string program;
        std::string error;
    };
    const Case cases[] = {
        {"/nonexistent/velaro-media-adapter", "/nonexistent/velaro-media-adapter: No such file or directory"},
        {plain, plain + ": Permission denied"},
        {dir.path().toStdString(), dir.path().toStdString() + ": Permission denied"},
        {"velaro-media-adapter", "velaro-media-adapter: not an absolute path"},
    };
    LinuxProcessLauncher launcher;
    for (const auto& c : cases) {
        Recorder r;
        std::string error;
        EXPECT_EQ(launcher.launch({.program = c.program, .arguments = {"stream"}, .pipeOutput = true},
                                  r.handlers(), &error),
                  nullptr);
        EXPECT_EQ(error, c.error);
        std::lock_guard lock(r.mutex);
        EXPECT_FALSE(r.status) << "a child that never ran reports no exit";
    }
}

TEST(LinuxChildProcess, TerminateSendsSigtermThenSigkillToAChildThatIgnoresIt) {
    LinuxProcessLauncher launcher;
    Recorder polite, stubborn;
    std::string error;
    auto a = launcher.launch(shell("echo ready; exec sleep 60"), polite.handlers(), &error);
    // An ignored signal stays ignored across exec: this sleep cannot be ended with SIGTERM.
    auto b = launcher.launch(shell("trap '' TERM; echo ready; exec sleep 60"), stubborn.handlers(), &error);
    ASSERT_TRUE(a && b) << error;
    ASSERT_TRUE(polite.waitForOutput("ready"));
    ASSERT_TRUE(stubborn.waitForOutput("ready"));
    const auto started = std::chrono::steady_clock::now();
    a->terminate();
    b->terminate();
    ASSERT_TRUE(polite.waitForExit(true));
    ASSERT_TRUE(stubborn.waitForExit(true));
    EXPECT_EQ(*polite.status, SIGTERM);
    EXPECT_EQ(*stubborn.status, SIGKILL);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms)
        << "SIGKILL comes only after the grace second";
    EXPECT_FALSE(b->signal(SIGTERM));
}

TEST(LinuxChildProcess, ChildrenAreReapedAfterTheirHandlersAndHandlesAreGone) {
    LinuxProcessLauncher launcher;
    std::vector<pid_t> pids;
    // A call already on its way when the handlers go may still arrive: the recorders outlive the children.
    std::vector<std::unique_ptr<Recorder>> recorders;
    for (const char* script : {"exit 0", "echo output nobody reads; exit 1", "exec sleep 0.2"}) {
        auto& r = *recorders.emplace_back(std::make_unique<Recorder>());
        std::string error;
        auto child = launcher.launch(shell(script), r.handlers(), &error);
        ASSERT_TRUE(child) << error;
        pids.push_back(child->pid());
        child->dropHandlers();
    }
    for (pid_t pid : pids)
        EXPECT_TRUE(eventually([&] { return !unreaped(pid); })) << "pid " << pid << " left a zombie";
}

TEST(LinuxChildProcess, AReapedChildIsNeverSignalledAndItsHandleHoldsNoDescriptors) {
    LinuxProcessLauncher launcher;
    Recorder r;
    std::string error;
    const int before = openDescriptors();
    auto child = launcher.launch(shell("exit 0"), r.handlers(), &error);
    ASSERT_TRUE(child) << error;
    ASSERT_TRUE(r.waitForExit(true));
    EXPECT_FALSE(child->isRunning());
    // The pidfd and the wake-up descriptor go with the child, not with the last handle (a caller may keep
    // one for seconds after the end).
    EXPECT_TRUE(eventually([&] { return openDescriptors() == before; }))
        << openDescriptors() << " " << before;
    // Whatever now holds that pid is left alone: nothing is sent, and the handle says so.
    EXPECT_FALSE(child->signal(SIGKILL));
    EXPECT_FALSE(child->signal(0));
    child->terminate();
    child->dropHandlers();
    EXPECT_EQ(openDescriptors(), before);
}

TEST(LinuxChildProcess, ChildrenDieWithTheProcessThatLaunchedThem) {
    // Orphans come to this process, so the test can see how the grandchild ended.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t parent = ::fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        LinuxProcessLauncher launcher;
        std::string error;
        auto child =
            launcher.launch({.program = "/bin/sleep", .arguments = {"60"}, .pipeOutput = false}, {}, &error);
        const pid_t pid = child ? child->pid() : -1;
        [[maybe_unused]] const auto n = ::write(report[1], &pid, sizeof pid);
        ::pause();
        ::_exit(0);
    }
    ::close(report[1]);
    pid_t grandchild = -1;
    ASSERT_EQ(::read(report[0], &grandchild, sizeof grandchild), ssize_t(sizeof grandchild));
    ::close(report[0]);
    ASSERT_GT(grandchild, 0);
    const int pidfd = int(::syscall(SYS_pidfd_open, grandchild, 0));
    ASSERT_GE(pidfd, 0);

    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    EXPECT_TRUE(waitForExitOf(pidfd, 10000)) << "the child outlived the process that launched it";
    int status = 0;
    EXPECT_EQ(::waitpid(grandchild, &status, 0), grandchild);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ::close(pidfd);
}

}  // namespace
}  // namespace velaro
