// The lanes: worker threads that take work items (a whole file on one source, the opening of a
// file in pieces, a piece on one source, the verification of a file in pieces) from one shared
// schedule under one mutex, and run them outside it.
#include "job/lanes.h"

#include "app/files.h"
#include "app/log.h"
#include "job/fetch_file.h"
#include "job/piece_file.h"
#include "job/unpack.h"
#include "net/error_text.h"
#include "net/sha256.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <system_error>
#include <thread>

namespace df::setup {
namespace {

constexpr std::size_t SOURCE_COUNT = 2;
std::size_t at(Source s) { return static_cast<std::size_t>(s) == 1 ? 1 : 0; }
constexpr Source BY_SLOT[SOURCE_COUNT] = {Source::github, Source::mirror};

// How often a waiting worker looks again (pauses that ran out, the caller's cancel).
constexpr auto LOOK_AGAIN = std::chrono::milliseconds(50);
// Workers beyond the transfers, for the work that holds no source: opening and verifying files,
// and inflating and flushing those whose bytes have travelled. A second one was no faster on the
// bandwidth bench and costs a thread's memory.
constexpr std::size_t SPARE_WORKERS = 1;

// What a source is trusted with for files and pieces that start now.
enum class Standing {
    first_choice,  // it starts files and pieces
    trial,         // the alternate record: one transfer at a time until it delivers once
    fallback,      // only what no other source delivers (it lacks the release, or keeps failing)
};
enum class Ranges { unknown, yes, no };

struct SourceState {
    Standing standing = Standing::first_choice;
    Ranges ranges = Ranges::unknown;
    int active = 0;          // transfers running on it now
    int faults_in_row = 0;   // faults of its own since it last delivered
    bool probing = false;    // a ranged request is learning whether it serves ranges
};

// A file's way through the lanes: waiting its turn, whole (attempts on one source after
// another), opening (its pieces read back), in pieces, reopen (to open again: its pieces were
// forgotten), finishing (every piece held: verify it), done.
enum class Stage { waiting, whole, opening, pieces, reopen, finishing, done };

struct PieceState {
    bool active = false;
    std::array<int, SOURCE_COUNT> attempts{};            // left, per source
    std::array<ULONGLONG, SOURCE_COUNT> not_before{};    // the retry pause, per source
};

struct FileState {
    Stage stage = Stage::waiting;
    std::vector<FileSource> sources;  // those that offer it, as the list stood when it started
    bool busy = false;                // a whole attempt, its opening or its verification runs
    bool begun = false;               // an attempt or opening began in this run
    // The sources' failures, as one file's walk gathers them.
    std::array<bool, SOURCE_COUNT> tried{};  // whole attempts made
    bool mismatch = false;
    bool only_not_found = true;
    std::string errors;
    // In pieces.
    bool packed = false;        // the target is the packed copy
    bool packed_lost = false;   // a source lacks the packed copy: the raw bytes travel
    std::unique_ptr<PieceFile> file;
    std::vector<PieceState> pieces;
    std::array<std::uint64_t, SOURCE_COUNT> bytes_from{};
    bool resumed = false;                    // it holds bytes from before this run's transfers
    std::array<bool, SOURCE_COUNT> lacks{};  // the source answered 404 for the target
    std::array<bool, SOURCE_COUNT> lied{};   // its bytes alone failed verification
    std::optional<Source> only;              // after a mismatch: pieces from this source alone
    std::vector<Source> mixed;               // the sources of pieces that failed verification together
    bool restart_pending = false;            // start over once the pieces in flight end
};

struct Item {
    enum Kind { none, whole, open, one_piece, finish } kind = none;
    std::size_t file = 0;
    std::size_t piece = 0;
    Source source = Source::mirror;
    int attempts = 0;  // the attempts this whole transfer may make
};

// Gives back the committed pages of the calling thread's stack below what it may still use
// (64 KiB under the current frame); on Windows a stack is committed only as far as it was used,
// so the pages below the frame are merely reserved (or the guard page) and nothing is done.
void release_unused_stack() {
    constexpr std::uintptr_t KEEP = 64 * 1024;
    char frame = 0;
    const auto here = reinterpret_cast<std::uintptr_t>(&frame);
    MEMORY_BASIC_INFORMATION region{};
    if (here < KEEP || ::VirtualQuery(&frame, &region, sizeof region) == 0) return;
    const std::uintptr_t high = (here - KEEP) & ~static_cast<std::uintptr_t>(4095);
    // The stack's reservation from its lowest page up, region by region of like pages.
    for (auto at = reinterpret_cast<std::uintptr_t>(region.AllocationBase); at < high;) {
        if (::VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0 || region.RegionSize == 0) return;
        const std::uintptr_t end = std::min(at + region.RegionSize, high);
        if (region.State == MEM_COMMIT && region.Protect == PAGE_READWRITE) {
            ::VirtualAlloc(reinterpret_cast<void*>(at), end - at, MEM_RESET, PAGE_READWRITE);
        }
        at = end;
    }
}

// The file of kind's target beside dest.
std::wstring target_part(const std::wstring& dest, bool packed) {
    return part_path(dest, packed ? PartKind::packed : PartKind::bytes);
}

class Lanes {
public:
    Lanes(Phase& phase, Http& http, Candidates& candidates, int per_source)
        : phase_(phase), http_(http), candidates_(candidates), per_source_(per_source),
          files_(phase.plan().files.size()) {
        for (Source s : candidates_.order()) sources_[at(s)] = SourceState{};
        // Only the resolved record is known to hold the release.
        const std::vector<Source> order = candidates_.order();
        for (std::size_t k = 1; k < order.size(); ++k) sources_[at(order[k])].standing = Standing::trial;
    }

