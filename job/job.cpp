#include "job/job.h"

#include "app/log.h"

namespace df::setup {

// Placeholder until the install pipeline lands: the run fails through the single failure step.
void run_job(Job& job) {
    job.ok = false;
    job.cancelled = job.cancel.load();
    job.error = job.cancelled ? "cancelled" : "install pipeline not available";
    log_line("FAILED " + job.error);
}

}  // namespace df::setup
