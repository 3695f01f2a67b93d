#pragma once
// The command line of duskfern-publish. Portable.
#include <iosfwd>
#include <string>
#include <vector>

namespace df::publish {

// Runs the tool with args (UTF-8, without the program name); the summary goes to out, refusals
// and errors to err. Exit code: 0 published, 1 refused or failed (nothing written on a
// refusal), 2 a usage error. Reads SOURCE_DATE_EPOCH for the publication time when it is set.
int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace df::publish
