#include "folder/folder.h"

#include "app/files.h"
#include "app/handle.h"
#include "app/last_error.h"
#include "app/log.h"
#include "folder/known_folder.h"
#include "net/error_text.h"
#include "ui/text.h"

namespace df::setup {

std::vector<std::wstring> system_folders() {
    // Looked up on every check: nothing is cached, so a changed system is seen at once.
    const KNOWNFOLDERID* ids[] = {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_Windows,
                                  &FOLDERID_ProgramData};
    std::vector<std::wstring> out;
    for (const KNOWNFOLDERID* id : ids) {
        std::wstring path = known_folder_path(*id);
        if (!path.empty()) out.push_back(std::move(path));
    }
    return out;
}

std::vector<std::wstring> list_folder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    UniqueFind find(::FindFirstFileW(join_path(folder, L"*").c_str(), &data));
    if (!find) return names;
    do {
        std::wstring_view name(data.cFileName);
        if (name != L"." && name != L"..") names.emplace_back(name);
    } while (::FindNextFileW(find.get(), &data));
    return names;
}

bool can_write_folder(const std::wstring& folder, std::string* error) {
    std::wstring probe = join_path(folder, std::wstring(PROBE_FILE_NAME));
    UniqueFile file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!file) {
        DWORD code = last_error_code();
        if (error) *error = system_error_text(code);
        return false;
    }
    file.reset();  // the system deletes the probe on close; nothing was written
    return true;
}

std::wstring check_install_folder(std::wstring& folder) {
    folder = normalize_folder(folder);
    const std::vector<std::wstring> systems = system_folders();

    FolderProblem p = classify_folder(folder, systems);
    if (p != FolderProblem::none) {
        log_line(std::string("folder rejected: ") + problem_name(p) + " " + to_utf8(folder));
        return problem_text(p);
    }

    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A file in the folder's place: never replaced, and nothing is created beside it.
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ui_text("bad_write");
        if (needs_subfolder(folder, list_folder(folder))) {
            folder = with_subfolder(folder);
            log_line("folder holds other files; installing into " + to_utf8(folder));
            p = classify_folder(folder, systems);
            if (p != FolderProblem::none) return problem_text(p);
        }
    }

    create_folders(folder);  // a failure here shows up as the probe's reason below
    std::string reason;
    if (!can_write_folder(folder, &reason)) {
        log_line("folder not writable: " + reason);
        return ui_text("bad_write");
    }
    return {};
}

}  // namespace df::setup
