#pragma once
// The per-file step of a delivery: one plan file fetched and verified into its part file, from
// one source (fetch_from), or trying the shared candidates in turn (fetch_file). Files share
// nothing but the candidate list, so the step can run for several files at once.
#include "job/candidates.h"
#include "job/failure.h"
#include "net/http.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace df::setup {

// How one plan file ended.
struct FileOutcome {
    Source source = Source::mirror;  // delivered: the source that answered
    bool present = false;            // delivered without a transfer: the destination holds the file already
    bool packed = false;             // its packed copy travelled
    std::uint64_t held = 0;          // of what would travel, the bytes that were there already
    std::optional<Failure> failure;  // nothing: delivered (its verified bytes wait in the part file, unless present)
};

// The failure that a request or transfer's result stands for: cancelled, the run's proxy
// failure (proxy_refused), a local fault, a mismatch, not found, or else a fault of the source;
// its message is the result's.
Failure failure_of(const NetError& r, const Http& http);

// Logs a failure of source s for entry: "<source> <path>: <message>".
void log_failure(Source s, const ManifestFile& entry, const std::string& message);

// What the caller of fetch_from knows, and wants to hear.
struct FetchTurn {
    // Nothing of the file (destination, part files, record) was in its folder at the start of the
    // run, and no attempt came before: none of them is looked for. Under Wine each lookup of a
    // missing name reads the whole folder.
    bool fresh = false;
    // Called once the bytes have travelled, before they are inflated and flushed: the source may
    // carry another transfer meanwhile. Not called when nothing travels or the transfer fails.
    std::function<void()> travelled;
};

// The attempts of one source for entry into dest's part file: its packed copy when s offers one
// (inflated and checked, job/unpack), the raw bytes after a 404 of the copy (logged as a
// failure of s); nothing to fetch when dest or its part file already holds the file's digest.
// Logs each file that arrived ("mirror path: N bytes", with " packed as M" when it came packed).
// A failure carries the source's own message.
FileOutcome fetch_from(Http& http, const ManifestFile& entry, const std::wstring& dest, const FileSource& s,
                       const std::atomic<bool>* cancel, const ByteProgress& on_bytes, const FetchTurn& turn = {});

// fetch_from for each source of candidates in their order at the start, until one delivers; logs
// each failed transfer (source + " " + path + ": " + message) and demotes a source for a fault of
// its own (not a 404, a mismatch or a local fault). A failure carries the run's message:
// "could not download PATH (messages)" or "a downloaded file did not match the release: PATH
// (messages)", the proxy's, or "cancelled". fresh: as FetchTurn's, for the first source.
FileOutcome fetch_file(Http& http, const ManifestFile& entry, const std::wstring& dest, Candidates& candidates,
                       const std::atomic<bool>* cancel, const ByteProgress& on_bytes, bool fresh = false);

// The run's message for a file no source delivered, from the sources' messages ("; " between).
std::string undelivered_message(const ManifestFile& entry, bool mismatch, const std::string& errors);

}  // namespace df::setup