    void run() {
        if (files_.empty()) return;
        std::vector<std::thread> threads;
        std::unique_lock lock(mutex_);
        for (;;) {
            // Workers for the transfers the sources may start now, and the spare ones.
            const std::size_t wanted =
                std::min<std::size_t>(lanes_wanted(), 2 * per_source_) + SPARE_WORKERS;
            while (threads.size() < wanted && start_worker(threads)) {
            }
            if (threads.empty()) {
                phase_.failed(Failure{FailureKind::failed, "could not start the transfers"});
                return;
            }
            if (running_ == 0) break;
            done_.wait_for(lock, LOOK_AGAIN);
            if (phase_.stopping()) work_.notify_all();
        }
        lock.unlock();
        for (std::thread& t : threads) t.join();
    }

private:
    // The transfers the sources may run at once now.
    std::size_t lanes_wanted() const {
        std::size_t n = 0;
        for (const SourceState& s : sources_) {
            n += s.standing == Standing::first_choice ? per_source_ : 1;
        }
        return n;
    }

    bool start_worker(std::vector<std::thread>& threads) {
        try {
            threads.emplace_back([this] {
                release_unused_stack();
                work();
                std::lock_guard ended(mutex_);
                --running_;
                done_.notify_all();
            });
            ++running_;  // under the lock: the thread cannot end before this
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    void work() {
        for (;;) {
            Item item;
            {
                std::unique_lock lock(mutex_);
                for (;;) {
                    if (finished() || phase_.stopping()) return;
                    item = pick();
                    if (item.kind != Item::none) break;
                    work_.wait_for(lock, LOOK_AGAIN);
                }
            }
            switch (item.kind) {
                case Item::whole: run_whole(item); break;
                case Item::open: run_open(item); break;
                case Item::one_piece: run_piece(item); break;
                case Item::finish: run_finish(item); break;
                case Item::none: break;
            }
            work_.notify_all();
        }
    }

    bool finished() const { return files_done_ == files_.size(); }

    // ---- the schedule (mutex_ held) ----------------------------------------------------------

    // The next item to run now, by priority: a file to verify, a whole file to try on its next
    // source, a piece, a new file in plan order.
    Item pick() {
        for (std::size_t i = 0; i < next_file_; ++i) {
            FileState& f = files_[i];
            if (f.busy) continue;
            if (f.stage == Stage::finishing || f.stage == Stage::reopen) {
                f.busy = true;
                if (f.stage == Stage::reopen) f.stage = Stage::opening;
                return Item{f.stage == Stage::finishing ? Item::finish : Item::open, i, 0, Source::mirror, 0};
            }
        }
        for (std::size_t i = 0; i < next_file_; ++i) {
            FileState& f = files_[i];
            if (f.stage == Stage::whole && !f.busy) {
                if (Item item = next_whole(i, false); item.kind != Item::none) return item;
            }
        }
        for (std::size_t i = 0; i < next_file_; ++i) {
            if (files_[i].stage != Stage::pieces) continue;
            if (Item item = next_piece(i); item.kind != Item::none) return item;
        }
        while (next_file_ < files_.size()) {
            const std::size_t i = next_file_;
            FileState& f = files_[i];
            const ManifestFile& entry = phase_.plan().files[i];
            f.sources = candidates_.sources_for(entry);
            if (f.sources.empty()) {  // never so: the mirror offers every file
                ++next_file_;
                fail_file(i);
                continue;
            }
            if (target_size(i) > PIECES_ABOVE && any_source_for_pieces(i)) {
                f.stage = Stage::opening;
                f.busy = true;
                ++next_file_;
                return Item{Item::open, i, 0, Source::mirror, 0};
            }
            Item item = next_whole(i, true);
            if (item.kind == Item::none) return item;  // no source has room: it waits its turn
            ++next_file_;
            return item;
        }
        return {};
    }

    bool packed_for(std::size_t i) const {
        const FileState& f = files_[i];
        if (f.packed_lost || !phase_.plan().files[i].packed) return false;
        return std::any_of(f.sources.begin(), f.sources.end(), [](const FileSource& s) { return !s.packed_url.empty(); });
    }

    std::uint64_t target_size(std::size_t i) const {
        const ManifestFile& e = phase_.plan().files[i];
        return packed_for(i) ? e.packed->size : e.size;
    }

    // Whether source s may start a transfer for which it is the first choice.
    bool may_start(Source s) const {
        const SourceState& st = sources_[at(s)];
        if (st.standing == Standing::fallback) return false;
        if (st.standing == Standing::trial) return st.active == 0;
        return st.active < per_source_;
    }
    bool has_room(Source s) const { return sources_[at(s)].active < per_source_; }

    // Whether a source that may serve pieces offers file i's target.
    bool any_source_for_pieces(std::size_t i) const {
        for (const FileSource& s : files_[i].sources) {
            if (serves_pieces_of(i, s)) return true;
        }
        return false;
    }
    bool serves_pieces_of(std::size_t i, const FileSource& s) const {
        const FileState& f = files_[i];
        const SourceState& st = sources_[at(s.source)];
        if (st.ranges == Ranges::no || f.lacks[at(s.source)] || f.lied[at(s.source)]) return false;
        if (f.only && *f.only != s.source) return false;
        return !(f.stage != Stage::waiting && f.packed && s.packed_url.empty()) &&
               !(f.stage == Stage::waiting && packed_for(i) && s.packed_url.empty());
    }

    // The whole attempt of file i on its next source: the first one in order that was not tried
    // and has room (for a first attempt, one that may start transfers).
    Item next_whole(std::size_t i, bool first) {
        FileState& f = files_[i];
        // A file that only sources in fallback standing offer goes to them as a fallback does.
        first = first && std::any_of(f.sources.begin(), f.sources.end(), [&](const FileSource& s) {
                    return !f.tried[at(s.source)] && sources_[at(s.source)].standing != Standing::fallback;
                });
        for (const FileSource& s : f.sources) {
            if (f.tried[at(s.source)]) continue;
            if (first ? !may_start(s.source) : !has_room(s.source)) continue;
            f.stage = Stage::whole;
            f.busy = true;
            f.tried[at(s.source)] = true;
            ++sources_[at(s.source)].active;
            return Item{Item::whole, i, 0, s.source, s.attempts};
        }
        if (!first && std::all_of(f.sources.begin(), f.sources.end(), [&](const FileSource& s) { return f.tried[at(s.source)]; })) {
            fail_file(i);  // every source was tried
        }
        return {};
    }

    // The next piece of file i and the source to fetch it from now.
    Item next_piece(std::size_t i) {
        FileState& f = files_[i];
        const ULONGLONG now = ::GetTickCount64();
        const std::vector<std::uint64_t> done = f.file->done();
        const PieceLayout& layout = f.file->layout();
        bool any_left = false;
        for (std::size_t p = 0; p < f.pieces.size(); ++p) {
            PieceState& piece = f.pieces[p];
            if (piece.active || done[p] == layout.length(p)) continue;
            any_left = true;
            for (Source s : candidates_.order()) {
                const FileSource* fs = source_of(i, s);
                if (!fs || !serves_pieces_of(i, *fs) || piece.attempts[at(s)] <= 0 || now < piece.not_before[at(s)]) continue;
                SourceState& st = sources_[at(s)];
                if (st.ranges == Ranges::unknown && st.probing) continue;
                // A source in fallback standing takes a piece only when no other source can.
                const bool others_can = std::any_of(f.sources.begin(), f.sources.end(), [&](const FileSource& o) {
                    return o.source != s && serves_pieces_of(i, o) && piece.attempts[at(o.source)] > 0;
                });
                if (!(others_can ? may_start(s) : has_room(s))) continue;
                if (st.ranges == Ranges::unknown) st.probing = true;
                piece.active = true;
                ++st.active;
                return Item{Item::one_piece, i, p, s, 0};
            }
        }
        if (!any_left) return {};
        // A piece that no source can serve any more ends the file (or its pieces).
        for (std::size_t p = 0; p < f.pieces.size(); ++p) {
            const PieceState& piece = f.pieces[p];
            if (piece.active || done[p] == layout.length(p)) continue;
            const bool servable = std::any_of(f.sources.begin(), f.sources.end(), [&](const FileSource& o) {
                return serves_pieces_of(i, o) && piece.attempts[at(o.source)] > 0;
            });
            if (!servable) {
                give_up_pieces(i);
                break;
            }
        }
        return {};
    }

    const FileSource* source_of(std::size_t i, Source s) const {
        for (const FileSource& fs : files_[i].sources) {
            if (fs.source == s) return &fs;
        }
        return nullptr;
    }

    // File i can get no further in pieces: without a source that serves them it travels whole;
    // with every source failed it fails.
    void give_up_pieces(std::size_t i) {
        FileState& f = files_[i];
        if (std::any_of(f.pieces.begin(), f.pieces.end(), [](const PieceState& p) { return p.active; })) return;
        const bool faults = std::any_of(f.pieces.begin(), f.pieces.end(), [&](const PieceState& p) {
            return std::all_of(f.sources.begin(), f.sources.end(),
                               [&](const FileSource& o) { return p.attempts[at(o.source)] <= 0; });
        });
        if (faults || std::all_of(f.sources.begin(), f.sources.end(), [&](const FileSource& o) { return f.lacks[at(o.source)]; })) {
            if (f.file) f.file->save();
            f.file.reset();
            fail_file(i);
            return;
        }
        // No source serves ranges for it now: whole files, as the sources' walk takes them
        // (not from a source that lacks it or sent wrong bytes, nor another after a mismatch).
        f.file->discard();
        f.file.reset();
        f.stage = Stage::whole;
        for (const FileSource& s : f.sources) {
            const std::size_t k = at(s.source);
            f.tried[k] = f.lacks[k] || f.lied[k] || (f.only && *f.only != s.source);
        }
    }

    void fail_file(std::size_t i) {
        FileState& f = files_[i];
        f.stage = Stage::done;
        ++files_done_;
        const FailureKind kind = f.mismatch ? FailureKind::mismatch
                                 : f.only_not_found ? FailureKind::not_found : FailureKind::source_fault;
        phase_.failed(Failure{kind, undelivered_message(phase_.plan().files[i], f.mismatch, f.errors)});
    }

    // Notes a failure of source s for file i as the sources' walk does: the log line, the
    // file's messages, its mismatch, and the demotion of s for a fault of its own.
    void note_failure(std::size_t i, Source s, const Failure& failure) {
        FileState& f = files_[i];
        const ManifestFile& entry = phase_.plan().files[i];
        log_failure(s, entry, failure.message);
        if (!f.errors.empty()) f.errors += "; ";
        f.errors += failure.message;
        f.only_not_found = f.only_not_found && failure.kind == FailureKind::not_found;
        SourceState& st = sources_[at(s)];
        if (failure.kind == FailureKind::mismatch) {
            f.mismatch = true;
        } else if (failure.kind == FailureKind::not_found) {
            // The alternate record answering 404: it may not hold the release at all.
            if (st.standing == Standing::trial) st.standing = Standing::fallback;
        } else if (failure.kind == FailureKind::source_fault) {
            candidates_.demote(s);
            if (++st.faults_in_row >= 2 || st.standing == Standing::trial) st.standing = Standing::fallback;
        }
    }

    void note_success(Source s) {
        SourceState& st = sources_[at(s)];
        st.faults_in_row = 0;
        if (st.standing == Standing::trial) st.standing = Standing::first_choice;
    }

    void file_delivered(std::size_t i, const FileOutcome& outcome, std::uint64_t held) {
        FileState& f = files_[i];
        f.stage = Stage::done;
        f.busy = false;
        ++files_done_;
        phase_.delivered(i, outcome, held);
    }

    // ---- the items (mutex_ not held) ---------------------------------------------------------

    ByteProgress report() {
        return [this](std::uint64_t) { phase_.report(); };
    }

    void run_whole(const Item& item) {
        const ManifestFile& entry = phase_.plan().files[item.file];
        FileSource s;
        FetchTurn turn;
        {
            std::lock_guard lock(mutex_);
            s = *source_of(item.file, item.source);
            turn.fresh = phase_.fresh(item.file) && !files_[item.file].begun;
            files_[item.file].begun = true;
        }
        // The source carries another transfer while these bytes are inflated and flushed.
        bool released = false;
        turn.travelled = [&] {
            std::lock_guard lock(mutex_);
            if (sources_[at(item.source)].standing == Standing::trial) return;  // one until it delivers
            --sources_[at(item.source)].active;
            released = true;
            work_.notify_all();
        };
        FileOutcome o = fetch_from(http_, entry, phase_.destination(item.file), s, phase_.stop_flag(), report(), turn);
        std::lock_guard lock(mutex_);
        FileState& f = files_[item.file];
        if (!released) --sources_[at(item.source)].active;
        f.busy = false;
        if (!o.failure) {
            if (!o.present) note_success(item.source);
            file_delivered(item.file, o, o.held);
            return;
        }
        Failure& failure = *o.failure;
        if (failure.kind == FailureKind::cancelled || failure.kind == FailureKind::proxy_refused) {
            phase_.failed(failure);
            return;
        }
        note_failure(item.file, item.source, failure);
        if (failure.kind == FailureKind::local_fault) {
            f.stage = Stage::done;
            ++files_done_;
            phase_.failed(Failure{FailureKind::local_fault, undelivered_message(entry, false, f.errors)});
            return;
        }
        // The schedule gives it to its next source at once, or fails it.
    }

    void run_open(const Item& item) {
        const std::size_t i = item.file;
        const ManifestFile& entry = phase_.plan().files[i];
        const std::wstring& dest = phase_.destination(i);
        bool packed = false;
        {
            std::lock_guard lock(mutex_);
            packed = packed_for(i);
            files_[i].begun = true;
        }
        const std::uint64_t size = packed ? entry.packed->size : entry.size;
        const std::string& sha256 = packed ? entry.packed->sha256 : entry.sha256;
        if (std::wstring parent = parent_folder(dest); !parent.empty()) create_folders(parent);
        // Present, or verified by an earlier run: nothing travels.
        const bool present = holds_digest(dest, entry.sha256);
        if (present || holds_digest(part_path(dest), entry.sha256)) {
            std::lock_guard lock(mutex_);
            const Source first = files_[i].sources.empty() ? Source::mirror : files_[i].sources.front().source;
            file_delivered(i, FileOutcome{first, present, false, size, std::nullopt}, size);
            return;
        }
        std::optional<Failure> failure;
        std::unique_ptr<PieceFile> file =
            PieceFile::open(target_part(dest, packed), part_path(dest, PartKind::pieces), size, sha256, failure);
        std::lock_guard lock(mutex_);
        FileState& f = files_[i];
        f.busy = false;
        if (!file) {
            f.stage = Stage::done;
            ++files_done_;
            phase_.failed(Failure{FailureKind::local_fault, undelivered_message(entry, false, failure->message)});
            return;
        }
        f.packed = packed;
        const std::uint64_t held = file->held();
        f.resumed = held > 0;
        phase_.held(held);
        f.pieces.assign(file->layout().count(), PieceState{});
        for (PieceState& p : f.pieces) {
            for (const FileSource& s : f.sources) p.attempts[at(s.source)] = s.attempts;
        }
        f.file = std::move(file);
        f.stage = held == size ? Stage::finishing : Stage::pieces;
    }

    void run_piece(const Item& item) {
        const std::size_t i = item.file, p = item.piece;
        FileSource s;
        PieceFile* file = nullptr;
        bool packed = false;
        std::uint64_t from = 0, last = 0, size = 0;
        {
            std::lock_guard lock(mutex_);
            FileState& f = files_[i];
            s = *source_of(i, item.source);
            file = f.file.get();
            packed = f.packed;
            const PieceLayout& l = file->layout();
            from = l.first(p) + file->done()[p];
            last = l.first(p) + l.length(p) - 1;
            size = l.size;
        }
        const std::string& url = packed ? s.packed_url : s.url;
        std::uint64_t at_byte = from;
        DWORD write_error = 0;
        bool too_long = false;
        const std::atomic<bool>* stop = phase_.stop_flag();
        NetError r = http_.request(
            url, ByteRange{from, last}, stop, DOWNLOAD_TIMEOUT_MS,
            [&](const char* data, std::uint64_t n, int) {
                if (n > last + 1 - at_byte) {
                    too_long = true;
                    return false;
                }
                write_error = file->write(p, at_byte, data, static_cast<std::size_t>(n));
                if (write_error != 0) return false;
                at_byte += n;
                phase_.report();
                return true;
            },
            [&](const ResponseHead& head) {
                // The bytes asked for, and of a file of the size the manifest gives, or nothing.
                return head.status == 206 && head.range && head.range->first == from && head.range->last == last &&
                       (!head.range->total || *head.range->total == size);
            });
        file->save();
        std::lock_guard lock(mutex_);
        FileState& f = files_[i];
        SourceState& st = sources_[at(item.source)];
        --st.active;
        f.pieces[p].active = false;
        f.bytes_from[at(item.source)] += at_byte - from;
        const bool last_in_flight =
            std::none_of(f.pieces.begin(), f.pieces.end(), [](const PieceState& q) { return q.active; });
        if (f.restart_pending) {
            if (last_in_flight) restart(i);
            return;
        }
        const ManifestFile& entry = phase_.plan().files[i];
        if (write_error != 0) {
            f.stage = Stage::done;
            ++files_done_;
            const std::string m = "cannot write " + to_utf8(target_part(phase_.destination(i), packed)) + ": " +
                                  system_error_text(write_error);
            phase_.failed(Failure{FailureKind::local_fault, undelivered_message(entry, false, m)});
            return;
        }
        const bool ranged = !r.range_mismatch && r.http_status != 416;
        if (st.probing) {
            st.probing = false;
            if (st.ranges == Ranges::unknown) st.ranges = ranged ? (r.ok ? Ranges::yes : Ranges::unknown) : Ranges::no;
        }
        if (!ranged) {
            // This source answers ranges otherwise than asked: it serves whole files from now on.
            st.ranges = Ranges::no;
            log_line(std::string(source_name(item.source)) + " " + entry.path + ": " + r.message);
            return;
        }
        if (r.ok && !too_long && at_byte == last + 1) {
            note_success(item.source);
            if (last_in_flight && f.file->held() == f.file->layout().size) f.stage = Stage::finishing;
            return;
        }
        Failure failure = too_long ? Failure{FailureKind::source_fault, "answer longer than the range asked for (" + url + ")"}
                          : r.ok    ? Failure{FailureKind::source_fault, "read: connection closed early (" + url + ")"}
                                    : failure_of(r, http_);
        if (failure.kind == FailureKind::cancelled || failure.kind == FailureKind::proxy_refused) {
            phase_.failed(failure);
            return;
        }
        note_failure(i, item.source, failure);
        if (failure.kind == FailureKind::not_found) {
            if (f.packed) {
                // The packed copy is missing on a source: the file's raw bytes travel instead.
                f.packed_lost = true;
                restart(i);
            } else {
                f.lacks[at(item.source)] = true;
            }
            return;
        }
        if (r.too_slow) {
            // A body slower than the pace rule is no passing fault: the other source takes the
            // file's pieces at once.
            for (PieceState& q : f.pieces) q.attempts[at(item.source)] = 0;
            return;
        }
        PieceState& piece = f.pieces[p];
        const int attempt = s.attempts - --piece.attempts[at(item.source)];
        piece.not_before[at(item.source)] = ::GetTickCount64() + retry_pause_ms(attempt);
    }

    // File i starts over, its pieces forgotten, once no piece of it is in flight (until then
    // none starts).
    void restart(std::size_t i) {
        FileState& f = files_[i];
        if (std::any_of(f.pieces.begin(), f.pieces.end(), [](const PieceState& p) { return p.active; })) {
            f.restart_pending = true;
            f.stage = Stage::opening;  // no new pieces; the last one to end calls this again
            return;
        }
        if (f.file) f.file->discard();
        f.file.reset();
        f.pieces.clear();
        f.bytes_from = {};
        f.resumed = false;
        f.restart_pending = false;
        f.stage = Stage::reopen;
    }

    void run_finish(const Item& item) {
        const std::size_t i = item.file;
        const ManifestFile& entry = phase_.plan().files[i];
        const std::wstring& dest = phase_.destination(i);
        bool packed = false;
        PieceFile* file = nullptr;
        std::string url;
        {
            std::lock_guard lock(mutex_);
            packed = files_[i].packed;
            file = files_[i].file.get();
            const FileSource& s = files_[i].sources.front();
            url = packed ? s.packed_url : s.url;
        }
        const std::uint64_t size = packed ? entry.packed->size : entry.size;
        std::uint64_t got = 0;
        auto digest = sha256_file(target_part(dest, packed), &got);
        const bool verified = digest && got == size && digest_equals(*digest, packed ? entry.packed->sha256 : entry.sha256);
        std::optional<Failure> failure;
        if (verified) {
            if (DWORD code = file->finish(!packed); code != 0) {
                failure = Failure{FailureKind::local_fault, "cannot write " + to_utf8(part_path(dest)) + ": " +
                                                                system_error_text(code)};
            } else if (packed) {
                failure = unpack(target_part(dest, true), part_path(dest), entry.size, entry.sha256, url, phase_.stop_flag());
            }
        } else {
            failure = Failure{FailureKind::mismatch, "hash mismatch for " + url + " (got " + std::to_string(got) + " bytes)"};
        }
        std::lock_guard lock(mutex_);
        FileState& f = files_[i];
        f.busy = false;
        if (!failure) {
            f.file.reset();
            // The bytes of one source alone match where those of both did not: the other sent
            // wrong ones, and takes only what no other source delivers from now on.
            for (Source s : f.mixed) {
                if ((f.only && s == *f.only) || f.lied[at(s)]) continue;
                log_line(std::string(source_name(s)) + " " + entry.path + ": its pieces did not match the release (those of " +
                         source_name(*f.only) + " alone do)");
                sources_[at(s)].standing = Standing::fallback;
            }
            log_line(contributors(i) + " " + entry.path + ": " + std::to_string(entry.size) + " bytes" +
                     (packed ? " packed as " + std::to_string(entry.packed->size) : "") + " in " +
                     std::to_string(f.pieces.size()) + " pieces");
            file_delivered(i, FileOutcome{main_contributor(i), false, packed, 0, std::nullopt}, 0);
            return;
        }
        if (failure->kind == FailureKind::cancelled) return;
        if (failure->kind == FailureKind::local_fault) {
            f.stage = Stage::done;
            ++files_done_;
            phase_.failed(Failure{FailureKind::local_fault, undelivered_message(entry, false, failure->message)});
            return;
        }
        mismatch_of_pieces(i, *failure);
    }

    // The pieces of file i fail verification: fetched again from one source alone, then the
    // other, so the source that sends wrong bytes is found and named.
    void mismatch_of_pieces(std::size_t i, const Failure& failure) {
        FileState& f = files_[i];
        std::vector<Source> from;
        for (Source s : candidates_.order()) {
            if (f.bytes_from[at(s)] > 0) from.push_back(s);
        }
        if (f.only || (from.size() == 1 && !f.resumed)) {
            // One source sent every byte: its failure, as the sources' walk has it.
            const Source liar = f.only ? *f.only : from.front();
            note_failure(i, liar, failure);
            f.lied[at(liar)] = true;
            f.only.reset();
            for (const FileSource& s : f.sources) {
                if (!f.lied[at(s.source)]) f.only = s.source;
            }
            if (!f.only) {
                if (f.file) f.file->discard();
                f.file.reset();
                fail_file(i);
                return;
            }
        } else if (from.size() > 1) {
            log_line("mirror+github " + phase_.plan().files[i].path + ": " + failure.message +
                     " from both sources; fetching it from each alone");
            f.mixed = from;
            f.only = from.front();
        }
        // Bytes kept from before this run, or from both sources: all of it again.
        restart(i);
    }

    std::string contributors(std::size_t i) const {
        std::string names;
        for (Source s : candidates_.order()) {
            if (files_[i].bytes_from[at(s)] == 0) continue;
            names += (names.empty() ? "" : "+") + std::string(source_name(s));
        }
        return names.empty() ? std::string(source_name(main_contributor(i))) : names;
    }

    Source main_contributor(std::size_t i) const {
        const FileState& f = files_[i];
        if (f.only) return *f.only;
        if (f.bytes_from[at(Source::mirror)] == 0 && f.bytes_from[at(Source::github)] == 0) {
            return f.sources.empty() ? Source::mirror : f.sources.front().source;
        }
        return f.bytes_from[at(Source::mirror)] >= f.bytes_from[at(Source::github)] ? Source::mirror : Source::github;
    }

    Phase& phase_;
    Http& http_;
    Candidates& candidates_;  // guarded by its own mutex
    const int per_source_;

    // mutex_ guards the schedule: every FileState (a PieceFile guards its own writes), every
    // SourceState, the next file and the counts; work_ wakes workers waiting for an item, done_
    // the caller when a worker ends.
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::vector<FileState> files_;
    std::array<SourceState, SOURCE_COUNT> sources_{};
    std::size_t next_file_ = 0;
    std::size_t files_done_ = 0;
    int running_ = 0;
};

}  // namespace

void run_lanes(Phase& phase, Http& http, Candidates& candidates, int per_source) {
    Lanes(phase, http, candidates, per_source).run();
}

}  // namespace df::setup
