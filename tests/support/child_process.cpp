#include "tests/support/child_process.h"

#include "tests/support/test_support.h"

#include <cwchar>
#include <vector>

namespace df::test {


ChildProcess::~ChildProcess() {
    if (running()) kill();
}

bool ChildProcess::start(const std::wstring& command_line, const std::wstring& extra_env) {
    std::vector<wchar_t> block = environment_block(extra_env);
    std::wstring cmd = command_line;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                          nullptr, &si, &pi)) {
        return false;
    }
    df::setup::UniqueKernel thread(pi.hThread);
    process_.reset(pi.hProcess);
    pid_ = pi.dwProcessId;
    tid_ = pi.dwThreadId;
    return true;
}

std::optional<unsigned long> ChildProcess::wait(unsigned long timeout_ms) {
    if (!process_) return std::nullopt;
    if (::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

bool ChildProcess::running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

void ChildProcess::kill() {
    if (!process_) return;
    ::TerminateProcess(process_.get(), 99);
    ::WaitForSingleObject(process_.get(), 5000);
}

}  // namespace df::test
