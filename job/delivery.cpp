#include "job/delivery.h"

#include "job/fetch_file.h"
#include "job/lanes.h"
#include "job/phase.h"

namespace df::setup {

Delivered deliver_plan(Job& job, Http& http, const Plan& plan, Candidates& candidates) {
    std::uint64_t expected = 0;
    for (const ManifestFile& f : plan.files) expected += expected_bytes(f, candidates.sources_for(f));
    Phase phase(job, plan, [&http] { return http.received(); }, expected);
    phase.report();  // nothing runs yet
    if (job.connections > 1) {
        run_lanes(phase, http, candidates, job.connections);
    } else {
        // One file after another on the job's own thread: the transfers poll the caller's cancel
        // flag themselves, and the requests and log lines come in plan order.
        phase.stop_on_cancel_only();
        for (std::size_t i = 0; i < plan.files.size() && !phase.stopping(); ++i) {
            FileOutcome o = fetch_file(http, plan.files[i], phase.destination(i), candidates, phase.stop_flag(),
                                       [&phase](std::uint64_t) { phase.report(); }, phase.fresh(i));
            if (o.failure) {
                phase.failed(*o.failure);
                break;
            }
            phase.delivered(i, o, o.held);
        }
    }
    return Delivered{phase.verified(), phase.bytes_received(), phase.outcome()};
}

}  // namespace df::setup
