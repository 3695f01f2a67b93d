#include "ui/ui_state.h"

#include "ui/format.h"
#include "ui/text.h"

namespace df::setup {

MainAction main_action(UiState state) {
    switch (state) {
        case UiState::idle: return MainAction::start_install;
        case UiState::finished: return MainAction::launch_and_close;
        case UiState::running: break;
    }
    return MainAction::nothing;
}

SecondAction second_action(UiState state) {
    return state == UiState::running ? SecondAction::request_cancel : SecondAction::close;
}

CloseAction close_action(UiState state) {
    return state == UiState::running ? CloseAction::ask_first : CloseAction::close;
}

ControlLook look_when_started() { return {UiState::running, false, false, nullptr, nullptr}; }

ControlLook look_after_result(bool ok) {
    if (ok) return {UiState::finished, false, true, "launch", "close"};
    return {UiState::idle, true, true, "retry", nullptr};
}

int bar_position(std::uint64_t bytes_done, std::uint64_t bytes_total) {
    if (bytes_total == 0) return 0;
    double pos = static_cast<double>(bytes_done) * 1000.0 / static_cast<double>(bytes_total);
    // Clamped before the conversion: a count far above the total must not overflow the int.
    if (!(pos > 0.0)) return 0;
    if (pos >= 1000.0) return 1000;
    return static_cast<int>(pos);
}

namespace {

// The phase as a text key. Keys are ASCII; a phase with any other unit matches no row.
std::string phase_key(std::wstring_view phase) {
    std::string key;
    for (wchar_t c : phase) {
        if (c >= 0x80) return "\x01";  // in no row: looks up as "?"
        key += static_cast<char>(c);
    }
    return key;
}

constexpr double MEGABYTE = 1048576.0;

// The speed and the time left as shown, once both are known: the one formatting of these figures
// for the window and the log.
struct Pace {
    std::wstring speed;
    std::wstring left;
};
std::optional<Pace> pace_of(const RateEstimate& rate, bool chinese) {
    const std::optional<double> speed = rate.bytes_per_second();
    const std::optional<std::uint64_t> seconds = rate.seconds_left();
    if (!speed || !seconds) return std::nullopt;
    std::optional<std::wstring> left = time_left_text(*seconds, chinese);
    if (!left) return std::nullopt;
    return Pace{speed_text(*speed, chinese), std::move(*left)};
}

double megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / MEGABYTE; }

}  // namespace

ProgressDisplay progress_display(const Progress& p, const RateEstimate& rate) {
    ProgressDisplay d;
    if (p.phase == L"files") {
        if (std::optional<Pace> pace = pace_of(rate, use_chinese)) {
            d.status = format_text(ui_text("files_rate"), {p.files_done, p.files_total, megabytes(p.bytes_done),
                                                           megabytes(p.bytes_total), pace->speed, pace->left});
        } else {
            d.status = format_text(ui_text("files"), {p.files_done, p.files_total, megabytes(p.bytes_done),
                                                      megabytes(p.bytes_total)});
        }
        d.bar = bar_position(p.bytes_done, p.bytes_total);
    } else if (!p.phase.empty()) {
        d.status = std::wstring(ui_text(phase_key(p.phase)));
    }
    return d;
}

std::wstring progress_log_text(const Progress& p, const RateEstimate& rate) {
    std::wstring line = format_text(L"progress %d / %d files, %.1f / %.1f MB",
                                    {p.files_done, p.files_total, megabytes(p.bytes_done), megabytes(p.bytes_total)});
    if (std::optional<Pace> pace = pace_of(rate, false)) line += L", " + pace->speed + L", " + pace->left;
    return line;
}

std::wstring version_label(std::wstring_view version) {
    if (version.empty() || version[0] == L'v' || version[0] == L'V') return std::wstring(version);
    return L"v" + std::wstring(version);
}

std::wstring outcome_text(const Outcome& o) {
    if (!o.ok) {
        if (o.cancelled) return ui_text("cancelled");
        return format_text(ui_text("failed"), {o.error});
    }
    std::wstring line = format_text(ui_text("done"), {version_label(o.version), o.dir});
    line += ui_text(o.from_github > o.from_mirror ? "from_github" : "from_mirror");
    return line;
}

LaunchCommand launch_command(std::wstring_view dir) {
    LaunchCommand c;
    c.exe = dir;
    if (c.exe.empty() || c.exe.back() != L'\\') c.exe += L'\\';
    c.exe += L"duskfern-overlay.exe";
    c.command_line = L"\"" + c.exe + L"\"";
    return c;
}

}  // namespace df::setup
