#pragma once
// The commit of a delivery: once every plan file is verified, the part files replace their
// destinations, so a failure before this point leaves the install folder as it was.
#include <string>
#include <vector>

namespace df::setup {

// Checks that every one of dests can be replaced (replace_problem), then moves the part file of
// each over it, in the given order. Empty on success; else the job's failure message: the first
// problem of the check, with nothing moved, or "cannot replace " + path + ": " + the system's
// text at the first refused move (the moves before it stay done, the part files after it stay
// for the next run).
std::string commit_files(const std::vector<std::wstring>& dests);

}  // namespace df::setup
