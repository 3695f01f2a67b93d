#pragma once
// The files of the application's build folder as the release tool reads them. Portable
// (std::filesystem): the same walk in the native and the Windows build.
#include "publish/result.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace df::publish {

// One file to publish: its install path and where its bytes are read from.
struct SourceFile {
    std::string path;              // UTF-8, "/" between segments
    std::filesystem::path source;  // the file (or a link to a file inside the build folder)
};

// One path the tool will not publish, and why, in plain words.
struct Refusal {
    std::string path;    // as printable text (printable_path); empty for a refusal of the whole run
    std::string reason;  // such as "a special file (not a file, folder or link)"
    std::string line() const { return path.empty() ? reason : path + ": " + reason; }
};

struct BuildFolder {
    std::vector<SourceFile> files;  // sorted by the bytes of path
    std::vector<Refusal> refusals;  // entries that cannot be read as release files, sorted by path
};

// Every file below root: folders walked, a link to a file inside root read as that file, a link
// to a folder inside root walked unless it leads back to a folder it is in. Refused: a name that
// is not valid UTF-8 (UTF-16 on Windows), a special file (fifo, device, socket), a link that
// leads nowhere or outside root, a folder that cannot be read.
BuildFolder read_build_folder(const std::filesystem::path& root);

// Whether p is root or lies below it, both canonical.
bool lies_within(const std::filesystem::path& p, const std::filesystem::path& root);

// Whether text is valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// The UTF-8 form of a file name: native names are bytes that must be valid UTF-8, Windows names
// UTF-16 that must hold no unpaired surrogate. A failure's text shows the name with each byte
// or unit that does not convert as "\xNN" or "\uNNNN".
Result<std::string> utf8_name(std::string_view bytes);
Result<std::string> utf8_name(std::u16string_view utf16);

// The UTF-8 text of a path as the system names it (native bytes, or UTF-16 on Windows).
Result<std::string> path_text(const std::filesystem::path& p);

// path_text's text, or its failure's: the path as messages show it.
std::string shown_path(const std::filesystem::path& p);

// A UTF-8 text as a file system path.
std::filesystem::path path_from_utf8(const std::string& utf8);

// The text with control characters and bytes that are not UTF-8 shown as "\xNN", so that one
// refusal stays one line of UTF-8 text.
std::string printable_path(std::string_view text);

}  // namespace df::publish
