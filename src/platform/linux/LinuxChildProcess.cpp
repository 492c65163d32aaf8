// Fork and exec from a thread that lives exactly as long as its child: the kernel's parent-death signal
// follows the forking thread, and the same thread reads the output, waits on the pidfd and reaps.
#include "platform/linux/LinuxChildProcess.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace velaro {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;
constexpr auto killGrace = std::chrono::seconds(1);

// Called through syscall(): this C library's header declares them without C linkage for C++.
int pidfdOpen(pid_t pid) {
    return int(::syscall(SYS_pidfd_open, pid, 0));
}
int pidfdSignal(int pidfd, int signo) {
    return int(::syscall(SYS_pidfd_send_signal, pidfd, signo, nullptr, 0));
}

std::string describe(int err) {
    return std::system_category().message(err);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Descriptors 0-2 may be closed in the parent; a pipe that took one of those numbers would be overwritten
// by the child's own redirections, so every descriptor the child uses sits at 3 or above.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

bool makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    fds[0] = aboveStandardStreams(fds[0]);
    fds[1] = aboveStandardStreams(fds[1]);
    return fds[0] >= 0 && fds[1] >= 0;
}

int exitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return WTERMSIG(waitStatus);
    return -1;
}

void reap(pid_t pid, int* status) {
    int st = 0;
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (status) *status = exitStatus(st);
}

// What the handle and the child's thread share. The thread closes the descriptors under the mutex once the
// child is reaped and its output read, and every other use checks them under the same mutex, so a late
// signal or wake-up never reaches a reused descriptor number; a handle kept long after costs none.
struct ChildState {
    std::mutex mutex;
    pid_t pid = -1;
    int pidfd = -1;
    int wakeFd = -1;
    bool reaped = false;
    std::optional<SteadyTime> killAt;
    std::shared_ptr<ProcessLauncher::Handlers> handlers;

    ~ChildState() { releaseDescriptors(); }
    // Under the mutex, or once no other thread can reach this.
    void releaseDescriptors() {
        closeFd(pidfd);
        closeFd(wakeFd);
    }
    void wake() {
        std::lock_guard lock(mutex);
        if (wakeFd < 0) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
    }
    std::shared_ptr<ProcessLauncher::Handlers> currentHandlers() {
        std::lock_guard lock(mutex);
        return handlers;
    }
};

class LinuxChildProcess final : public ChildProcess {
public:
    explicit LinuxChildProcess(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}

    int pid() const override { return state_->pid; }
    bool isRunning() const override {
        std::lock_guard lock(state_->mutex);
        return !state_->reaped;
    }
    bool signal(int signo) override {
        // Reaping happens under the same lock; the pidfd could never reach a reused pid in any case.
        std::lock_guard lock(state_->mutex);
        if (state_->reaped) return false;
        return pidfdSignal(state_->pidfd, signo) == 0;
    }
    void terminate() override {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->reaped) return;
            pidfdSignal(state_->pidfd, SIGTERM);
            if (!state_->killAt) state_->killAt = std::chrono::steady_clock::now() + killGrace;
        }
        state_->wake();
    }
    void dropHandlers() override {
        std::shared_ptr<ProcessLauncher::Handlers> dropped;
        {
            std::lock_guard lock(state_->mutex);
            dropped = std::move(state_->handlers);
        }
        state_->wake();
    }

private:
    std::shared_ptr<ChildState> state_;
};

struct Prepared {
    std::vector<std::string> strings;
    std::vector<char*> argv;
    bool pipeOutput = false;
};

// Runs in the forked child: only async-signal-safe calls from here to exec.
[[noreturn]] void execChild(const Prepared& p, pid_t parent, int outFd, int nullFd, int statusFd) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &dfl, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    int err = 0;
    if (::getppid() != parent) ::_exit(127);  // the parent died before the death signal was armed
    if (::dup2(outFd, STDOUT_FILENO) < 0 || ::dup2(nullFd, STDERR_FILENO) < 0) {
        err = errno;
    } else {
        // Descriptors the app opened without close-on-exec (toolkit sockets, inherited ones) stay ours.
        ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        ::execv(p.argv[0], p.argv.data());
        err = errno;
    }
    [[maybe_unused]] const auto n = ::write(statusFd, &err, sizeof err);
    ::_exit(127);
}

struct LaunchResult {
    std::string error;  // empty on success
};

