#pragma once
// Process start-up: language, COM, log, command line, header line, then one of the two flows.
namespace df::setup {

// Runs the whole process on the calling (main) thread and returns the exit code (0 to 3).
int run_setup();

}  // namespace df::setup
