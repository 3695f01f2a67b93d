#pragma once
// The release records a run fetches its plan files from, shared by every file of the run,
// also by files fetched at the same time: the resolved release first; demotion reorders them.
#include "release/manifest.h"
#include "release/sources.h"

#include <mutex>
#include <string>
#include <vector>

namespace df::setup {

// One source to ask for one file: which, the file's address there and the attempts to make.
struct FileSource {
    Source source = Source::mirror;
    std::string url;
    std::string packed_url;  // its packed copy's address; empty when the entry has none or the source lists it not
    int attempts = 2;
};

class Candidates {
public:
    explicit Candidates(std::vector<ReleaseInfo> records) : records_(std::move(records)) {}
    Candidates(const Candidates&) = delete;
    Candidates& operator=(const Candidates&) = delete;

    // The sources to ask for entry, in the list's order now; a GitHub record is left out when
    // entry has no asset or the record lists assets without its relative address. A source
    // offers the packed copy when the entry has one and the record does not list assets without it.
    std::vector<FileSource> sources_for(const ManifestFile& entry) const;
    // Moves source's record to the end of the list, for the files that start after this.
    void demote(Source source);
    // The sources in the list's order now.
    std::vector<Source> order() const;

private:
    // Guards records_: demote reorders them while other files read them in sources_for.
    mutable std::mutex mutex_;
    std::vector<ReleaseInfo> records_;
};

}  // namespace df::setup
