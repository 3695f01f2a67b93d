#pragma once
// The setup window (window mode).
#include "job/job.h"
#include "net/proxy.h"

#include <string>

namespace df::setup {

// Creates the window with the initial folder and runs its message loop on this thread;
// 1 when the window could not be created, otherwise 0 once the loop has ended. Its jobs use
// proxy (the dialog gives credentials) and fetch connections files at once; a non-empty refusal
// is shown as the failure, and nothing starts.
int run_window(const std::wstring& initial_folder, const ProxySettings& proxy = {}, const std::string& refusal = {},
               int connections = DEFAULT_CONNECTIONS);

}  // namespace df::setup
