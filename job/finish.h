#pragma once
// The finishing phase: the data folder and the desktop shortcut.
#include "job/failure.h"

#include <optional>
#include <string>

namespace df::setup {

// Creates dir\data (with parents); nothing on success, else "cannot create data\: " + the
// system's description. A file named "data" is a refusal, not a success.
std::optional<Failure> create_data_folder(const std::wstring& dir);

// Saves "duskfern.lnk" on the desktop to dir\duskfern-overlay.exe and logs "shortcut <path> ok"
// or "... failed"; best effort, never fails the install. COM must be initialised on this thread.
void create_shortcut(const std::wstring& dir);

}  // namespace df::setup
