#include "tests/support/child_process.h"

#include <cwchar>
#include <vector>

namespace df::test {
namespace {

// The extra entries first, then this process's own except those the extra entries replace.
std::vector<wchar_t> environment_block(const std::wstring& extra_env) {
    std::vector<std::wstring> extra;
    std::size_t start = 0;
    while (start < extra_env.size()) {
        std::size_t end = extra_env.find(L'\n', start);
        if (end == std::wstring::npos) end = extra_env.size();
        if (end > start) extra.push_back(extra_env.substr(start, end - start));
        start = end + 1;
    }
    auto replaced = [&](const wchar_t* entry) {
        for (const auto& x : extra) {
            std::size_t eq = x.find(L'=');
            if (eq != std::wstring::npos && wcslen(entry) > eq && _wcsnicmp(entry, x.c_str(), eq + 1) == 0) return true;
        }
        return false;
    };
    std::vector<wchar_t> block;
    for (const auto& x : extra) {
        block.insert(block.end(), x.begin(), x.end());
        block.push_back(L'\0');
    }
    wchar_t* own = ::GetEnvironmentStringsW();
    for (const wchar_t* p = own; *p; p += wcslen(p) + 1) {
        if (!replaced(p)) block.insert(block.end(), p, p + wcslen(p) + 1);
    }
    ::FreeEnvironmentStringsW(own);
    block.push_back(L'\0');
    return block;
}

}  // namespace

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
