// check_install_folder and its platform pieces on a real file system (Wine): what is accepted,
// adjusted, created and refused, the log lines, and that nothing else is left behind.
#include "folder/folder.h"

#include "app/log.h"
#include "folder/known_folder.h"
#include "tests/support/test_support.h"
#include "ui/text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace df::setup;
using namespace df::test;

namespace {

const std::wstring BAD_WRITE = L"This folder cannot be written to; choose another.";

std::vector<std::wstring> sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
}

bool is_directory(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// One scratch folder per test with the process log pointed into it (outside the folder checked).
class FolderCheck : public ::testing::Test {
protected:
    void SetUp() override {
        use_chinese = false;
        root = scratch_folder("folder-check");
        log_file = root + L"\\setup.log";
        set_log_path(log_file);
        area = root + L"\\area";
        ASSERT_TRUE(::CreateDirectoryW(area.c_str(), nullptr));
    }
    void TearDown() override { use_chinese = false; }

    std::string log() const { return read_file(log_file); }
    std::wstring make_folder(const std::wstring& name, const std::vector<std::wstring>& files) {
        std::wstring dir = area + L"\\" + name;
        EXPECT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
        for (const auto& f : files) EXPECT_TRUE(write_file(dir + L"\\" + f, "x"));
        return dir;
    }

    std::wstring root, area, log_file;
};

}  // namespace

TEST_F(FolderCheck, ExistingFileGivesWriteProblemAndCreatesNothing) {
    std::wstring file = area + L"\\target";
    ASSERT_TRUE(write_file(file, "keep me"));
    for (std::wstring typed : {file, L" \"" + file + L"\\\" ", file + L"/"}) {
        std::wstring folder = typed;
        EXPECT_EQ(check_install_folder(folder), BAD_WRITE);
        EXPECT_EQ(folder, file);  // rewritten to the normalised form
    }
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(list_folder(area), std::vector<std::wstring>{L"target"});
    EXPECT_EQ(log(), "");  // this refusal writes no line of its own
}

TEST_F(FolderCheck, EmptyFolderIsUsedAsItIsAndProbeLeavesNothing) {
    std::wstring dir = make_folder(L"empty", {});
    std::wstring folder = dir + L"\\";
    EXPECT_EQ(check_install_folder(folder), L"");
    EXPECT_EQ(folder, dir);
    EXPECT_TRUE(list_folder(dir).empty());
    EXPECT_FALSE(file_exists(dir + L"\\.duskfern-write-probe"));
    EXPECT_EQ(log(), "");
    // A check may run any number of times (Install, then Retry).
    EXPECT_EQ(check_install_folder(folder), L"");
    EXPECT_EQ(folder, dir);
    EXPECT_TRUE(list_folder(dir).empty());
}

