#pragma once
// The real duskfern-setup.exe in window mode, started beside the test and driven through its
// controls. Shared by the window tests.
#include "app/log.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

namespace df::test {

inline constexpr int ID_FOLDER = 101, ID_BROWSE = 102, ID_SHORTCUT = 103, ID_INSTALL = 104, ID_CANCEL = 105,
                     ID_PROGRESS = 106, ID_STATUS = 107;

// Addresses on which nothing listens: a job pointed there fails at once, without any traffic
// leaving the machine.
inline const wchar_t CLOSED_SOURCES[] =
    L"DUSKFERN_UPDATE_MIRROR=http://127.0.0.1:9\nDUSKFERN_UPDATE_BASE=http://127.0.0.1:9/gh";

class SetupWindow {
public:
    // Starts the setup with its log and temp folder in scratch and the extra arguments and
    // environment, then waits for its window.
    SetupWindow(const std::string& name, const std::wstring& args, const std::wstring& env = CLOSED_SOURCES) {
        scratch = scratch_folder(name);
        log_path = scratch + L"\\setup.log";
        std::wstring cmd = L"\"" + setup_exe() + L"\" --log \"" + log_path + L"\" " + args;
        std::wstring full_env = L"TEMP=" + scratch + L"\nTMP=" + scratch + L"\n" + env;
        started = process.start(cmd, full_env);
        if (started) window = wait_for_process_window(L"duskfern.setup", process.pid(), 30000);
    }

    HWND item(int id) const { return control(window, id); }
    std::wstring text(int id) const { return text_of(item(id)); }
    std::wstring status() const { return text(ID_STATUS); }
    bool enabled(int id) const { return ::IsWindowEnabled(item(id)) != FALSE; }
    int bar() const { return static_cast<int>(::SendMessageW(item(ID_PROGRESS), PBM_GETPOS, 0, 0)); }
    bool checked(int id) const { return ::SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::string log() const { return read_file(log_path); }

    // Waits until the status line satisfies ok; false on time-out.
    template <class F>
    bool wait_status(F ok, unsigned long timeout_ms = 30000) const {
        return wait_until([&] { return ok(status()); }, timeout_ms);
    }
    // Waits until the main button reads text (the job's end shows there).
    bool wait_main_button(const std::wstring& text, unsigned long timeout_ms = 60000) const {
        return wait_until([&] { return this->text(ID_INSTALL) == text; }, timeout_ms);
    }
    // Waits for the process to end and gives its exit code, or ~0 on time-out.
    unsigned long exit_code(unsigned long timeout_ms = 30000) {
        auto code = process.wait(timeout_ms);
        return code ? *code : ~0ul;
    }

    ChildProcess process;
    bool started = false;
    HWND window = nullptr;
    std::wstring scratch;
    std::wstring log_path;
};

// Lines of a log text (CR LF ended), without their time stamps.
inline std::vector<std::string> log_messages(const std::string& log) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        out.push_back(line.size() > 24 ? line.substr(24) : line);
        start = end + 2;
    }
    return out;
}

inline std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

}  // namespace df::test
