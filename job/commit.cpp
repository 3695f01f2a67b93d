#include "job/commit.h"

#include "app/log.h"
#include "job/in_use.h"
#include "net/error_text.h"
#include "net/http.h"

#include <windows.h>

namespace df::setup {

std::string commit_files(const std::vector<std::wstring>& dests) {
    // Every destination first, so a file in use stops the commit before anything moved.
    for (const std::wstring& dest : dests) {
        std::string problem = replace_problem(dest);
        if (!problem.empty()) return problem;
    }
    for (const std::wstring& dest : dests) {
        const std::wstring part = part_path(dest);
        if (!::MoveFileExW(part.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DWORD code = ::GetLastError();
            return "cannot replace " + to_utf8(dest) + ": " + system_error_text(code);
        }
    }
    return {};
}

}  // namespace df::setup
