#pragma once
// Whether a file of the install folder can be replaced now: asked for every destination before
// the commit moves anything, so a program holding one leaves the whole folder as it was.
#include <string>
#include <vector>

namespace df::setup {

// Empty when path can be replaced or does not exist. Otherwise the job's failure message:
// path + " is in use by another program (close duskfern and try again)", with the names of
// the programs after the path when the system names them (path + " (a, b) is in use ..."),
// or "cannot replace " + path + ": " + the system's text for any other refusal.
std::string replace_problem(const std::wstring& path);

// The programs that use path as the Restart Manager lists them (UTF-8, each once); empty when
// it is not available, fails or lists none.
std::vector<std::string> programs_using(const std::wstring& path);

}  // namespace df::setup
