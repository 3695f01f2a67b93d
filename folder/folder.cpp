#include "folder/folder.h"

namespace df::setup {

// Placeholder until the folder rules land: every folder is accepted as given.
std::wstring check_install_folder(std::wstring&) { return {}; }

std::wstring default_install_folder(const std::wstring& profile) {
    if (profile.empty()) return L"C:\\Duskfern";
    std::wstring base = profile;
    if (base.back() != L'\\') base += L'\\';
    return base + L"Duskfern";
}

}  // namespace df::setup
