// The install folder text rules: each rule with inputs on both sides of its boundary.
#include "folder/folder_rules.h"
#include "ui/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace df::setup;

namespace {

using P = FolderProblem;

// The known folders as a default installation reports them.
const std::vector<std::wstring> SYSTEM = {L"C:\\Program Files", L"C:\\Program Files (x86)", L"C:\\Windows",
                                          L"C:\\ProgramData"};

std::string narrow(const std::wstring& w) {
    std::string out;
    for (wchar_t c : w) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '#';
    return out;
}

struct LanguageGuard {
    bool saved = use_chinese;
    ~LanguageGuard() { use_chinese = saved; }
};

}  // namespace

TEST(NormalizeFolder, TrimsSlashesAndDriveRoots) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {L"", L""},
        {L"   ", L""},
        {L"\t\t", L""},
        {L"\"\"\"", L""},
        {L" \" \t\" ", L""},
        {L" \t\"D:\\Games\\Duskfern\\\"\t ", L"D:\\Games\\Duskfern"},
        {L"\"D:\\My Games\"", L"D:\\My Games"},       // a blank inside stays
        {L"D:\\Games \\x", L"D:\\Games \\x"},         // so does one before a backslash
        {L"D:\\a\"b", L"D:\\a\"b"},                   // a quote inside stays
        {L"D:", L"D:\\"},
        {L"d:", L"d:\\"},
        {L"D:/", L"D:\\"},
        {L"D:\\\\\\", L"D:\\"},
        {L"D:\\", L"D:\\"},
        {L"1:", L"1:\\"},  // the drive letter is not checked here
        {L"\"D:\"", L"D:\\"},
        {L"C:/Users/ann/", L"C:\\Users\\ann"},
        {L"C:\\Users\\ann\\\\", L"C:\\Users\\ann"},
        {L"\\\\server\\share\\", L"\\\\server\\share"},
        {L"//server/share", L"\\\\server\\share"},
        {L"\\\\\\\\", L"\\\\\\"},  // backslashes are dropped down to three units only
        {L"ab", L"ab"},
        {L":", L":"},
        {L"D:x", L"D:x"},
        {L"\u00A0D:\\x", L"\u00A0D:\\x"},  // only blank, tab and quote are trimmed
    };
    for (const Case& c : cases) EXPECT_EQ(normalize_folder(c.in), c.out) << narrow(c.in);
}

