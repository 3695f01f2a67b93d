#include "job/fetch_file.h"

#include "app/files.h"
#include "app/log.h"
#include "job/commit.h"
#include "job/piece_file.h"
#include "job/unpack.h"
#include "net/error_text.h"

namespace df::setup {

void log_failure(Source s, const ManifestFile& entry, const std::string& message) {
    log_line(std::string(source_name(s)) + " " + entry.path + ": " + message);
}

Failure failure_of(const NetError& r, const Http& http) {
    if (r.cancelled) return {FailureKind::cancelled, "cancelled"};
    if (std::string m = http.proxy_failure(); !m.empty()) return {FailureKind::proxy_refused, m};
    if (r.local_fault) return {FailureKind::local_fault, r.message};
    if (r.hash_mismatch) return {FailureKind::mismatch, r.message};
    if (r.not_found) return {FailureKind::not_found, r.message};
    return {FailureKind::source_fault, r.message};
}

FileOutcome fetch_from(Http& http, const ManifestFile& entry, const std::wstring& dest, const FileSource& s,
                       const std::atomic<bool>* cancel, const ByteProgress& on_bytes, const FetchTurn& turn) {
    FileOutcome out{s.source, false, false, 0, std::nullopt};
    if (std::wstring parent = parent_folder(dest); !parent.empty()) create_folders(parent);  // a failure shows at the open
    // A destination that already holds the file needs no traffic at all.
    const bool packed = !s.packed_url.empty();
    if (!turn.fresh && holds_digest(dest, entry.sha256)) {
        out.present = true;
        out.held = packed ? entry.packed->size : entry.size;
        return out;
    }
    const std::wstring part = part_path(dest);
    const std::wstring packed_part = part_path(dest, PartKind::packed);
    // Raw bytes verified already (a run that stopped after inflating, or before its commit) need
    // no packed copy; the raw attempts below find them without a request.
    const bool part_whole = !turn.fresh && file_size(part) == entry.size && holds_digest(part, entry.sha256);
    // Of what travels, the bytes there already: they arrive no more.
    auto held = [](const std::wstring& path, std::uint64_t size) { return std::min(file_size(path).value_or(0), size); };
    if (part_whole) out.held = packed ? entry.packed->size : entry.size;
    const std::wstring record = part_path(dest, PartKind::pieces);
    auto travelled = [&] {
        if (turn.travelled) turn.travelled();
    };
    if (packed && !part_whole) {
        if (!turn.fresh) {
            keep_whole_prefix(packed_part, record, entry.packed->size, entry.packed->sha256);
            out.held = held(packed_part, entry.packed->size);
        }
        NetError r = http.fetch_part(s.packed_url, packed_part, entry.packed->size, entry.packed->sha256, cancel,
                                     on_bytes, s.attempts, turn.fresh);
        if (r.ok) {
            travelled();
            out.failure = unpack(packed_part, part, entry.size, entry.sha256, s.packed_url, cancel);
            if (!out.failure) {
                out.packed = true;
                log_line(std::string(source_name(s.source)) + " " + entry.path + ": " + std::to_string(entry.size) +
                         " bytes packed as " + std::to_string(entry.packed->size));
            }
            return out;
        }
        if (!r.not_found) {
            out.failure = failure_of(r, http);
            return out;
        }
        // The copy is missing on this source: its raw bytes, from the same source.
        log_failure(s.source, entry, r.message);
    }
    // After a 404 of the packed copy the raw part file is looked for as usual.
    const bool fresh = turn.fresh && !packed;
    if (!part_whole && !fresh) {
        keep_whole_prefix(part, record, entry.size, entry.sha256);
        out.held = held(part, entry.size);
    }
    NetError r = http.fetch_part(s.url, part, entry.size, entry.sha256, cancel, on_bytes, s.attempts, fresh);
    if (!r.ok) {
        out.failure = failure_of(r, http);
        return out;
    }
    if (!part_whole) travelled();
    if (!fresh) ::DeleteFileW(packed_part.c_str());
    // Verified and flushed by an earlier run (which may have stopped in between, a moment only:
    // a program may hold the part file now, and the commit then names it).
    if (part_whole) return out;
    out.failure = flush_file(part);  // written through before it counts
    if (!out.failure) log_line(std::string(source_name(s.source)) + " " + entry.path + ": " + std::to_string(entry.size) + " bytes");
    return out;
}

std::string undelivered_message(const ManifestFile& entry, bool mismatch, const std::string& errors) {
    return (mismatch ? "a downloaded file did not match the release: " : "could not download ") + entry.path + " (" +
           errors + ")";
}

FileOutcome fetch_file(Http& http, const ManifestFile& entry, const std::wstring& dest, Candidates& candidates,
                       const std::atomic<bool>* cancel, const ByteProgress& on_bytes, bool fresh) {
    bool mismatch = false, only_not_found = true;
    std::string errors;
    for (const FileSource& s : candidates.sources_for(entry)) {
        FileOutcome o = fetch_from(http, entry, dest, s, cancel, on_bytes, FetchTurn{fresh, {}});
        fresh = false;
        if (!o.failure) return o;
        Failure& f = *o.failure;
        if (f.kind == FailureKind::cancelled || f.kind == FailureKind::proxy_refused) return o;
        log_failure(s.source, entry, f.message);
        if (!errors.empty()) errors += "; ";
        errors += f.message;
        // The disk would refuse the next source's copy just the same, and it is no fault of
        // this source's.
        if (f.kind == FailureKind::local_fault) {
            f.message = undelivered_message(entry, false, errors);
            return o;
        }
        if (f.kind == FailureKind::mismatch) mismatch = true;
        else if (f.kind != FailureKind::not_found) candidates.demote(s.source);
        only_not_found = only_not_found && f.kind == FailureKind::not_found;
    }
    const FailureKind kind = mismatch ? FailureKind::mismatch : only_not_found ? FailureKind::not_found : FailureKind::source_fault;
    return FileOutcome{Source::mirror, false, false, 0, Failure{kind, undelivered_message(entry, mismatch, errors)}};
}

}  // namespace df::setup
