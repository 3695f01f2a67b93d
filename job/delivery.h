#pragma once
// The "files" phase of a run: the plan's files fetched side by side, up to Job::connections at
// once, each through the candidate list with per-file fallback and demotion.
#include "job/job.h"
#include "job/plan.h"
#include "net/http.h"

#include <optional>
#include <string>
#include <vector>

namespace df::setup {

// Delivers every file of plan into job.dir through http, taking files in plan order; reports
// "files" progress (one byte count that never goes back, one file count) and counts the sources
// in job.from_mirror and job.from_github. candidates is reordered by demotion. Nothing on
// success; else the message for the run's failure step: the first file that failed for good
// (its transfers in flight stopped, their part files kept), or "cancelled".
std::optional<std::string> deliver_plan(Job& job, Http& http, const Plan& plan, std::vector<ReleaseInfo>& candidates);

}  // namespace df::setup
