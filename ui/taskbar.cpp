#include "ui/taskbar.h"

#include "app/handle.h"

#include <shobjidl.h>

namespace df::setup {
namespace {

// All of it belongs to the window thread.
UINT button_message = 0;  // "TaskbarButtonCreated", 0 until registered
HWND button_window = nullptr;
ComPtr<ITaskbarList3> taskbar;  // null until the button exists, or when the shell has none
TaskbarState wanted_state = TaskbarState::none;
int wanted_value = 0;

TBPFLAG flag_of(TaskbarState state) {
    switch (state) {
        case TaskbarState::normal: return TBPF_NORMAL;
        case TaskbarState::paused: return TBPF_PAUSED;
        case TaskbarState::error: return TBPF_ERROR;
        case TaskbarState::none: break;
    }
    return TBPF_NOPROGRESS;
}

void apply() {
    if (!taskbar) return;
    // The value first: it would turn a state other than paused or error into normal.
    if (wanted_state != TaskbarState::none) taskbar.get()->SetProgressValue(button_window, wanted_value, 1000);
    taskbar.get()->SetProgressState(button_window, flag_of(wanted_state));
}

}  // namespace

void prepare_taskbar(HWND window) {
    button_window = window;
    button_message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    // An elevated setup would not see the message of a shell that runs below it.
    if (button_message != 0) ::ChangeWindowMessageFilterEx(window, button_message, MSGFLT_ALLOW, nullptr);
}

bool is_taskbar_button_message(UINT msg) { return button_message != 0 && msg == button_message; }

void on_taskbar_button_created(HWND window) {
    button_window = window;
    taskbar.reset();
    ComPtr<ITaskbarList3> list;
    if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  reinterpret_cast<void**>(list.put()))) ||
        FAILED(list.get()->HrInit())) {
        return;
    }
    taskbar = std::move(list);
    apply();
}

void show_taskbar(TaskbarState state, int value) {
    // Progress reports come many times a second; the shell hears only of changes.
    if (state == wanted_state && value == wanted_value) return;
    wanted_state = state;
    wanted_value = value;
    apply();
}

void release_taskbar() {
    taskbar.reset();
    button_window = nullptr;
}

}  // namespace df::setup
