// Child processes on Linux: fork and exec with close-on-exec pipes, exec errors reported through a status
// pipe, and one thread per child that reads its output, reaps it through a pidfd and escalates SIGTERM.
#pragma once

#include "platform/ChildProcess.h"

namespace velaro {

class LinuxProcessLauncher final : public ProcessLauncher {
public:
    // The child also receives SIGKILL when this process dies, so no helper outlives the app.
    std::shared_ptr<ChildProcess> launch(const Spec& spec, Handlers handlers, std::string* error) override;
};

}  // namespace velaro
