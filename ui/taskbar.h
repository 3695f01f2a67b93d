#pragma once
// The progress on the window's taskbar button (the shell's ITaskbarList3). Window thread only.
#include <windows.h>

namespace df::setup {

enum class TaskbarState { none, normal, paused, error };

// Registers the shell's "TaskbarButtonCreated" message and lets it reach window also when the
// setup runs elevated above the shell. Call once, right after the window exists.
void prepare_taskbar(HWND window);
// True for the shell's message that the window's taskbar button exists (again).
bool is_taskbar_button_message(UINT msg);
// The button exists: takes the shell's taskbar object (again, after the shell restarted) and
// shows the state last asked for on it.
void on_taskbar_button_created(HWND window);
// Shows state with value of 1000 (normal, paused and error) on the button, now or once it exists.
void show_taskbar(TaskbarState state, int value = 0);
// Lets go of the shell's object; before COM is uninitialised.
void release_taskbar();

}  // namespace df::setup
