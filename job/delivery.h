#pragma once
// The "files" phase of a run: every plan file fetched and verified into its part file, one after
// another in plan order with one connection, or in lanes side by side (job/lanes) with more.
#include "job/candidates.h"
#include "job/failure.h"
#include "job/job.h"
#include "job/plan.h"
#include "net/http.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace df::setup {

// What the files phase did.
struct Delivered {
    std::vector<std::wstring> verified;  // destinations whose verified part files wait for the commit, plan order
    std::uint64_t received = 0;          // bytes that arrived over the network for the files
    std::optional<Failure> failure;      // the first file that failed for good (the transfers in
                                         // flight then stop and keep their part files), or cancelled
};

// Fetches every file of plan for job.dir through http and candidates; reports "files" progress
// (the bytes that arrive against those that will, and the file count) and counts the sources in
// job.from_mirror and job.from_github.
Delivered deliver_plan(Job& job, Http& http, const Plan& plan, Candidates& candidates);

}  // namespace df::setup
