// A process launcher for tests: it records every launch, fails the ones the test says, and hands back
// children whose output, exit and reaction to signals the test scripts on the virtual loop.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/MainLoop.h"
#include "platform/ChildProcess.h"

namespace velaro::test {

class FakeChildProcess final : public ChildProcess, public std::enable_shared_from_this<FakeChildProcess> {
public:
    FakeChildProcess(MainLoop& loop, ProcessLauncher::Spec spec, ProcessLauncher::Handlers handlers, int pid);

    // ---- what the test does as the child ----
    // Writes to standard output; ignored once the output ended or nobody listens.
    void write(std::string_view chunk);
    // Closes standard output (the reader sees the end of it).
    void endOutput();
    // Ends the child with `status` and reaps it: the exit handler runs, once. The output ends too, unless
    // something the child started still holds it open (`closesOutput` false).
    void exit(int status, bool closesOutput = true);

    // ---- what the test reads ----
    const ProcessLauncher::Spec& spec() const { return spec_; }
    // The command word: the first argument.
    std::string command() const { return spec_.arguments.empty() ? std::string() : spec_.arguments.front(); }
    // Every signal delivered, in order.
    const std::vector<int>& receivedSignals() const { return signals_; }
    bool handlersDropped() const { return !handlers_; }
    bool outputEnded() const { return outputEnded_; }
    // Signals that the child survives (as a program that ignores or handles SIGTERM would).
    bool ignoresTerm = false;

    int pid() const override { return pid_; }
    bool isRunning() const override { return running_; }
    // A delivered SIGKILL, or a SIGTERM the child does not ignore, ends it on the loop's next turn.
    bool signal(int signo) override;
    void terminate() override;
    void dropHandlers() override { handlers_.reset(); }

private:
    MainLoop& loop_;
    ProcessLauncher::Spec spec_;
    std::shared_ptr<ProcessLauncher::Handlers> handlers_;
    int pid_;
    bool running_ = true;
    bool outputEnded_ = false;
    bool dying_ = false;
    std::vector<int> signals_;
    Cancellable killTimer_;
};

class FakeProcessLauncher final : public ProcessLauncher {
public:
    explicit FakeProcessLauncher(MainLoop& loop) : loop_(loop) {}

    std::shared_ptr<ChildProcess> launch(const Spec& spec, Handlers handlers, std::string* error) override;

    // Launches fail with this text while it is set (the program is still recorded as asked for).
    std::optional<std::string> failure;
    // Runs inside `launch`, before it returns, with each new child: output and exits scripted here reach
    // the handlers before the launcher's caller sees the child, as a fast real child's can.
    std::function<void(FakeChildProcess&)> onLaunch;

    // Every child launched, oldest first.
    const std::vector<std::shared_ptr<FakeChildProcess>>& launched() const { return launched_; }
    // Those whose first argument is `command`.
    std::vector<std::shared_ptr<FakeChildProcess>> launched(const std::string& command) const;
    // How many launches were asked for, failed ones included.
    int attempts() const { return attempts_; }
    // Children not yet reaped.
    int running() const;

private:
    MainLoop& loop_;
    std::vector<std::shared_ptr<FakeChildProcess>> launched_;
    int attempts_ = 0;
    int nextPid_ = 4000;
};

}  // namespace velaro::test
