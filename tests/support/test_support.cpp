#include "tests/support/test_support.h"

#include "app/handle.h"
#include "app/log.h"

#include <atomic>
#include <cstdlib>
#include <vector>

namespace df::test {
using namespace df::setup;

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::wstring windows_path(const std::string& path) {
    if (path.empty() || path[0] != '/') return from_utf8(path);
    std::wstring out = L"Z:" + from_utf8(path);
    for (auto& c : out) {
        if (c == L'/') c = L'\\';
    }
    return out;
}

std::wstring build_file(const std::string& relative) { return windows_path(env("DF_BINARY_DIR") + "/" + relative); }

std::wstring setup_exe() {
    std::string exe = env("DF_SETUP_EXE");
    return exe.empty() ? build_file("app/duskfern-setup.exe") : windows_path(exe);
}

std::wstring scratch_folder(const std::string& name) {
    static std::atomic<int> counter{0};
    std::wstring base = build_file("test-scratch");
    ::CreateDirectoryW(base.c_str(), nullptr);
    std::wstring dir = base + L"\\" + from_utf8(name) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                       std::to_wstring(counter++);
    // Wine hands out the same small pids run after run: a folder of that name is a leftover of
    // an earlier run, and a test must not find its files (a log with old lines, say).
    remove_tree(dir);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

bool remove_tree(const std::wstring& path) {
    // An empty path (a server root that was never set) would make "\\*" below: the drive's root.
    if (path.empty()) return false;
    DWORD a = ::GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        return ::DeleteFileW(path.c_str()) != 0;
    }
    WIN32_FIND_DATAW d;
    UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &d));
    if (find) {
        do {
            std::wstring name = d.cFileName;
            if (name != L"." && name != L"..") remove_tree(path + L"\\" + name);
        } while (::FindNextFileW(find.get(), &d));
    }
    find.reset();
    return ::RemoveDirectoryW(path.c_str()) != 0;
}

std::string read_file(const std::wstring& path) {
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return {};
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    return out;
}

bool write_file(const std::wstring& path, const std::string& bytes) {
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD wrote = 0;
        if (!::WriteFile(f.get(), bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
        done += wrote;
    }
    return true;
}

std::map<std::string, std::string> files_below(const std::wstring& folder) {
    std::map<std::string, std::string> out;
    std::vector<std::pair<std::wstring, std::string>> pending = {{folder, ""}};
    while (!pending.empty()) {
        auto [dir, prefix] = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAW d;
        UniqueFind find(::FindFirstFileW((dir + L"\\*").c_str(), &d));
        if (!find) continue;
        do {
            std::wstring name = d.cFileName;
            if (name == L"." || name == L"..") continue;
            if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                pending.push_back({dir + L"\\" + name, prefix + to_utf8(name) + "/"});
            } else {
                out[prefix + to_utf8(name)] = read_file(dir + L"\\" + name);
            }
        } while (::FindNextFileW(find.get(), &d));
    }
    return out;
}

bool file_exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

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

ProcessResult run_process(const std::wstring& command_line, unsigned long timeout_ms, const std::wstring& extra_env) {
    ProcessResult r;
    std::vector<wchar_t> block;
    if (!extra_env.empty()) block = environment_block(extra_env);
    std::wstring cmd = command_line;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          block.empty() ? nullptr : block.data(), nullptr, &si, &pi)) {
        return r;
    }
    UniqueKernel process(pi.hProcess), thread(pi.hThread);
    r.started = true;
    if (::WaitForSingleObject(process.get(), timeout_ms) == WAIT_TIMEOUT) {
        r.timed_out = true;
        ::TerminateProcess(process.get(), 99);
        ::WaitForSingleObject(process.get(), 5000);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    r.exit_code = code;
    return r;
}

}  // namespace df::test
