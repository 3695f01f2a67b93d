#pragma once
// The setup log and the UTF-8/UTF-16 conversions used at every Windows boundary.
#include <string>
#include <string_view>

namespace df::setup {

// Replaces the process-wide log path; set once at start-up, before other threads exist.
void set_log_path(std::wstring path);
// The current log path (empty until start-up sets it).
std::wstring log_path();
// Appends "YYYY-MM-DD hh:mm:ss.mmm " + message + CR LF; a line that cannot be written is dropped.
void log_line(std::string_view message);

// UTF-16 to UTF-8 (CP_UTF8, flags 0); empty when the input is empty or cannot be converted.
std::string to_utf8(std::wstring_view text);
// UTF-8 to UTF-16 (CP_UTF8, flags 0); empty when the input is empty or cannot be converted.
std::wstring from_utf8(std::string_view text);

}  // namespace df::setup
