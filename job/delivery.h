#pragma once
// The "files" phase of a run: the plan's files fetched side by side, up to Job::connections at
// once, each verified into its part file by the per-file step (job/fetch_file) through the shared
// candidate list.
#include "job/candidates.h"
#include "job/job.h"
#include "job/plan.h"
#include "net/http.h"

#include <optional>
#include <string>
#include <vector>

namespace df::setup {

// Fetches every file of plan for job.dir through http, starting files in plan order; reports
// "files" progress (one byte count that never goes back, one file count) and counts the sources
// in job.from_mirror and job.from_github; verified receives, in plan order, the destinations
// whose verified part files wait for the commit. Nothing when every file is verified or already
// present; else the message for the run's failure step: that of the first file that failed for
// good (the transfers in flight then stop and keep their part files), or "cancelled".
std::optional<std::string> deliver_plan(Job& job, Http& http, const Plan& plan, Candidates& candidates,
                                        std::vector<std::wstring>& verified);

}  // namespace df::setup
