#pragma once
// Helpers shared by the Windows test executables: paths of the build, scratch folders,
// whole-file reads and writes, and running a program to its exit code.
#include "app/files.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace df::test {

// The value of an environment variable, or empty.
std::string env(const char* name);
// A Unix path as Wine shows it to Windows programs ("/a/b" -> "Z:\a\b"); other texts unchanged.
std::wstring windows_path(const std::string& path);
// A file of the build tree (relative path with "/"), as a Windows path.
std::wstring build_file(const std::string& relative);
// The setup executable under test: DF_SETUP_EXE when set (a Unix path, for example the release
// build's), otherwise the one of this build tree.
std::wstring setup_exe();
// A new empty folder of its own for one test, below the build tree (a leftover of an earlier run
// with the same name is removed first); removed by nobody afterwards.
std::wstring scratch_folder(const std::string& name);

// Deletes a folder with everything below it (or a file); true when nothing is left. Refuses an
// empty path (false).
bool remove_tree(const std::wstring& path);

std::string read_file(const std::wstring& path);  // empty when missing
bool write_file(const std::wstring& path, const std::string& bytes);
bool file_exists(const std::wstring& path);
// Every file below folder: its path relative to folder ("/" between segments, UTF-8) -> its bytes.
std::map<std::string, std::string> files_below(const std::wstring& folder);
// The size of a file (nothing when absent or a folder): the setup's own.
using setup::file_size;

// An environment block (for CreateProcessW with CREATE_UNICODE_ENVIRONMENT): the entries of
// extra_env ("NAME=value" lines) first, then this process's own except those they replace.
std::vector<wchar_t> environment_block(const std::wstring& extra_env);

struct ProcessResult {
    bool started = false;
    unsigned long exit_code = 0;
    bool timed_out = false;
};
// Runs command_line (program quoted by the caller) with extra environment entries "NAME=value"
// placed before this process's own entries (replacing those of the same name), waits up to timeout_ms and kills it when it is not done by then.
ProcessResult run_process(const std::wstring& command_line, unsigned long timeout_ms,
                          const std::wstring& extra_env = L"");

}  // namespace df::test
