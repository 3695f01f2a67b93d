#pragma once
// Install folder text rules: what a folder text means, whether it may receive the install, and
// what a look into an existing folder decides. Portable: no Windows API; the system folders
// and a folder's entry names come in as data.
//
// Folders are wide strings handled as sequences of wchar_t units. On Windows these are UTF-16
// code units, which is what every length and position below counts; the native (Linux) build,
// whose wchar_t is 32-bit, counts one unit per character instead, which only differs for
// characters outside the Basic Multilingual Plane. No rule consults a locale.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// Why a folder is refused. The numbers are fixed; the member names are the log words.
enum class FolderProblem : std::int32_t {
    none = 0,
    empty = 1,
    relative = 2,
    drive_root = 3,
    bad_chars = 4,
    too_long = 5,
    system_folder = 6,
};

// What a look into an existing folder found.
enum class FolderContents : std::int32_t {
    empty_folder = 0,     // no entries
    has_app = 1,          // an entry named "duskfern-overlay.exe" (any letter case)
    has_other_files = 2,  // entries, none of them that one
};

// Longest normalised folder text, in wchar_t units (181 is refused).
inline constexpr std::size_t MAX_FOLDER_LENGTH = 180;
// Appended to a folder that holds other files, and to the profile folder for the default.
inline constexpr std::wstring_view SUBFOLDER_NAME = L"Duskfern";
// Marks a folder that already holds the application.
inline constexpr std::wstring_view APP_EXE_NAME = L"duskfern-overlay.exe";
// The write probe created (and deleted on close) inside the folder.
inline constexpr std::wstring_view PROBE_FILE_NAME = L".duskfern-write-probe";
// The default folder when no profile folder was found.
inline constexpr std::wstring_view FALLBACK_INSTALL_FOLDER = L"C:\\Duskfern";

// Trims blanks, tabs and double quotes (end first, then start), turns "/" into "\", drops
// trailing backslashes beyond the third unit, and completes a bare "X:" to "X:\".
std::wstring normalize_folder(std::wstring_view text);

// The first rule that text (normalised here) breaks, or none; system_folders are compared
// after normalisation, A-Z folded onto a-z, as the folder itself or any folder below it.
FolderProblem classify_folder(std::wstring_view text, const std::vector<std::wstring>& system_folders);

// True for con, prn, aux, nul, com1-com9 and lpt1-lpt9 (A-Z folded), with or without an extension.
bool is_reserved_device_name(std::wstring_view segment);

// empty_folder for no names, has_app when one name is "duskfern-overlay.exe" (A-Z folded),
// has_other_files otherwise.
FolderContents classify_contents(const std::vector<std::wstring>& names);

// True when an existing folder with these entry names must get the Duskfern subfolder: it holds
// other files, and it is neither already named Duskfern (A-Z folded, last segment) nor holding
// one of the part files of "duskfern-overlay.exe" (an unfinished install, which a delivery marks
// with that part file before its first transfer, and which the next run finishes in place).
bool needs_subfolder(std::wstring_view folder, const std::vector<std::wstring>& names);

// folder + "\Duskfern" (no second backslash when folder already ends with one).
std::wstring with_subfolder(std::wstring_view folder);

// The member name of p ("none", "empty", ... "system_folder"); "?" for any other number.
const char* problem_name(FolderProblem p);

// The key of p's message in the text table ("bad_empty" ... "bad_system"); empty for none
// and for any other number.
std::string_view problem_key(FolderProblem p);

// p's message in the current language; empty for none and for any other number.
std::wstring problem_text(FolderProblem p);

// The proposed install folder for a profile folder: normalised profile + "\Duskfern", or
// "C:\Duskfern" when the profile is empty after normalisation. Not checked here.
std::wstring default_install_folder(std::wstring_view profile);

}  // namespace df::setup