TEST(ClassifyFolder, TextRules) {
    struct Case {
        std::wstring in;
        P want;
    } cases[] = {
        // empty
        {L"", P::empty},
        {L"   ", P::empty},
        {L"\"\"", P::empty},
        {L" \" \" ", P::empty},
        // whole drives in every spelling
        {L"D:", P::drive_root},
        {L"D:/", P::drive_root},
        {L"D:\\", P::drive_root},
        {L"D:\\\\\\", P::drive_root},
        {L"  \"d:\\\"  ", P::drive_root},
        {L"z:", P::drive_root},
        {L"D:\\x", P::none},
        // the drive letter must be an ASCII letter (neighbours of A-Z and a-z)
        {L"1:\\x", P::relative},
        {L"@:\\x", P::relative},
        {L"[:\\x", P::relative},
        {L"`:\\x", P::relative},
        {L"{:\\x", P::relative},
        {L"\u00C4:\\x", P::relative},
        {L"A:\\x", P::none},
        {L"Z:\\x", P::none},
        {L"a:\\x", P::none},
        {L"z:\\x", P::none},
        // relative forms
        {L"C:Games", P::relative},
        {L"\\Games", P::relative},
        {L"Games\\Duskfern", P::relative},
        {L"Games", P::relative},
        {L"D", P::relative},
        {L"..\\x", P::relative},
        {L"\\\\", P::relative},
        // device forms
        {L"\\\\?\\C:\\Games", P::relative},
        {L"\\\\.\\C:\\Games", P::relative},
        {L"\\\\?\\UNC\\server\\share\\x", P::relative},
        {L"//?/C:/Games", P::relative},
        // network folders
        {L"\\\\server", P::relative},
        {L"\\\\server\\", P::relative},
        {L"\\\\\\share\\apps", P::relative},  // empty server name
        {L"\\\\server\\share", P::drive_root},
        {L"\\\\server\\share\\", P::drive_root},
        {L"//server/share/", P::drive_root},
        {L"\\\\server\\share\\apps", P::none},
        {L"//server/share/apps/Duskfern", P::none},
        {L"\\\\se?ver\\share\\apps", P::bad_chars},  // server and share are segments too
        {L"\\\\server\\con\\apps", P::bad_chars},
        {L"\\\\server\\share.\\apps", P::bad_chars},
        {L"\\\\server\\\\apps", P::drive_root},  // no backslash after the (empty) share name
        {L"\\\\server\\\\apps\\x", P::bad_chars},
        // blanks and quotes
        {L"\"D:\\Games\\Duskfern\\\"", P::none},
        {L"  D:\\Games\\Duskfern  ", P::none},
        {L"D:\\My Games\\Duskfern", P::none},
        {L"D:\\Games \\Duskfern", P::bad_chars},
        {L"D:\\ Games\\Duskfern", P::none},  // a leading blank inside a segment is allowed
        {L"D:\\Games\\Dusk\"fern", P::bad_chars},
        // segments
        {L"D:\\\\Games", P::bad_chars},
        {L"D:\\a\\\\b", P::bad_chars},
        {L"D:\\..\\x", P::bad_chars},
        {L"D:\\a\\..", P::bad_chars},
        {L"D:\\a\\.", P::bad_chars},
        {L"D:\\.\\a", P::bad_chars},
        {L"D:\\...", P::bad_chars},
        {L"D:\\a.", P::bad_chars},
        {L"D:\\a.\\b", P::bad_chars},
        {L"D:\\.hidden", P::none},
        {L"D:\\a.b", P::none},
        {L"D:\\a..b", P::none},
        {L"D:\\a?b", P::bad_chars},
        {L"D:\\a*b", P::bad_chars},
        {L"D:\\a:b", P::bad_chars},
        {L"D:\\a<b", P::bad_chars},
        {L"D:\\a>b", P::bad_chars},
        {L"D:\\a|b", P::bad_chars},
        {L"D:\\a\tb", P::bad_chars},
        {L"D:\\a\x1F" L"b", P::bad_chars},
        {std::wstring(L"D:\\a\0b", 6), P::bad_chars},
        {L"D:\\a b", P::none},
        {L"D:\\a#b%c&d~e!f'g(h)i[j]k{l}m;n,o=p+q", P::none},
        {L"D:\\a\x7F" L"b", P::none},
        {L"D:\\\u6E38\u620F\\Duskfern", P::none},
        // reserved device names
        {L"D:\\con", P::bad_chars},
        {L"D:\\Con.txt", P::bad_chars},
        {L"D:\\LPT1.txt", P::bad_chars},
        {L"D:\\x\\nul", P::bad_chars},
        {L"D:\\aux\\x", P::bad_chars},
        {L"D:\\com1.log", P::bad_chars},
        {L"D:\\COM0", P::none},
        {L"D:\\console", P::none},
        {L"D:\\lpt10", P::none},
        {L"D:\\nul2", P::none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classify_folder(c.in, SYSTEM), c.want) << narrow(c.in) << " -> " << problem_name(c.want);
    }
}

