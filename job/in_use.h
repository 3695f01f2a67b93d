#pragma once
// Whether the files of the install folder can be replaced now: asked for every destination before
// the commit moves anything, so a program holding one leaves the whole folder as it was, and the
// user learns of every such file at once.
#include "job/failure.h"

#include <optional>
#include <string>
#include <vector>

namespace df::setup {

// Nothing when every one of paths can be replaced or does not exist, and held is empty (files
// known to be held by a program, counted in use without a look). Otherwise a local_fault failure
// naming every problem: the files in use (those of paths in their order, then held) in one
// sentence, path + " is in use by another program (close duskfern and try again)" for one and
// "a, b are in use by other programs (close duskfern and try again)" for more, each path followed
// by the programs that use it when the system names them ("a (x, y)"); then each other refusal,
// "cannot replace " + path + ": " + the system's text; the parts joined by "; ".
std::optional<Failure> replace_problem(const std::vector<std::wstring>& paths,
                                       const std::vector<std::wstring>& held = {});

// The programs that use path as the Restart Manager lists them (UTF-8, each once); empty when
// it is not available, fails or lists none.
std::vector<std::string> programs_using(const std::wstring& path);

}  // namespace df::setup
