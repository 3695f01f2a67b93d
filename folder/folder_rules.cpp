#include "folder/folder_rules.h"

#include "net/part_files.h"
#include "ui/text.h"

namespace df::setup {
namespace {

// Only A-Z is folded: the rules must not depend on a locale or on Unicode case tables.
constexpr wchar_t fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c; }

bool equal_folded(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

constexpr bool is_ascii_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

constexpr bool is_trimmed(wchar_t c) { return c == L' ' || c == L'\t' || c == L'"'; }

bool has_bad_chars(std::wstring_view segment) {
    if (segment.empty() || segment == L"." || segment == L"..") return true;
    for (wchar_t c : segment) {
        if (c < 0x20) return true;
        switch (c) {
            case L'"':
            case L'*':
            case L':':
            case L'<':
            case L'>':
            case L'?':
            case L'|':
                return true;
            default:
                break;
        }
    }
    // Windows silently drops a trailing dot or blank, so such a name would not be the folder asked for.
    wchar_t last = segment.back();
    if (last == L'.' || last == L' ') return true;
    return is_reserved_device_name(segment);
}

// The last backslash-separated segment of a normalised folder.
std::wstring_view last_segment(std::wstring_view folder) {
    std::size_t p = folder.rfind(L'\\');
    return p == std::wstring_view::npos ? folder : folder.substr(p + 1);
}

}  // namespace

std::wstring normalize_folder(std::wstring_view text) {
    std::wstring s(text);
    while (!s.empty() && is_trimmed(s.back())) s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && is_trimmed(s[start])) ++start;
    s.erase(0, start);
    for (wchar_t& c : s) {
        if (c == L'/') c = L'\\';
    }
    while (s.size() > 3 && s.back() == L'\\') s.pop_back();
    if (s.size() == 2 && s[1] == L':') s.push_back(L'\\');
    return s;
}

FolderProblem classify_folder(std::wstring_view text, const std::vector<std::wstring>& system_folders) {
    const std::wstring s = normalize_folder(text);
    const std::size_t n = s.size();
    if (n == 0) return FolderProblem::empty;

    std::size_t segments_start = 0;
    if (n >= 3 && is_ascii_letter(s[0]) && s[1] == L':' && s[2] == L'\\') {
        if (n == 3) return FolderProblem::drive_root;
        segments_start = 3;
    } else {
        if (n <= 2) return FolderProblem::relative;
        // \\?\ and \\.\ device forms, "C:x", "\x" and "x\y" are not plain full paths.
        if (s[0] != L'\\' || s[1] != L'\\' || s[2] == L'?' || s[2] == L'.') return FolderProblem::relative;
        std::size_t server_end = s.find(L'\\', 2);
        if (server_end == std::wstring::npos || server_end == 2) return FolderProblem::relative;
        std::size_t share = server_end + 1;
        // A bare \\server\share is the root of a network drive.
        if (share >= n || s.find(L'\\', share + 1) == std::wstring::npos) return FolderProblem::drive_root;
        segments_start = 2;  // server and share names are checked like any other segment
    }

    // Length first: an over-long text is reported as such whatever else is wrong with it.
    if (n > MAX_FOLDER_LENGTH) return FolderProblem::too_long;

    std::wstring_view rest(s);
    rest.remove_prefix(segments_start);
    while (true) {
        std::size_t cut = rest.find(L'\\');
        if (has_bad_chars(rest.substr(0, cut))) return FolderProblem::bad_chars;
        if (cut == std::wstring_view::npos) break;
        rest.remove_prefix(cut + 1);
    }

    for (const std::wstring& raw : system_folders) {
        const std::wstring g = normalize_folder(raw);
        const std::size_t m = g.size();
        if (m < 3 || m > n) continue;
        if (!equal_folded(std::wstring_view(s).substr(0, m), g)) continue;
        // The folder itself or one below it; a mere name prefix (C:\Windows.old) is not.
        if (n == m || s[m] == L'\\' || g.back() == L'\\') return FolderProblem::system_folder;
    }
    return FolderProblem::none;
}

bool is_reserved_device_name(std::wstring_view segment) {
    std::wstring_view stem = segment.substr(0, segment.find(L'.'));
    if (equal_folded(stem, L"con") || equal_folded(stem, L"prn") || equal_folded(stem, L"aux") ||
        equal_folded(stem, L"nul")) {
        return true;
    }
    if (stem.size() != 4) return false;
    std::wstring_view prefix = stem.substr(0, 3);
    if (!equal_folded(prefix, L"com") && !equal_folded(prefix, L"lpt")) return false;
    return stem[3] >= L'1' && stem[3] <= L'9';
}

FolderContents classify_contents(const std::vector<std::wstring>& names) {
    if (names.empty()) return FolderContents::empty_folder;
    for (const std::wstring& name : names) {
        if (equal_folded(name, APP_EXE_NAME)) return FolderContents::has_app;
    }
    return FolderContents::has_other_files;
}

bool needs_subfolder(std::wstring_view folder, const std::vector<std::wstring>& names) {
    if (classify_contents(names) != FolderContents::has_other_files) return false;
    // A folder left by a failed or cancelled run holds the files that arrived, perhaps without
    // the executable yet. Installing below it would start over and orphan those files, so a
    // folder already named Duskfern, or one holding one of the executable's own part files, is
    // used as it is. Other part files prove nothing: download folders are full of them.
    const std::wstring s = normalize_folder(folder);
    if (equal_folded(last_segment(s), SUBFOLDER_NAME)) return false;
    for (const std::wstring& name : names) {
        if (part_kind_of(name) && equal_folded(part_stem(name), APP_EXE_NAME)) return false;
    }
    return true;
}

std::wstring with_subfolder(std::wstring_view folder) {
    std::wstring out(folder);
    if (out.empty() || out.back() != L'\\') out.push_back(L'\\');
    out.append(SUBFOLDER_NAME);
    return out;
}

const char* problem_name(FolderProblem p) {
    switch (p) {
        case FolderProblem::none:
            return "none";
        case FolderProblem::empty:
            return "empty";
        case FolderProblem::relative:
            return "relative";
        case FolderProblem::drive_root:
            return "drive_root";
        case FolderProblem::bad_chars:
            return "bad_chars";
        case FolderProblem::too_long:
            return "too_long";
        case FolderProblem::system_folder:
            return "system_folder";
    }
    return "?";
}

std::string_view problem_key(FolderProblem p) {
    switch (p) {
        case FolderProblem::empty:
            return "bad_empty";
        case FolderProblem::relative:
            return "bad_relative";
        case FolderProblem::drive_root:
            return "bad_root";
        case FolderProblem::bad_chars:
            return "bad_chars";
        case FolderProblem::too_long:
            return "bad_long";
        case FolderProblem::system_folder:
            return "bad_system";
        case FolderProblem::none:
            break;
    }
    return {};
}

std::wstring problem_text(FolderProblem p) {
    std::string_view key = problem_key(p);
    return key.empty() ? std::wstring() : std::wstring(ui_text(key));
}

std::wstring default_install_folder(std::wstring_view profile) {
    std::wstring base = normalize_folder(profile);
    if (base.empty()) return std::wstring(FALLBACK_INSTALL_FOLDER);
    return with_subfolder(base);
}

}  // namespace df::setup
