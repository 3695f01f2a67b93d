// replace_problem on a real file system (Wine): which files the commit takes for replaceable,
// in use or refused, before it moves anything, one by one and all at once.
#include "job/in_use.h"

#include "app/handle.h"
#include "app/log.h"
#include "net/error_text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace df::setup;
using namespace df::test;

namespace {

const std::string IN_USE = " is in use by another program (close duskfern and try again)";

enum class Expect { replaceable, in_use, access_denied };

// path as the in-use message names it: with the programs that use it where the Restart Manager
// names them (Windows, not Wine).
std::string named(const std::wstring& path) {
    std::string names;
    for (const std::string& name : programs_using(path)) names += (names.empty() ? " (" : ", ") + name;
    return to_utf8(path) + names + (names.empty() ? "" : ")");
}

}  // namespace

TEST(ReplaceProblem, FilesHeldRunningOrRefused) {
    const std::wstring dir = scratch_folder("in-use");
    struct Row {
        const char* name;
        bool exists, folder;
        DWORD held_share;  // a second handle's share mode; ~0u: none held
        Expect expect;
    };
    const DWORD NONE = ~0u;
    const Row rows[] = {
        {"missing", false, false, NONE, Expect::replaceable},
        {"free", true, false, NONE, Expect::replaceable},
        {"held without delete sharing", true, false, FILE_SHARE_READ | FILE_SHARE_WRITE, Expect::in_use},
        {"held with every sharing", true, false, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         Expect::replaceable},  // not visible to the check: the move itself reports it
        {"held read-only sharing", true, false, FILE_SHARE_READ, Expect::in_use},
        {"a folder", true, true, NONE, Expect::access_denied},
    };
    std::vector<UniqueFile> holds;  // kept to the end, for the check of all rows at once
    std::vector<std::wstring> paths;
    std::string in_use, refused;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = dir + L"\\" + from_utf8(row.name) + L".dll";
        if (row.folder) {
            ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
        } else if (row.exists) {
            ASSERT_TRUE(write_file(path, "old"));
        }
        if (row.held_share != NONE) {
            holds.emplace_back(::CreateFileW(path.c_str(), GENERIC_READ, row.held_share, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holds.back());
        }
        paths.push_back(path);
        const std::optional<Failure> problem = replace_problem({path});
        const std::string denied = "cannot replace " + to_utf8(path) + ": " + system_error_text(ERROR_ACCESS_DENIED);
        switch (row.expect) {
        case Expect::replaceable:
            EXPECT_FALSE(problem) << problem->message;
            break;
        case Expect::in_use:
            ASSERT_TRUE(problem);
            EXPECT_EQ(problem->message, named(path) + IN_USE);
            in_use += (in_use.empty() ? "" : ", ") + named(path);
            break;
        case Expect::access_denied:
            ASSERT_TRUE(problem);
            EXPECT_EQ(problem->message, denied);
            refused += "; " + denied;
            break;
        }
        EXPECT_EQ(read_file(path), row.exists && !row.folder ? "old" : "") << "nothing written";
    }
    // Every row at once, and a file known to be held: each file in use named in the one
    // sentence, then the other refusals.
    const std::wstring known = dir + L"\\known.dll.part-old";
    const std::optional<Failure> all = replace_problem(paths, {known});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->message, in_use + ", " + to_utf8(known) + " are in use by other programs (close duskfern and try again)" +
                                refused);
    EXPECT_FALSE(replace_problem({dir + L"\\no folder\\x.dll"})) << "a missing folder holds nothing to replace";
}
