// The scripted children: output and exits as the test writes them, signals recorded, deaths on the loop.
#include "support/FakeProcessLauncher.h"

#include <signal.h>

#include <algorithm>

namespace velaro::test {

FakeChildProcess::FakeChildProcess(MainLoop& loop, ProcessLauncher::Spec spec,
                                   ProcessLauncher::Handlers handlers, int pid)
    : loop_(loop),
      spec_(std::move(spec)),
      handlers_(std::make_shared<ProcessLauncher::Handlers>(std::move(handlers))),
      pid_(pid) {}

void FakeChildProcess::write(std::string_view chunk) {
    if (outputEnded_ || chunk.empty() || !spec_.pipeOutput) return;
    if (auto h = handlers_; h && h->onOutput) h->onOutput(chunk);
}

void FakeChildProcess::endOutput() {
    if (outputEnded_) return;
    outputEnded_ = true;
    if (!spec_.pipeOutput) return;
    if (auto h = handlers_; h && h->onOutput) h->onOutput(std::string_view());
}

void FakeChildProcess::exit(int status, bool closesOutput) {
    if (!running_) return;
    if (closesOutput) endOutput();
    running_ = false;
    killTimer_.cancel();
    if (auto h = handlers_; h && h->onExit) h->onExit(status);
}

bool FakeChildProcess::signal(int signo) {
    if (!running_) return false;
    signals_.push_back(signo);
    if (dying_ || (signo == SIGTERM && ignoresTerm)) return true;
    if (signo == SIGTERM || signo == SIGKILL) {
        dying_ = true;
        // A real child's death reaches the handlers later, on another thread: here on the next turn.
        loop_.post([self = shared_from_this(), signo] { self->exit(signo); });
    }
    return true;
}

void FakeChildProcess::terminate() {
    if (!signal(SIGTERM) || killTimer_.isActive()) return;
    killTimer_ = loop_.postAfter(1.0, [this] {
        if (running_) signal(SIGKILL);
    });
}

std::shared_ptr<ChildProcess> FakeProcessLauncher::launch(const Spec& spec, Handlers handlers,
                                                          std::string* error) {
    ++attempts_;
    if (failure) {
        if (error) *error = *failure;
        return nullptr;
    }
    auto child = std::make_shared<FakeChildProcess>(loop_, spec, std::move(handlers), nextPid_++);
    launched_.push_back(child);
    if (onLaunch) onLaunch(*child);
    return child;
}

std::vector<std::shared_ptr<FakeChildProcess>> FakeProcessLauncher::launched(
    const std::string& command) const {
    std::vector<std::shared_ptr<FakeChildProcess>> matching;
    for (const auto& c : launched_)
        if (c->command() == command) matching.push_back(c);
    return matching;
}

int FakeProcessLauncher::running() const {
    return int(
        std::count_if(launched_.begin(), launched_.end(), [](const auto& c) { return c->isRunning(); }));
}

}  // namespace velaro::test