TEST_F(FolderCheck, OneHiddenFileGetsTheSubfolder) {
    std::wstring dir = make_folder(L"hidden", {L"desktop.ini"});
    ASSERT_TRUE(::SetFileAttributesW((dir + L"\\desktop.ini").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    std::wstring folder = dir;
    EXPECT_EQ(check_install_folder(folder), L"");
    EXPECT_EQ(folder, dir + L"\\Duskfern");
    EXPECT_TRUE(is_directory(folder));
    EXPECT_TRUE(list_folder(folder).empty());  // the probe is gone
    EXPECT_EQ(sorted(list_folder(dir)), (std::vector<std::wstring>{L"Duskfern", L"desktop.ini"}));
    std::string line = "folder holds other files; installing into " + to_utf8(folder) + "\r\n";
    EXPECT_NE(log().find(line), std::string::npos) << log();
    EXPECT_EQ(log().find("folder rejected"), std::string::npos);
}

TEST_F(FolderCheck, FolderHoldingTheAppIsUsedAsItIs) {
    std::wstring dir = make_folder(L"app", {L"DUSKFERN-OVERLAY.EXE", L"lib.dll", L"readme.txt"});
    std::wstring folder = dir;
    EXPECT_EQ(check_install_folder(folder), L"");
    EXPECT_EQ(folder, dir);
    EXPECT_EQ(list_folder(dir).size(), 3u);
    EXPECT_EQ(log(), "");
}

TEST_F(FolderCheck, UnfinishedInstallResumesInPlace) {
    struct Case {
        const wchar_t* name;
        std::vector<std::wstring> files;
        bool subfolder;
    } cases[] = {
        // Left by a cancelled run into the default folder: named Duskfern, no executable yet.
        {L"DUSKFERN", {L"lib.dll", L"data.pak.part"}, false},
        // Any folder holding the executable's partial download.
        {L"games", {L"lib.dll", L"duskfern-overlay.exe.part"}, false},
        // A download folder with some other partial download is somebody else's.
        {L"downloads", {L"movie.mkv.part"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(to_utf8(c.name));
        std::wstring dir = make_folder(c.name, c.files);
        std::wstring folder = dir;
        EXPECT_EQ(check_install_folder(folder), L"");
        EXPECT_EQ(folder, c.subfolder ? dir + L"\\Duskfern" : dir);
        EXPECT_EQ(list_folder(dir).size(), c.files.size() + (c.subfolder ? 1 : 0));
    }

    // Retry after a failure in a subfolder made by the rule: it is used again, not nested deeper.
    std::wstring dir = make_folder(L"retry", {L"notes.txt"});
    std::wstring folder = dir;
    ASSERT_EQ(check_install_folder(folder), L"");
    ASSERT_EQ(folder, dir + L"\\Duskfern");
    ASSERT_TRUE(write_file(folder + L"\\lib.dll", "arrived"));
    std::wstring again = folder;
    EXPECT_EQ(check_install_folder(again), L"");
    EXPECT_EQ(again, folder);
}

TEST_F(FolderCheck, MissingFolderIsCreatedWithItsParents) {
    std::wstring folder = area + L"/a/b/c";
    EXPECT_EQ(check_install_folder(folder), L"");
    EXPECT_EQ(folder, area + L"\\a\\b\\c");
    EXPECT_TRUE(is_directory(folder));
    EXPECT_TRUE(list_folder(folder).empty());
    EXPECT_EQ(list_folder(area), std::vector<std::wstring>{L"a"});
}

TEST_F(FolderCheck, UnwritableLocationGivesWriteMessageAndReason) {
    // Tests run as root under Wine, so permissions cannot make a folder unwritable here. Two
    // locations that cannot be written on any system stand in: a folder below a file, and a
    // folder on a drive letter that is not mapped.
    ASSERT_TRUE(write_file(area + L"\\plain", "x"));
    std::wstring folder = area + L"\\plain\\sub";
    EXPECT_EQ(check_install_folder(folder), BAD_WRITE);
    EXPECT_EQ(folder, area + L"\\plain\\sub");
    EXPECT_EQ(read_file(area + L"\\plain"), "x");
    std::string text = log();
    std::size_t p = text.find("folder not writable: error ");
    ASSERT_NE(p, std::string::npos) << text;
    EXPECT_EQ(text.find("folder rejected"), std::string::npos);

    DWORD drives = ::GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t c = L'Y'; c >= L'D' && !letter; --c) {
        if (!(drives & (1u << (c - L'A')))) letter = c;
    }
    ASSERT_NE(letter, 0);
    std::wstring unmapped = std::wstring(1, letter) + L":\\Games\\Duskfern";
    EXPECT_EQ(check_install_folder(unmapped), BAD_WRITE);
    EXPECT_NE(log().find("folder not writable: error ", p + 1), std::string::npos) << log();

    use_chinese = true;
    folder = area + L"\\plain\\sub";
    EXPECT_EQ(check_install_folder(folder), std::wstring(get_text("bad_write", true)));
}

TEST_F(FolderCheck, TextRulesRefuseWithLogLine) {
    struct Case {
        std::wstring typed, normalised;
        const char* name;
        const char* key;
    } cases[] = {
        {L"Games\\Duskfern", L"Games\\Duskfern", "relative", "bad_relative"},
        {L" \"D:/\" ", L"D:\\", "drive_root", "bad_root"},
        {L"D:\\a?b", L"D:\\a?b", "bad_chars", "bad_chars"},
        {L"D:\\LPT1.txt\\x", L"D:\\LPT1.txt\\x", "bad_chars", "bad_chars"},
        {L"D:\\" + std::wstring(178, L'a'), L"D:\\" + std::wstring(178, L'a'), "too_long", "bad_long"},
        {L"\\\\server\\share\\", L"\\\\server\\share", "drive_root", "bad_root"},
    };
    for (bool chinese : {false, true}) {
        use_chinese = chinese;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            std::wstring folder = c.typed;
            EXPECT_EQ(check_install_folder(folder), std::wstring(get_text(c.key, chinese)));
            EXPECT_EQ(folder, c.normalised);
            std::string line = std::string(" folder rejected: ") + c.name + " " + to_utf8(c.normalised) + "\r\n";
            EXPECT_NE(log().find(line), std::string::npos) << log();
        }
    }
    // The empty text is refused without touching the disk.
    use_chinese = false;
    std::wstring folder = L"  \"\"  ";
    EXPECT_EQ(check_install_folder(folder), L"Choose a folder.");
    EXPECT_EQ(folder, L"");
    EXPECT_NE(log().find(" folder rejected: empty \r\n"), std::string::npos) << log();
}

TEST_F(FolderCheck, SystemFoldersFromTheSystem) {
    std::vector<std::wstring> found = system_folders();
    std::vector<std::wstring> expected;
    for (const KNOWNFOLDERID* id :
         {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_Windows, &FOLDERID_ProgramData}) {
        std::wstring path = known_folder_path(*id);
        if (!path.empty()) expected.push_back(path);
    }
    EXPECT_EQ(found, expected);
    ASSERT_EQ(found.size(), 4u);  // a default Wine prefix has all four
    for (const std::wstring& system : found) {
        SCOPED_TRACE(to_utf8(system));
        for (std::wstring folder : {system, system + L"\\Duskfern"}) {
            EXPECT_EQ(check_install_folder(folder), std::wstring(get_text("bad_system", false)));
        }
        EXPECT_FALSE(file_exists(system + L"\\Duskfern"));
    }
    std::wstring windows = known_folder_path(FOLDERID_Windows);
    std::wstring temp = windows + L"\\Temp";
    EXPECT_EQ(check_install_folder(temp), std::wstring(get_text("bad_system", false)));
    EXPECT_NE(log().find("folder rejected: system_folder " + to_utf8(temp) + "\r\n"), std::string::npos);
}

TEST_F(FolderCheck, SubfolderThatBreaksARuleKeepsItsForm) {
    // A folder of 175 units holding a file: the subfolder form has 184 and is too long.
    std::wstring dir = area + L"\\";
    dir += std::wstring(175 - dir.size(), L'x');
    ASSERT_EQ(dir.size(), 175u);
    ASSERT_TRUE(::CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(write_file(dir + L"\\other.txt", "x"));
    std::wstring folder = dir;
    EXPECT_EQ(check_install_folder(folder), L"The path is too long; choose a shorter one.");
    EXPECT_EQ(folder, dir + L"\\Duskfern");
    EXPECT_FALSE(file_exists(folder));
    EXPECT_NE(log().find("folder holds other files; installing into " + to_utf8(folder)), std::string::npos);
    EXPECT_EQ(log().find("folder rejected"), std::string::npos);  // no second line for this refusal
}

TEST_F(FolderCheck, SubfolderInTheWayAsAFileIsNotWritable) {
    std::wstring dir = make_folder(L"blocked", {L"Duskfern"});
    std::wstring folder = dir;
    EXPECT_EQ(check_install_folder(folder), BAD_WRITE);
    EXPECT_EQ(folder, dir + L"\\Duskfern");
    EXPECT_EQ(read_file(folder), "x");  // the file named Duskfern is left as it was
}

TEST_F(FolderCheck, ListFolderSeesEveryEntry) {
    std::wstring dir = make_folder(L"list", {L"a.txt", L".hidden", L"sys"});
    ASSERT_TRUE(::SetFileAttributesW((dir + L"\\.hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW((dir + L"\\sys").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::CreateDirectoryW((dir + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((dir + L"\\\u6E38\u620F").c_str(), nullptr));
    std::vector<std::wstring> want{L".hidden", L"a.txt", L"sub", L"sys", L"\u6E38\u620F"};
    EXPECT_EQ(sorted(list_folder(dir)), want);
    EXPECT_EQ(sorted(list_folder(dir + L"\\")), want);
    EXPECT_TRUE(list_folder(dir + L"\\missing").empty());
    EXPECT_TRUE(list_folder(dir + L"\\a.txt").empty());
}

TEST_F(FolderCheck, WriteProbe) {
    std::wstring dir = make_folder(L"probe", {});
    std::string error = "untouched";
    EXPECT_TRUE(can_write_folder(dir, &error));
    EXPECT_EQ(error, "untouched");
    EXPECT_TRUE(can_write_folder(dir + L"\\"));
    EXPECT_TRUE(list_folder(dir).empty());
    // A probe file left by a crash long ago does not stop the next probe, and goes away too.
    ASSERT_TRUE(write_file(dir + L"\\.duskfern-write-probe", "old"));
    EXPECT_TRUE(can_write_folder(dir));
    EXPECT_TRUE(list_folder(dir).empty());

    EXPECT_FALSE(can_write_folder(dir + L"\\missing", &error));
    EXPECT_EQ(error.rfind("error ", 0), 0u) << error;
    EXPECT_FALSE(can_write_folder(dir + L"\\missing"));  // no text asked for
}
