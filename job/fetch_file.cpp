#include "job/fetch_file.h"

#include "app/log.h"

namespace df::setup {

FileOutcome fetch_file(Http& http, const ManifestFile& entry, const std::wstring& dest, Candidates& candidates,
                       const std::atomic<bool>* cancel, const ByteProgress& on_bytes) {
    bool mismatch = false, only_not_found = true;
    std::string errors;
    for (const FileSource& s : candidates.sources_for(entry)) {
        bool present = false;
        NetError r = http.fetch_verified(s.url, dest, entry.size, entry.sha256, cancel, on_bytes, s.attempts, present);
        if (r.ok) return FileOutcome{present ? FileEnd::present : FileEnd::verified, s.source, {}};
        if (r.cancelled) return FileOutcome{FileEnd::cancelled, s.source, "cancelled"};
        // Credentials refused for the run fail every source alike: the run's own message.
        if (std::string m = http.proxy_failure(); !m.empty()) return FileOutcome{FileEnd::proxy_refused, s.source, m};
        log_line(std::string(source_name(s.source)) + " " + entry.path + ": " + r.message);
        if (!errors.empty()) errors += "; ";
        errors += r.message;
        // The disk would refuse the next source's copy just the same, and it is no fault of
        // this source's.
        if (r.local_fault) {
            return FileOutcome{FileEnd::local_fault, s.source, "could not download " + entry.path + " (" + errors + ")"};
        }
        if (r.hash_mismatch) mismatch = true;
        else if (!r.not_found) candidates.demote(s.source);
        only_not_found = only_not_found && r.not_found;
    }
    if (mismatch) {
        return FileOutcome{FileEnd::mismatch, Source::mirror,
                           "a downloaded file did not match the release: " + entry.path + " (" + errors + ")"};
    }
    return FileOutcome{only_not_found ? FileEnd::not_found : FileEnd::source_fault, Source::mirror,
                       "could not download " + entry.path + " (" + errors + ")"};
}

}  // namespace df::setup