TEST(ClassifyFolder, LengthBoundaryAndOrder) {
    const std::wstring d180 = L"D:\\" + std::wstring(177, L'a');
    ASSERT_EQ(d180.size(), MAX_FOLDER_LENGTH);
    EXPECT_EQ(classify_folder(d180, SYSTEM), P::none);
    EXPECT_EQ(classify_folder(d180 + L"b", SYSTEM), P::too_long);
    // The length counts the normalised text: quotes, blanks and a trailing backslash are not counted.
    EXPECT_EQ(classify_folder(L" \"" + d180 + L"\\\" ", SYSTEM), P::none);
    EXPECT_EQ(classify_folder(L"D:/" + std::wstring(177, L'a'), SYSTEM), P::none);
    // Length comes before the characters, and the characters are still checked at 180.
    std::wstring bad180 = L"D:\\" + std::wstring(176, L'a') + L"?";
    EXPECT_EQ(classify_folder(bad180, SYSTEM), P::bad_chars);
    EXPECT_EQ(classify_folder(bad180 + L"?", SYSTEM), P::too_long);
    EXPECT_EQ(classify_folder(L"D:\\" + std::wstring(200, L'?'), SYSTEM), P::too_long);
    EXPECT_EQ(classify_folder(L"D:\\con\\" + std::wstring(200, L'a'), SYSTEM), P::too_long);
    // Length also comes before the system folders.
    EXPECT_EQ(classify_folder(L"C:\\Windows\\" + std::wstring(170, L'a'), SYSTEM), P::too_long);
    EXPECT_EQ(classify_folder(L"C:\\Windows\\" + std::wstring(169, L'a'), SYSTEM), P::system_folder);
    // Network folders: the same boundary; a bare share is a whole drive at any length.
    const std::wstring u180 = L"\\\\srv\\share\\" + std::wstring(168, L'a');
    ASSERT_EQ(u180.size(), 180u);
    EXPECT_EQ(classify_folder(u180, SYSTEM), P::none);
    EXPECT_EQ(classify_folder(u180 + L"a", SYSTEM), P::too_long);
    EXPECT_EQ(classify_folder(L"\\\\" + std::wstring(200, L's') + L"\\share", SYSTEM), P::drive_root);
    // Relative forms are relative at any length.
    EXPECT_EQ(classify_folder(std::wstring(300, L'a'), SYSTEM), P::relative);
}

TEST(ClassifyFolder, SystemFoldersAndLookAlikes) {
    struct Case {
        std::wstring in;
        P want;
    } cases[] = {
        {L"C:\\Program Files", P::system_folder},
        {L"C:\\Program Files\\Duskfern", P::system_folder},
        {L"c:\\PROGRAM FILES\\duskfern", P::system_folder},
        {L"C:\\Program Files (x86)", P::system_folder},
        {L"C:\\Program Files (x86)\\Duskfern", P::system_folder},
        {L"C:\\Windows", P::system_folder},
        {L"C:\\Windows\\Temp", P::system_folder},
        {L"C:/windows/temp/", P::system_folder},
        {L"\"C:\\Windows\\\"", P::system_folder},
        {L"C:\\ProgramData", P::system_folder},
        {L"C:\\ProgramData\\Duskfern", P::system_folder},
        {L"C:\\Program FilesX", P::none},
        {L"C:\\Program Files2\\x", P::none},
        {L"C:\\Windows.old", P::none},
        {L"C:\\Windows.old\\x", P::none},
        {L"C:\\Window", P::none},
        {L"C:\\ProgramDat", P::none},
        {L"C:\\ProgramData2", P::none},
        {L"D:\\Windows", P::none},
        {L"D:\\Program Files", P::none},
        {L"C:\\Users\\ann\\Duskfern", P::none},
    };
    for (const Case& c : cases) EXPECT_EQ(classify_folder(c.in, SYSTEM), c.want) << narrow(c.in);
}

TEST(ClassifyFolder, SystemFolderListIsData) {
    const std::wstring folder = L"D:\\Games\\Duskfern";
    EXPECT_EQ(classify_folder(folder, {}), P::none);
    // A drive root in the list covers the whole drive, in any spelling.
    EXPECT_EQ(classify_folder(folder, {L"D:\\"}), P::system_folder);
    EXPECT_EQ(classify_folder(folder, {L"d:"}), P::system_folder);
    EXPECT_EQ(classify_folder(folder, {L"E:\\"}), P::none);
    // Entries are normalised: a trailing backslash or quotes do not turn a folder into a prefix.
    EXPECT_EQ(classify_folder(L"D:\\Games.old", {L"D:\\Games\\"}), P::none);
    EXPECT_EQ(classify_folder(folder, {L"\"D:/Games/\""}), P::system_folder);
    // Too short (after normalisation) or longer than the folder: skipped.
    EXPECT_EQ(classify_folder(folder, {L"", L"D", L"  ", L"\\"}), P::none);
    EXPECT_EQ(classify_folder(L"D:\\Games", {L"D:\\Games\\Duskfern"}), P::none);
    // Any entry may match, not only the first.
    EXPECT_EQ(classify_folder(folder, {L"X:\\a", L"Y:\\b", L"D:\\GAMES"}), P::system_folder);
    // Network folders.
    EXPECT_EQ(classify_folder(L"\\\\srv\\share\\apps\\x", {L"\\\\SRV\\share\\apps"}), P::system_folder);
    // Only A-Z fold: other letters must be equal.
    EXPECT_EQ(classify_folder(L"C:\\\u00E4\\x", {L"C:\\\u00C4"}), P::none);
    EXPECT_EQ(classify_folder(L"C:\\\u00C4\\x", {L"C:\\\u00C4"}), P::system_folder);
    // The text rules decide first.
    EXPECT_EQ(classify_folder(L"C:\\Windows\\a?", {L"C:\\Windows"}), P::bad_chars);
}

