#include "app/command_line.h"

namespace df::setup {

Options parse_command_line(const std::vector<std::wstring>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (a == L"--silent") {
            o.silent = true;
            continue;
        }
        if (a == L"--shortcut") {
            o.shortcut = true;
            continue;
        }
        std::optional<std::wstring>* slot = nullptr;
        std::wstring* plain = nullptr;
        if (a == L"--dir") slot = &o.dir;
        else if (a == L"--log") slot = &o.log;
        else if (a == L"--lang") slot = &o.lang;
        else if (a == L"--connections") slot = &o.connections;
        else if (a == L"--proxy") slot = &o.proxy;
        else if (a == L"--proxy-user") slot = &o.proxy_user;
        else if (a == L"--source") plain = &o.source;
        else continue;  // not an option name (also "--dir=D:\x")
        if (i + 1 >= args.size()) break;  // a value-taking option as the last argument is ignored
        const std::wstring& value = args[++i];
        if (slot) *slot = value;
        else *plain = value;
    }
    return o;
}

std::optional<int> connections_value(const std::wstring& text) {
    if (text.empty() || text.size() > 2) return std::nullopt;
    int n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        n = n * 10 + (c - L'0');
    }
    if (n < MIN_CONNECTIONS || n > MAX_CONNECTIONS) return std::nullopt;
    return n;
}

std::string header_line(unsigned long pid, bool silent, bool chinese) {
    return "---- duskfern-setup 0.7.1 pid=" + std::to_string(pid) + (silent ? " silent" : " window") +
           " ui=" + (chinese ? "zh" : "en");
}

}  // namespace df::setup
