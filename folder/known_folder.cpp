#include "folder/known_folder.h"

#include "app/handle.h"

namespace df::setup {

std::wstring known_folder_path(REFKNOWNFOLDERID id) {
    UniqueCoText text;
    HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, text.put());
    if (FAILED(hr) || !text) return {};
    return text.get();
}

}  // namespace df::setup
