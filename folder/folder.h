#pragma once
// Install folder operations that touch the file system (Windows). The text rules they apply
// are in folder/folder_rules.h.
#include "folder/folder_rules.h"

#include <string>
#include <vector>

namespace df::setup {

// Program Files, Program Files (x86), Windows and ProgramData as the system reports them now,
// in that order; a folder that cannot be looked up (or is empty) is left out.
std::vector<std::wstring> system_folders();

// The names of every entry of folder (files and folders, hidden and system ones too), without
// "." and ".."; empty when the folder is missing or cannot be read.
std::vector<std::wstring> list_folder(const std::wstring& folder);

// The write probe: creates folder\.duskfern-write-probe (deleted again on close). On failure
// false, and *error (when given) is the system's text of the reason.
bool can_write_folder(const std::wstring& folder, std::string* error = nullptr);

// Normalises folder in place (and may append "\Duskfern"), checks it against the rules, creates
// it and probes it for writing; the message to show, or an empty text when the folder is accepted.
std::wstring check_install_folder(std::wstring& folder);

}  // namespace df::setup
