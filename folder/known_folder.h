#pragma once
// Known-folder lookup (Windows).
#include <shlobj.h>

#include <string>

namespace df::setup {

// SHGetKnownFolderPath(id, 0, no token); empty when the lookup fails. The buffer is always freed.
std::wstring known_folder_path(REFKNOWNFOLDERID id);

}  // namespace df::setup
