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
    std::optional<std::wstring> connections;  // as given; read with connections_value
};

// The transfers side by side that "--connections" may ask for.
inline constexpr int MIN_CONNECTIONS = 1;
inline constexpr int MAX_CONNECTIONS = 16;

// The number a "--connections" value names: decimal digits only (no sign, no blanks, at most two
// digits) from MIN_CONNECTIONS to MAX_CONNECTIONS; nothing for any other text.
std::optional<int> connections_value(const std::wstring& text);

// Options from the arguments after the program name: exact, case-sensitive names; a value is
// the next argument whatever it looks like; the last occurrence wins; unknown or dangling ignored.
Options parse_command_line(const std::vector<std::wstring>& args);

// "---- duskfern-setup 0.7.1 pid=N silent|window ui=zh|en"
std::string header_line(unsigned long pid, bool silent, bool chinese);

}  // namespace df::setup
