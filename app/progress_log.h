#pragma once
// The silent flow's progress lines in the setup log.
#include "job/job.h"

#include <cstdint>
#include <functional>

namespace df::setup {

// No more than one progress line in this many milliseconds.
inline constexpr std::uint64_t PROGRESS_LOG_EVERY_MS = 5000;

// A progress observer that writes one "progress ..." log line (progress_log_text: the figures
// the window shows) for the "files" report that comes PROGRESS_LOG_EVERY_MS or more after the
// phase began or after the last line. Cheap, and safe to call from any thread at once.
std::function<void(const Progress&)> make_progress_log();

}  // namespace df::setup
