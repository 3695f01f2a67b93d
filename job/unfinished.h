#pragma once
// What an interrupted run leaves in the install folder, settled before the files phase of the
// next one, and the mark by which the folder rule knows an unfinished install of this setup.
#include "job/failure.h"
#include "job/plan.h"

#include <optional>
#include <string>

namespace df::setup {

// Before the files phase of a run into dir: deletes every plan file's old file that a stopped
// commit left aside (remove_aside); then, when plan lists the application's executable and dir
// holds neither it nor its part file, packed copy or record of pieces, creates its empty part
// file, the mark of an unfinished install. Nothing, or a local_fault failure "cannot write " +
// the mark's path + ": " + the system's text.
std::optional<Failure> pick_up_unfinished(const std::wstring& dir, const Plan& plan);

}  // namespace df::setup
