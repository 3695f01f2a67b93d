#pragma once
// The commit of a delivery: once every plan file is verified, the part files replace their
// destinations, all of them or none, so a failure before or during it leaves the install folder
// as it was, with the verified part files kept for the next run.
#include "job/failure.h"

#include <optional>
#include <string>
#include <vector>

namespace df::setup {

// Checks that every one of dests can be replaced and that no old file set aside beside one is
// still held by a program (replace_problem: every problem in one failure, nothing moved); then
// replaces each, in the given order: its old file renamed aside (part_path(dest,
// PartKind::aside)), its part file moved in, every move written through; once all are in, the
// asides are deleted (one the system cannot delete yet is left to remove_aside). Nothing on
// success. At a refused move every file replaced so far gets its old file back and its new one
// goes back to its part file, and the failure (local_fault) is "cannot replace " + dest + ": " +
// the system's text.
std::optional<Failure> commit_files(const std::vector<std::wstring>& dests);

// Deletes dest's old file set aside by a commit that stopped (a kill, a power cut, a failed
// undo) or could not delete it; what the system refuses stays for a later run.
void remove_aside(const std::wstring& dest);

// Flushes the file at path to disk (FlushFileBuffers), for a verified part file whose bytes this
// run did not write itself; nothing, or a local_fault failure "cannot flush " + path + ": " + the
// system's text.
std::optional<Failure> flush_file(const std::wstring& path);

}  // namespace df::setup
