#include "job/unfinished.h"

#include "app/files.h"
#include "app/handle.h"
#include "app/last_error.h"
#include "app/log.h"
#include "folder/folder_rules.h"
#include "job/commit.h"
#include "job/present_files.h"
#include "net/error_text.h"
#include "net/part_files.h"

#include <windows.h>

#include <algorithm>

namespace df::setup {
namespace {

// The executable's empty part file, unless the executable or one of its part files is there
// (present: as listed before the asides were deleted).
// It is what the folder rule takes for an unfinished install of this setup: a folder that holds
// files can be someone else's (it then gets the Duskfern subfolder) or a download folder full of
// other programs' part files, but only this setup writes this name, and it does so before its
// first transfer, whatever the order in which the files arrive. It is an ordinary empty part
// file, which the transfer of the executable starts from byte 0.
std::optional<Failure> mark(const std::wstring& exe, PresentFiles& present) {
    if (present.has(exe)) return std::nullopt;
    for (PartKind kind : {PartKind::bytes, PartKind::packed, PartKind::pieces}) {  // its aside was just deleted
        if (present.has(part_path(exe, kind))) return std::nullopt;
    }
    const std::wstring part = part_path(exe);
    UniqueFile file(::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = last_error_code();
        if (code == ERROR_FILE_EXISTS) return std::nullopt;
        return Failure{FailureKind::local_fault, "cannot write " + to_utf8(part) + ": " + system_error_text(code)};
    }
    // So that the mark outlasts a power cut as the part files it vouches for do; a refusal costs
    // only that, and the first transfer writes the file anyway.
    ::FlushFileBuffers(file.get());
    return std::nullopt;
}

}  // namespace

std::optional<Failure> pick_up_unfinished(const std::wstring& dir, const Plan& plan) {
    PresentFiles present;
    std::optional<std::wstring> exe;
    for (const ManifestFile& f : plan.files) {
        const std::wstring dest = join_relative(dir, f.path);
        // The old files a stopped commit left aside go here, before the files phase, not in the
        // next commit: a commit sees only the files it moves, never one whose move was done
        // before the stop (its old file would stay aside for good), and an old copy of a big
        // file would otherwise take its disk space for the whole files phase. Whatever the stop
        // left of a file (old with its part, old aside with its part, new with its old aside),
        // the delivery then finds the new file in place or verified in its part file.
        if (present.has(part_path(dest, PartKind::aside))) remove_aside(dest);
        if (classify_contents({from_utf8(f.path)}) == FolderContents::has_app) exe = dest;
    }
    return exe ? mark(*exe, present) : std::nullopt;
}

}  // namespace df::setup
