#include "ui/folder_pending.h"

namespace df::setup {

std::wstring normalize_folder(std::wstring_view text) { return std::wstring(text); }
std::vector<std::wstring> list_folder(const std::wstring&) { return {}; }
FolderContents classify_contents(const std::vector<std::wstring>& names) {
    return names.empty() ? FolderContents::empty_folder : FolderContents::has_other_files;
}

}  // namespace df::setup