TEST(ReservedDeviceName, StemsAndDigits) {
    struct Case {
        std::wstring segment;
        bool reserved;
    } cases[] = {
        {L"con", true},        {L"CON", true},          {L"Con.txt", true},   {L"con.", true},
        {L"prn", true},        {L"aux", true},          {L"nul", true},       {L"NUL.tar.gz", true},
        {L"com1", true},       {L"COM9", true},         {L"com1.log", true},  {L"lpt1", true},
        {L"LPT9", true},       {L"LPT1.txt", true},     {L"Lpt5.x.y", true},  {L"COM0", false},
        {L"lpt0", false},      {L"com10", false},       {L"lpt10", false},    {L"console", false},
        {L"nul2", false},      {L"conx", false},        {L"co", false},       {L"", false},
        {L".con", false},      {L"lpt", false},         {L"com", false},      {L"c0n", false},
        {L"com\u00B9", false},  // superscript one is not a digit from 1 to 9 here
        {L"com\u0661", false},  // nor is an Arabic-Indic digit
        {L"com:", false},       {L"xcon", false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_reserved_device_name(c.segment), c.reserved) << narrow(c.segment);
}

TEST(FolderContentsRules, ClassifyContents) {
    using C = FolderContents;
    struct Case {
        std::vector<std::wstring> names;
        C want;
    } cases[] = {
        {{}, C::empty_folder},
        {{L"duskfern-overlay.exe"}, C::has_app},
        {{L"readme.txt", L"DUSKFERN-OVERLAY.EXE", L"data"}, C::has_app},
        {{L"Duskfern-Overlay.Exe"}, C::has_app},
        {{L".hidden"}, C::has_other_files},
        {{L"duskfern-overlay.exe.part"}, C::has_other_files},
        {{L"duskfern-overlay.ex"}, C::has_other_files},
        {{L"duskfern-overlay.exe "}, C::has_other_files},
        {{L"xduskfern-overlay.exe"}, C::has_other_files},
        {{L"duskfern-overlay"}, C::has_other_files},
    };
    for (const Case& c : cases) EXPECT_EQ(classify_contents(c.names), c.want);
}

TEST(FolderContentsRules, SubfolderDecision) {
    struct Case {
        std::wstring folder;
        std::vector<std::wstring> names;
        bool subfolder;
    } cases[] = {
        {L"D:\\Games", {}, false},
        {L"D:\\Games", {L".hidden"}, true},
        {L"D:\\Games", {L"duskfern-overlay.exe", L"other"}, false},
        // An unfinished install: the folder already is the Duskfern one ...
        {L"D:\\Games\\Duskfern", {L"data", L"lib.dll"}, false},
        {L"D:\\Games\\DUSKFERN", {L"data"}, false},
        {L"D:\\Games\\duskfern\\", {L"data"}, false},
        {L"\\\\srv\\share\\Duskfern", {L"data"}, false},
        {L"D:\\Duskfern2", {L"data"}, true},
        {L"D:\\MyDuskfern", {L"data"}, true},
        {L"D:\\Duskfern.old", {L"data"}, true},
        {L"D:\\Duskfern\\x", {L"data"}, true},
        {L"D:\\Duskfern \\x", {L"data"}, true},
        // ... or it holds the executable's own partial download.
        {L"D:\\Games", {L"data", L"duskfern-overlay.exe.part"}, false},
        {L"D:\\Games", {L"DUSKFERN-OVERLAY.EXE.PART"}, false},
        {L"D:\\Games", {L"lib.dll", L"duskfern-overlay.exe.part-pieces"}, false},
        {L"D:\\Games", {L"duskfern-overlay.exe.Part-Old"}, false},
        // Any other partial download proves nothing.
        {L"D:\\Downloads", {L"movie.mkv.part"}, true},
        {L"D:\\Downloads", {L"lib.dll.part", L"x.part"}, true},
        {L"D:\\Downloads", {L"duskfern-overlay.exe.part2"}, true},
        {L"D:\\Downloads", {L"duskfern-overlay.part"}, true},
        {L"D:\\Downloads", {L"duskfern-overlay.exe.part-other"}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(needs_subfolder(c.folder, c.names), c.subfolder) << narrow(c.folder);

    EXPECT_EQ(with_subfolder(L"D:\\Games"), L"D:\\Games\\Duskfern");
    EXPECT_EQ(with_subfolder(L"D:\\"), L"D:\\Duskfern");
}

TEST(FolderProblemNames, FixedNumbersNamesAndTexts) {
    LanguageGuard guard;
    struct Case {
        int number;
        const char* name;
        const char* key;
        const wchar_t* english;
    } cases[] = {
        {0, "none", "", L""},
        {1, "empty", "bad_empty", L"Choose a folder."},
        {2, "relative", "bad_relative", L"Use a full path such as D:\\Games\\Duskfern."},
        {3, "drive_root", "bad_root", L"Pick a folder, not a whole drive."},
        {4, "bad_chars", "bad_chars", L"The folder name has characters Windows does not allow."},
        {5, "too_long", "bad_long", L"The path is too long; choose a shorter one."},
        {6, "system_folder", "bad_system",
         L"Program Files and Windows folders are not writable for updates; choose a folder of your own."},
        {7, "?", "", L""},
        {-1, "?", "", L""},
        {1000, "?", "", L""},
    };
    EXPECT_EQ(static_cast<int>(P::none), 0);
    EXPECT_EQ(static_cast<int>(P::system_folder), 6);
    EXPECT_EQ(static_cast<int>(FolderContents::empty_folder), 0);
    EXPECT_EQ(static_cast<int>(FolderContents::has_app), 1);
    EXPECT_EQ(static_cast<int>(FolderContents::has_other_files), 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        P p = static_cast<P>(c.number);
        EXPECT_STREQ(problem_name(p), c.name);
        EXPECT_EQ(problem_key(p), c.key);
        use_chinese = false;
        EXPECT_EQ(problem_text(p), c.english);
        use_chinese = true;
        EXPECT_EQ(problem_text(p), *c.key ? std::wstring(get_text(c.key, true)) : std::wstring());
    }
    use_chinese = true;
    EXPECT_EQ(problem_text(P::too_long), L"\u8DEF\u5F84\u592A\u957F\uFF0C\u8BF7\u6362\u4E00\u4E2A\u77ED\u4E00\u4E9B\u7684\u4F4D\u7F6E\u3002");
}

TEST(DefaultInstallFolder, FromTheProfile) {
    struct Case {
        std::wstring profile, folder;
    } cases[] = {
        {L"C:\\Users\\ann", L"C:\\Users\\ann\\Duskfern"},
        {L"C:\\Users\\ann\\", L"C:\\Users\\ann\\Duskfern"},
        {L"C:/Users/ann", L"C:\\Users\\ann\\Duskfern"},
        {L" \"C:\\Users\\ann\" ", L"C:\\Users\\ann\\Duskfern"},
        {L"C:\\", L"C:\\Duskfern"},
        {L"C:", L"C:\\Duskfern"},
        {L"\\\\srv\\home\\ann", L"\\\\srv\\home\\ann\\Duskfern"},
        {L"", L"C:\\Duskfern"},
        {L"  \"\" ", L"C:\\Duskfern"},
    };
    for (const Case& c : cases) EXPECT_EQ(default_install_folder(c.profile), c.folder) << narrow(c.profile);
}
