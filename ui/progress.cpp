// The channel from the job thread to the window, the display of progress and outcome, and the
// launch of the installed application.
#include "app/log.h"
#include "ui/rate.h"
#include "ui/taskbar.h"
#include "ui/text.h"
#include "ui/window_data.h"

#include <commctrl.h>

#include <mutex>

namespace df::setup {
namespace {

// The newest report of the running job; guarded by progress_mutex and nothing else.
std::mutex progress_mutex;
Progress latest_progress;

// The speed of the running job's downloads, fed with the reports the window shows and with its
// one-second ticks (so that a stall slows the speed down); window thread only.
RateEstimate window_rate;

}  // namespace

void apply_look(const ControlLook& look) {
    ui.ui_state = look.state;
    ::EnableWindow(ui.folder, look.inputs_enabled);
    ::EnableWindow(ui.browse, look.inputs_enabled);
    ::EnableWindow(ui.shortcut, look.inputs_enabled);
    ::EnableWindow(ui.install, look.main_enabled);
    if (look.main_key) ::SetWindowTextW(ui.install, ui_text(look.main_key));
    if (look.second_key) ::SetWindowTextW(ui.cancel, ui_text(look.second_key));
}

void set_status(const std::wstring& text) { ::SetWindowTextW(ui.status, text.c_str()); }

std::function<void(const Progress&)> make_progress_observer(HWND window) {
    return [window](const Progress& p) {
        {
            std::lock_guard<std::mutex> lock(progress_mutex);
            latest_progress.phase = p.phase;  // reuses the copy's storage
            latest_progress.files_done = p.files_done;
            latest_progress.files_total = p.files_total;
            latest_progress.bytes_done = p.bytes_done;
            latest_progress.bytes_total = p.bytes_total;
        }
        ::PostMessageW(window, msg_progress, 0, 0);
    };
}

void begin_progress() {
    {
        std::lock_guard<std::mutex> lock(progress_mutex);
        latest_progress = Progress{};
    }
    window_rate = RateEstimate{};
    show_taskbar(TaskbarState::normal, 0);
    ::SetTimer(ui.main, timer_progress, 1000, nullptr);
}

void show_progress() {
    Progress p;
    {
        std::lock_guard<std::mutex> lock(progress_mutex);
        p = latest_progress;
    }
    // A report that arrives after the job's outcome is shown (its message was still queued)
    // must not overwrite the outcome.
    if (ui.ui_state != UiState::running) return;
    if (p.phase == L"files") window_rate.add(::GetTickCount64(), p.bytes_done, p.bytes_total);
    ProgressDisplay d = progress_display(p, window_rate);
    if (d.status) set_status(*d.status);
    if (d.bar) {
        ::SendMessageW(ui.progress, PBM_SETPOS, static_cast<WPARAM>(*d.bar), 0);
        show_taskbar(TaskbarState::normal, *d.bar);
    }
}

void show_result() {
    if (ui.job_thread.joinable()) ui.job_thread.join();
    if (!ui.current_job || ui.ui_state != UiState::running) return;
    ::KillTimer(ui.main, timer_progress);
    const Job& j = *ui.current_job;
    Outcome o;
    o.ok = j.ok;
    o.cancelled = j.cancelled;
    o.error = from_utf8(j.error);
    o.version = from_utf8(j.version);
    o.dir = j.dir;
    o.from_mirror = j.from_mirror;
    o.from_github = j.from_github;
    ControlLook look = look_after_result(j.ok);
    if (j.ok) ::SendMessageW(ui.progress, PBM_SETPOS, 1000, 0);
    // The button keeps the bar's place: paused after a cancel, red after a failure.
    const int bar = static_cast<int>(::SendMessageW(ui.progress, PBM_GETPOS, 0, 0));
    show_taskbar(j.ok ? TaskbarState::none : j.cancelled ? TaskbarState::paused : TaskbarState::error, bar);
    set_status(outcome_text(o));
    apply_look(look);
    // The window itself held the focus while the job ran; the main button acts again.
    ::SetFocus(ui.install);
}

bool launch_app(const Job& job) {
    LaunchCommand c = launch_command(job.dir);
    std::wstring command_line = c.command_line;  // CreateProcessW may write into it
    STARTUPINFOW si{};
    si.cb = sizeof si;
    static_assert(sizeof(STARTUPINFOW) == 104);
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(c.exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, job.dir.c_str(), &si,
                          &pi)) {
        return false;
    }
    // Declared in this order so that the thread handle is closed first.
    UniqueKernel process(pi.hProcess);
    UniqueKernel thread(pi.hThread);
    return true;
}

}  // namespace df::setup
