#pragma once
// The files phase with transfers side by side: whole files, and transfers larger than
// PIECES_ABOVE cut into pieces, drawn from both sources at once, up to per_source transfers on
// each (Windows).
//
// The source order, demotion and fallback hold per file and per piece: a file or piece starts on
// the first source in the candidate list's order that has a free transfer, and goes to the other
// when it fails there; a source that fails for a fault of its own is demoted, and one that fails
// twice in a row takes only what the other cannot deliver. The record that was not resolved (the
// alternate) carries one transfer at a time until it has delivered once. Nothing is cut for a
// source before a ranged request showed that it serves byte ranges; a source that answers a
// range otherwise (a whole file, another range, 416) serves whole files only. A file assembled
// from both sources that fails verification is fetched again from one source alone, then the
// other, so a source that sends wrong bytes is named.
#include "job/candidates.h"
#include "job/phase.h"
#include "net/http.h"

namespace df::setup {

// Delivers every file of phase's plan through http and candidates; failures, deliveries and
// progress go to phase. Returns when every file is delivered or the phase stops.
void run_lanes(Phase& phase, Http& http, Candidates& candidates, int per_source);

}  // namespace df::setup
