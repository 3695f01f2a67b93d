#pragma once
// Stand-ins for the folder rules the picker uses, until folder/ provides them.
#include <string>
#include <vector>

namespace df::setup {

enum class FolderContents { empty_folder = 0, has_app = 1, has_other_files = 2 };
std::wstring normalize_folder(std::wstring_view text);
std::vector<std::wstring> list_folder(const std::wstring& folder);
FolderContents classify_contents(const std::vector<std::wstring>& names);

}  // namespace df::setup
