#include "app/progress_log.h"

#include "app/handle.h"
#include "app/log.h"
#include "ui/rate.h"
#include "ui/ui_state.h"

#include <memory>
#include <mutex>
#include <optional>

namespace df::setup {
namespace {

struct ProgressLog {
    // Guards the fields below; held for a sample and the decision, never while writing the log.
    std::mutex mutex;
    RateEstimate rate;
    std::optional<std::uint64_t> last_line_ms;  // or the start of the phase

    void report(const Progress& p) {
        if (p.phase != L"files") return;
        std::wstring line;
        {
            std::lock_guard lock(mutex);
            const std::uint64_t now = ::GetTickCount64();
            rate.add(now, p.bytes_done, p.bytes_total);
            if (!last_line_ms) last_line_ms = now;
            if (now - *last_line_ms < PROGRESS_LOG_EVERY_MS) return;
            last_line_ms = now;
            line = progress_log_text(p, rate);
        }
        log_line(to_utf8(line));
    }
};

}  // namespace

std::function<void(const Progress&)> make_progress_log() {
    auto log = std::make_shared<ProgressLog>();
    return [log](const Progress& p) { log->report(p); };
}

}  // namespace df::setup
