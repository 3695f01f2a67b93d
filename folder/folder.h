#pragma once
// Install folder checks that touch the file system (Windows).
#include <string>

namespace df::setup {

// Normalises folder in place (may append "\Duskfern"), creates it and probes it for writing;
// returns the message to show, or an empty text when the folder is accepted.
std::wstring check_install_folder(std::wstring& folder);

// The proposed folder for a profile folder: profile + "\Duskfern", or "C:\Duskfern".
std::wstring default_install_folder(const std::wstring& profile);

}  // namespace df::setup
