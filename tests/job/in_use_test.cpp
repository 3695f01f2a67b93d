// replace_problem on a real file system (Wine): which files the commit takes for replaceable,
// in use or refused, before it moves anything.
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring path = dir + L"\\" + from_utf8(row.name) + L".dll";
        if (row.folder) {
            ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
        } else if (row.exists) {
            ASSERT_TRUE(write_file(path, "old"));
        }
        UniqueFile held;
        if (row.held_share != NONE) {
            held.reset(::CreateFileW(path.c_str(), GENERIC_READ, row.held_share, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held);
        }
        const std::string problem = replace_problem(path);
        switch (row.expect) {
        case Expect::replaceable:
            EXPECT_EQ(problem, "");
            break;
        case Expect::in_use:
            // Where the Restart Manager names the holder (Windows, not Wine), its name follows the path.
            EXPECT_TRUE(problem == to_utf8(path) + IN_USE ||
                        (problem.starts_with(to_utf8(path) + " (") && problem.ends_with(")" + IN_USE)))
                << problem;
            break;
        case Expect::access_denied:
            EXPECT_EQ(problem, "cannot replace " + to_utf8(path) + ": " + system_error_text(ERROR_ACCESS_DENIED));
            break;
        }
        EXPECT_EQ(read_file(path), row.exists && !row.folder ? "old" : "") << "nothing written";
    }
    EXPECT_EQ(replace_problem(dir + L"\\no folder\\x.dll"), "") << "a missing folder holds nothing to replace";
}
