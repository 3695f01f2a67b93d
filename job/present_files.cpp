#include "job/present_files.h"

#include "app/files.h"
#include "app/log.h"
#include "folder/folder.h"
#include "job/plan.h"

namespace df::setup {

bool PresentFiles::has(const std::wstring& path) {
    const std::wstring folder = parent_folder(path);
    auto [it, listed_now] = folders_.try_emplace(folder);
    if (listed_now) {
        for (const std::wstring& name : list_folder(folder)) it->second.insert(windows_name_key(to_utf8(name)));
    }
    const std::size_t start = folder.size() + (folder.ends_with(L'\\') ? 0 : 1);
    return it->second.contains(windows_name_key(to_utf8(std::wstring_view(path).substr(start))));
}

}  // namespace df::setup
