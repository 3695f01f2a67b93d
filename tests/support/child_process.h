#pragma once
// A program started by a test that runs beside it (not waited for at once), e.g. the setup
// window that the test then drives. Windows test executables only.
#include "app/handle.h"

#include <optional>
#include <string>

namespace df::test {

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child still running when its owner goes is killed, so no test leaves one behind.
    ~ChildProcess();

    // Starts command_line (program quoted by the caller) with the extra environment entries
    // "NAME=value" (one per line, replacing this process's entries of the same name); false
    // when it could not be started.
    bool start(const std::wstring& command_line, const std::wstring& extra_env = L"");
    // The exit code once the child has ended within timeout_ms; nothing while it still runs.
    std::optional<unsigned long> wait(unsigned long timeout_ms);
    // True while the child runs.
    bool running() const;
    // Ends the child at once (exit code 99) and waits for it.
    void kill();
    unsigned long pid() const { return pid_; }
    unsigned long main_thread_id() const { return tid_; }

private:
    df::setup::UniqueKernel process_;
    unsigned long pid_ = 0;
    unsigned long tid_ = 0;
};

}  // namespace df::test
