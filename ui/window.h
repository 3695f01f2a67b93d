#pragma once
// The setup window (window mode).
#include <string>

namespace df::setup {

// Creates the window with the initial folder and runs its message loop on this thread; its jobs
// fetch connections files at once. 1 when the window could not be created, otherwise 0 once the
// loop has ended.
int run_window(const std::wstring& initial_folder, int connections);

}  // namespace df::setup
