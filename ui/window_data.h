#pragma once
// The setup window's process-wide data and the handlers shared by ui/window.cpp and
// ui/progress.cpp (Windows). Everything here belongs to the window thread, except what
// ui/progress.cpp guards with progress_mutex.
#include "app/handle.h"
#include "job/job.h"
#include "ui/ui_state.h"

#include <memory>
#include <thread>

namespace df::setup {

inline constexpr int id_folder = 101;
inline constexpr int id_browse = 102;
inline constexpr int id_shortcut = 103;
inline constexpr int id_install = 104;
inline constexpr int id_cancel = 105;
inline constexpr int id_progress = 106;
inline constexpr int id_status = 107;

inline constexpr UINT msg_progress = WM_APP + 1;
inline constexpr UINT msg_finished = WM_APP + 2;
// While a job runs: the status line's speed and time left are brought up to date every second.
inline constexpr UINT_PTR timer_progress = 1;

struct WindowData {
    HWND main = nullptr;
    HWND heading = nullptr;
    HWND folder_label = nullptr;
    HWND folder = nullptr;
    HWND browse = nullptr;
    HWND shortcut = nullptr;
    HWND progress = nullptr;
    HWND status = nullptr;
    HWND install = nullptr;
    HWND cancel = nullptr;
    UniqueFont body_font;
    UniqueFont heading_font;
    UniqueIcon large_icon;
    UniqueIcon small_icon;
    int ui_dpi = 96;
    int connections = DEFAULT_CONNECTIONS;  // of every job the window starts
    UiState ui_state = UiState::idle;
    bool asking_to_close = false;       // the stop question is open
    bool closing = false;               // Close was confirmed: the window goes when the job has ended
    std::unique_ptr<Job> current_job;  // replaced only after its thread was joined
    std::thread job_thread;            // joinable from its start until it is joined
    UniqueKernel job_ended;            // set by the job thread as its last step (manual reset)
    ProxySettings proxy;               // every job's proxy ("--proxy")
    std::string refusal;               // a start-up option refused ("bad --proxy"): nothing starts
};

// The one window of the process.
extern WindowData ui;

// v pixels at 96 DPI on the window's screen.
int scaled(int v);
// One child control of parent at 96-DPI geometry, scaled, with the body font.
HWND make_child(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int width,
                int height, int id);

// The observer that start_install puts into a job: copies p under progress_mutex, then posts
// msg_progress to window. Runs on the job thread.
std::function<void(const Progress&)> make_progress_observer(HWND window);
// A new job starts: forgets the last progress report and speed, shows normal progress on the
// taskbar button and starts the one-second timer_progress tick (show_result stops it).
void begin_progress();
// msg_progress and the tick: shows the newest progress copy in the status line, bar and taskbar
// button, with the speed and time left once they are known.
void show_progress();
// msg_finished: joins the job thread if it is joinable, then shows current_job's outcome.
void show_result();
// Starts dir's duskfern-overlay.exe without waiting for it; true when the process was created.
bool launch_app(const Job& job);
// Enables the controls and sets the button texts as look says, and moves ui_state there.
void apply_look(const ControlLook& look);
// WM_CTLCOLORSTATIC of the setup's windows: label text on the window background.
LRESULT static_colors(HDC dc);
// Sets the status line's text.
void set_status(const std::wstring& text);

}  // namespace df::setup
