#pragma once
// The calling thread's last error code (Windows).
#include <windows.h>

#include <cstdint>

namespace df::setup {

// The last error code of the calling thread. Read right after the call that failed, before any
// other call: the one place the setup reads it.
inline std::uint32_t last_error_code() { return ::GetLastError(); }

}  // namespace df::setup
