#pragma once
// Start-up options from the argument list. Portable.
#include <optional>
#include <string>
#include <vector>

namespace df::setup {

struct Options {
    bool silent = false;
    bool shortcut = false;
    std::optional<std::wstring> dir;
    std::optional<std::wstring> log;
    std::optional<std::wstring> lang;
    std::optional<std::wstring> proxy;       // "--proxy HOST:PORT"
    std::optional<std::wstring> proxy_user;  // "--proxy-user NAME" (the password never comes from here)
    std::wstring source = L"mirror";
};

// Options from the arguments after the program name: exact, case-sensitive names; a value is
// the next argument whatever it looks like; the last occurrence wins; unknown or dangling ignored.
Options parse_command_line(const std::vector<std::wstring>& args);

// "---- duskfern-setup 0.7.1 pid=N silent|window ui=zh|en"
std::string header_line(unsigned long pid, bool silent, bool chinese);

}  // namespace df::setup
