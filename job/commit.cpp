#include "job/commit.h"

#include "app/handle.h"
#include "app/last_error.h"
#include "app/log.h"
#include "job/in_use.h"
#include "job/present_files.h"
#include "net/error_text.h"
#include "net/part_files.h"

#include <windows.h>

namespace df::setup {
namespace {

bool exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Moves from to to, over an existing to when replace is set; 0, or the system error code. Written
// through: the system returns only once the new names are on the disk, so a power cut after the
// commit cannot bring back names it replaced.
DWORD move(const std::wstring& from, const std::wstring& to, bool replace = false) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (::MoveFileExW(from.c_str(), to.c_str(), flags)) return 0;
    return last_error_code();
}

// How far the commit got with one destination.
struct Replaced {
    std::wstring dest;
    bool aside = false;     // its old file was renamed aside
    bool in_place = false;  // its part file was moved in
};

// Undoes what the commit did to r's destination: the new file back to its part file, the old
// one back from aside. A refusal is logged; the next run finds what a stopped commit leaves.
void put_back(const Replaced& r) {
    DWORD code = r.in_place ? move(r.dest, part_path(r.dest)) : 0;
    if (code == 0 && r.aside) code = move(part_path(r.dest, PartKind::aside), r.dest);
    if (code != 0) log_line("cannot put back " + to_utf8(r.dest) + ": " + system_error_text(code));
}

}  // namespace

std::optional<Failure> commit_files(const std::vector<std::wstring>& dests) {
    // Every file to be replaced first, so a file in use stops the commit before anything moved.
    // An old file still aside that a delete leaves in place is held by a program (delete pending
    // until it closes it, or held without delete sharing): the rename aside onto it would fail.
    PresentFiles present;  // the folders as they are before the first move
    std::vector<std::wstring> old, held;
    for (const std::wstring& dest : dests) {
        if (present.has(dest)) old.push_back(dest);
        const std::wstring aside = part_path(dest, PartKind::aside);
        if (!present.has(aside)) continue;
        remove_aside(dest);  // its name goes at once unless a program holds it
        if (exists(aside)) held.push_back(aside);
    }
    if (auto problem = replace_problem(old, held)) return problem;

    // The old file is renamed, not overwritten: a program that holds it open with delete sharing
    // (an indexer, a viewer) lets Windows rename it, where a move over it would be refused after
    // the files before it were already replaced.
    std::vector<Replaced> done;
    done.reserve(dests.size());
    for (const std::wstring& dest : dests) {
        Replaced& r = done.emplace_back(Replaced{dest});
        DWORD code = 0;
        if (present.has(dest)) {
            code = move(dest, part_path(dest, PartKind::aside), true);
            r.aside = code == 0;
        }
        if (code == 0) {
            code = move(part_path(dest), dest);
            r.in_place = code == 0;
        }
        if (code != 0) {
            for (auto it = done.rbegin(); it != done.rend(); ++it) put_back(*it);
            return Failure{FailureKind::local_fault, "cannot replace " + to_utf8(dest) + ": " + system_error_text(code)};
        }
    }
    // Every new file is in: the old ones go. While a program holds one with delete sharing, its
    // name stays until the program closes it (unless the system deletes the POSIX way, as recent
    // Windows 10 on NTFS does); one opened since without delete sharing refuses the delete. The
    // next run removes what is left.
    for (const Replaced& r : done) {
        if (r.aside) remove_aside(r.dest);
    }
    return std::nullopt;
}

void remove_aside(const std::wstring& dest) { ::DeleteFileW(part_path(dest, PartKind::aside).c_str()); }

std::optional<Failure> flush_file(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && ::FlushFileBuffers(file.get())) return std::nullopt;
    const DWORD code = last_error_code();
    return Failure{FailureKind::local_fault, "cannot flush " + to_utf8(path) + ": " + system_error_text(code)};
}

}  // namespace df::setup
