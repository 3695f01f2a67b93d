#pragma once
// The per-file step of a delivery: one plan file fetched and verified into its part file,
// trying the shared candidates in turn. Files share nothing but the candidate list, so the
// step can run for several files at once.
#include "job/candidates.h"
#include "net/http.h"

#include <atomic>
#include <string>

namespace df::setup {

// How one plan file ended.
enum class FileEnd {
    verified,      // the verified bytes wait in the destination's part file
    present,       // the destination already holds the file's digest
    source_fault,  // no source delivered it, at least one for a fault of its own
    not_found,     // every source asked answered 404
    mismatch,      // no source delivered it, at least one sent bytes that failed verification
    local_fault,   // this computer could not store it (cannot write); no further source asked
    proxy_refused, // the run's proxy wants credentials it was not given; no further source asked
    cancelled,
};

struct FileOutcome {
    FileEnd end = FileEnd::source_fault;
    Source source = Source::mirror;  // verified or present: the source that answered
    std::string message;             // a failure: the job's failure message; else empty
};

// True for verified and present: the file needs nothing more than the commit.
inline bool delivered(const FileOutcome& outcome) {
    return outcome.end == FileEnd::verified || outcome.end == FileEnd::present;
}

// Fetches entry for dest through the sources of candidates in their order at the start; logs
// each failed transfer (source + " " + path + ": " + message) and demotes a source for a fault
// of its own (not a 404, a mismatch or a local fault). on_bytes gets this file's byte count.
FileOutcome fetch_file(Http& http, const ManifestFile& entry, const std::wstring& dest, Candidates& candidates,
                       const std::atomic<bool>* cancel, const ByteProgress& on_bytes);

}  // namespace df::setup
