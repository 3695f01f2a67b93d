#pragma once
// The setup window's states and display rules, free of any Windows type so that they build
// and are tested everywhere. The window code (ui/window.cpp, ui/progress.cpp) applies them.
#include "job/job.h"
#include "ui/rate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

enum class UiState : std::int32_t { idle = 0, running = 1, finished = 2 };

// What the main button (id 104, or Enter as IDOK) does.
enum class MainAction { start_install, nothing, launch_and_close };
// What the second button (id 105, or Esc as IDCANCEL) does.
enum class SecondAction { request_cancel, close };
// What closing the window (WM_CLOSE) does.
enum class CloseAction { ask_first, close };

// idle starts an install, running ignores the press, finished launches and closes.
MainAction main_action(UiState state);
// running only asks the job to stop; every other state closes the window.
SecondAction second_action(UiState state);
// running asks the stop question first; every other state closes at once.
CloseAction close_action(UiState state);

// How the controls look after a transition. A null key leaves that button's text as it is.
struct ControlLook {
    UiState state;
    bool inputs_enabled;   // folder box, Browse and shortcut box
    bool main_enabled;     // main button
    const char* main_key;  // text key of the main button
    const char* second_key;
};
// Install accepted and the job thread started.
ControlLook look_when_started();
// The job ended: success gives finished with Launch and Close, anything else idle with Retry.
ControlLook look_after_result(bool ok);

// Bar position 0 to 1000 for bytes done of total: 0 for a zero total, else done * 1000 / total
// in double, truncated toward zero and clamped to 0..1000.
int bar_position(std::uint64_t bytes_done, std::uint64_t bytes_total);

// What one progress report changes: the status line text and the bar position, each only when set.
struct ProgressDisplay {
    std::optional<std::wstring> status;
    std::optional<int> bar;
};
// "files" gives the files line and the bar, the line with the speed and the time left of rate
// once both are known; another non-empty phase its text (or "?"); an empty phase changes nothing.
ProgressDisplay progress_display(const Progress& p, const RateEstimate& rate = {});
// The silent log's line for a "files" report, with the same figures as the window's files line:
// "progress D / T files, X / Y MB" and, once both are known, ", " speed ", " time left (English).
std::wstring progress_log_text(const Progress& p, const RateEstimate& rate);

// What the window shows about a finished job (its texts already converted to UTF-16).
struct Outcome {
    bool ok = false;
    bool cancelled = false;
    std::wstring error;
    std::wstring version;
    std::wstring dir;
    std::uint32_t from_mirror = 0;
    std::uint32_t from_github = 0;
};
// The version as shown after success: a leading "v" is added unless it starts with v or V already.
std::wstring version_label(std::wstring_view version);
// The status line for the outcome: the success line with its source suffix (GitHub only when it
// delivered more files than the mirror), the cancelled text, or the failed text with the error.
std::wstring outcome_text(const Outcome& o);

// The installed application's path and its command line (the quoted path, no arguments).
struct LaunchCommand {
    std::wstring exe;
    std::wstring command_line;
};
// dir joined with "duskfern-overlay.exe" (a backslash inserted unless dir ends with one).
LaunchCommand launch_command(std::wstring_view dir);

}  // namespace df::setup