// Reads what is there without blocking; false once the output ended.
bool drainOutput(ChildState& state, int fd) {
    char buffer[64 * 1024];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (auto h = state.currentHandlers(); h && h->onOutput) h->onOutput(std::string_view(buffer, n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        if (auto h = state.currentHandlers(); h && h->onOutput) h->onOutput(std::string_view());
        return false;
    }
}

void superviseChild(const std::shared_ptr<ChildState>& state, int outFd) {
    bool reading = outFd >= 0;
    bool reaped = false;
    while (!reaped || reading) {
        int timeout = -1;
        {
            std::lock_guard lock(state->mutex);
            if (reading && !state->handlers) {
                // Nobody listens any more: closing the pipe lets a writer fail instead of blocking.
                closeFd(outFd);
                reading = false;
            }
            if (!reaped && state->killAt) {
                const auto left = *state->killAt - std::chrono::steady_clock::now();
                if (left <= std::chrono::steady_clock::duration::zero()) {
                    pidfdSignal(state->pidfd, SIGKILL);
                    state->killAt.reset();
                } else {
                    timeout = int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
                }
            }
        }
        if (reaped && !reading) break;
        pollfd fds[3] = {{state->wakeFd, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
        if (!reaped) fds[1].fd = state->pidfd;
        if (reading) fds[2].fd = outFd;
        if (::poll(fds, 3, timeout) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] const auto n = ::read(state->wakeFd, &count, sizeof count);
        }
        if (reading && fds[2].revents) reading = drainOutput(*state, outFd);
        if (!reaped && fds[1].revents) {
            // Whatever the child wrote before it ended is delivered before its exit.
            if (reading) reading = drainOutput(*state, outFd);
            int status = -1;
            {
                std::lock_guard lock(state->mutex);
                reap(state->pid, &status);
                state->reaped = true;
                state->killAt.reset();
            }
            reaped = true;
            if (auto h = state->currentHandlers(); h && h->onExit) h->onExit(status);
        }
    }
    closeFd(outFd);
    // The handlers may hold their owner's resources: let them go now that nothing more will be said.
    std::shared_ptr<ProcessLauncher::Handlers> handlers;
    std::lock_guard lock(state->mutex);
    handlers = std::move(state->handlers);
    state->releaseDescriptors();
}

// The child's thread: forks, reports the outcome of exec to the launcher, then supervises until reaped.
void runChild(std::shared_ptr<ChildState> state, Prepared prepared, std::promise<LaunchResult> result) {
    int statusPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    int nullFd = aboveStandardStreams(::open("/dev/null", O_RDWR | O_CLOEXEC));
    auto failBeforeFork = [&](const char* what, int err) {
        closeFd(statusPipe[0]);
        closeFd(statusPipe[1]);
        closeFd(outPipe[0]);
        closeFd(outPipe[1]);
        closeFd(nullFd);
        result.set_value({std::string(what) + ": " + describe(err)});
    };
    if (nullFd < 0) return failBeforeFork("/dev/null", errno);
    if (!makePipe(statusPipe)) return failBeforeFork("pipe", errno);
    if (prepared.pipeOutput && !makePipe(outPipe)) return failBeforeFork("pipe", errno);
    for (auto& s : prepared.strings) prepared.argv.push_back(s.data());
    prepared.argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) return failBeforeFork("fork", errno);
    if (pid == 0)
        execChild(prepared, parent, prepared.pipeOutput ? outPipe[1] : nullFd, nullFd, statusPipe[1]);

    closeFd(statusPipe[1]);
    closeFd(outPipe[1]);
    closeFd(nullFd);
    int execError = 0;
    ssize_t got;
    while ((got = ::read(statusPipe[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    closeFd(statusPipe[0]);
    if (got > 0) {
        reap(pid, nullptr);
        closeFd(outPipe[0]);
        result.set_value({prepared.strings[0] + ": " + describe(execError)});
        return;
    }
    // The child is not reaped yet, so its pid cannot have been reused before the pidfd takes hold of it.
    const int pidfd = pidfdOpen(pid);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (pidfd < 0 || wakeFd < 0) {
        const int err = errno;
        ::kill(pid, SIGKILL);
        reap(pid, nullptr);
        if (pidfd >= 0) ::close(pidfd);
        if (wakeFd >= 0) ::close(wakeFd);
        closeFd(outPipe[0]);
        result.set_value({std::string("pidfd: ") + describe(err)});
        return;
    }
    if (outPipe[0] >= 0) ::fcntl(outPipe[0], F_SETFL, ::fcntl(outPipe[0], F_GETFL) | O_NONBLOCK);
    {
        std::lock_guard lock(state->mutex);
        state->pid = pid;
        state->pidfd = pidfd;
        state->wakeFd = wakeFd;
    }
    result.set_value({});
    superviseChild(state, outPipe[0]);
}

}  // namespace

std::shared_ptr<ChildProcess> LinuxProcessLauncher::launch(const Spec& spec, Handlers handlers,
                                                           std::string* error) {
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return std::shared_ptr<ChildProcess>();
    };
    if (spec.program.empty() || spec.program.front() != '/')
        return fail(spec.program + ": not an absolute path");

    // Everything the child needs is built before the fork (the argument vector on the child's thread, once
    // the strings have stopped moving): after the fork it may not allocate.
    Prepared prepared;
    prepared.pipeOutput = spec.pipeOutput;
    prepared.strings.reserve(spec.arguments.size() + 1);
    prepared.strings.push_back(spec.program);
    for (const auto& a : spec.arguments) prepared.strings.push_back(a);

    auto state = std::make_shared<ChildState>();
    state->handlers = std::make_shared<Handlers>(std::move(handlers));
    std::promise<LaunchResult> promise;
    auto outcome = promise.get_future();
    try {
        std::thread(runChild, state, std::move(prepared), std::move(promise)).detach();
    } catch (const std::system_error& e) {
        return fail(std::string("thread: ") + e.what());
    }
    LaunchResult r = outcome.get();
    if (!r.error.empty()) return fail(std::move(r.error));
    return std::make_shared<LinuxChildProcess>(std::move(state));
}

}  // namespace velaro
