#include "app/files.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace df::setup;
using namespace df::test;

TEST(CreateFolders, NestedExistingAndBlocked) {
    std::wstring base = scratch_folder("folders");
    EXPECT_EQ(create_folders(base + L"\\a\\b\\c"), 0u);
    EXPECT_TRUE(file_exists(base + L"\\a\\b\\c"));
    EXPECT_EQ(create_folders(base + L"\\a\\b\\c"), 0u);   // already there
    EXPECT_EQ(create_folders(base + L"/d/e"), 0u);          // forward slashes too
    EXPECT_TRUE(file_exists(base + L"\\d\\e"));

    // A file where a folder should be is a refusal, not a success.
    ASSERT_TRUE(write_file(base + L"\\data", "x"));
    EXPECT_EQ(create_folders(base + L"\\data"), static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS));
    EXPECT_NE(create_folders(base + L"\\data\\below"), 0u);
    EXPECT_EQ(read_file(base + L"\\data"), "x");
    EXPECT_NE(create_folders(L""), 0u);
}

TEST(JoinPath, Separators) {
    EXPECT_EQ(join_path(L"C:\\x", L"data"), L"C:\\x\\data");
    EXPECT_EQ(join_path(L"C:\\", L"data"), L"C:\\data");
    EXPECT_EQ(join_path(L"", L"data"), L"data");
}

TEST(ParentFolder, LastSeparator) {
    EXPECT_EQ(parent_folder(L"C:\\x\\bin\\core.dll"), L"C:\\x\\bin");
    EXPECT_EQ(parent_folder(L"C:\\x/res/a.txt"), L"C:\\x/res");
    EXPECT_EQ(parent_folder(L"C:\\a.txt"), L"C:\\");
    EXPECT_EQ(parent_folder(L"\\\\server\\share\\a"), L"\\\\server\\share");
    EXPECT_EQ(parent_folder(L"a.txt"), L"");
}
