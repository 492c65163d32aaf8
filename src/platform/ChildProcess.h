// Child processes: launching a program with arguments, its standard output as a pipe read as it arrives
// (or the null device), its exit, and signals that can never reach another process once it was reaped.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velaro {

// A launched child. Dropping every handle neither stops nor leaks it: the launcher still reaps it.
class ChildProcess {
public:
    virtual ~ChildProcess() = default;

    // The process id, for diagnostics only: signals go through `signal` and `terminate`.
    virtual int pid() const = 0;
    // False once the child has exited and was reaped.
    virtual bool isRunning() const = 0;
    // Sends `signo` unless the child was already reaped; true when it was delivered.
    virtual bool signal(int signo) = 0;
    // SIGTERM now, and SIGKILL one second later if the child is still alive then.
    virtual void terminate() = 0;
    // No output or exit handler runs after this returns, except one already running on another thread;
    // reading ends, and the child is still reaped.
    virtual void dropHandlers() = 0;
};

class ProcessLauncher {
public:
    struct Spec {
        // An absolute path: the program is never searched for along PATH.
        std::string program;
        // The arguments after the program's own name.
        std::vector<std::string> arguments;
        // Standard output as a pipe delivered to `onOutput`; otherwise the null device. Standard error is
        // always the null device and standard input is inherited.
        bool pipeOutput = false;
    };
    struct Handlers {
        // Each chunk of standard output as it arrives, on a background thread; an empty chunk is the end
        // of the output (and the last call).
        std::function<void(std::string_view chunk)> onOutput;
        // Once, when the child has exited and was reaped, on a background thread: its exit code, or the
        // number of the signal that ended it.
        std::function<void(int status)> onExit;
    };

    virtual ~ProcessLauncher() = default;
    // Starts `spec`; the handlers may run before this returns. On failure returns null and sets `error` to
    // the system's description of why (a missing program, no permission, no memory...).
    virtual std::shared_ptr<ChildProcess> launch(const Spec& spec, Handlers handlers, std::string* error) = 0;
};

}  // namespace velaro
