#include "job/phase.h"

#include "app/files.h"
#include "app/log.h"
#include "job/present_files.h"
#include "net/part_files.h"

#include <algorithm>

namespace df::setup {
std::uint64_t expected_bytes(const ManifestFile& entry, const std::vector<FileSource>& sources) {
    if (entry.packed && !sources.empty() && !sources.front().packed_url.empty()) return entry.packed->size;
    return entry.size;
}

Phase::Phase(Job& job, const Plan& plan, std::function<std::uint64_t()> received, std::uint64_t expected)
    : job_(job),
      plan_(plan),
      received_(std::move(received)),
      received_at_start_(received_()),
      expected_(expected),
      verified_(plan.files.size(), false) {
    destinations_.reserve(plan.files.size());
    for (const ManifestFile& f : plan.files) destinations_.push_back(join_relative(job.dir, f.path));
    // One listing of each folder (not a lookup per name) tells which files start from nothing.
    PresentFiles present;
    fresh_.reserve(destinations_.size());
    for (const std::wstring& dest : destinations_) {
        bool any = present.has(dest);
        for (PartKind kind : {PartKind::bytes, PartKind::packed, PartKind::pieces}) {
            any = any || present.has(part_path(dest, kind));
        }
        fresh_.push_back(!any);
    }
}

void Phase::delivered(std::size_t i, const FileOutcome& outcome, std::uint64_t held) {
    std::lock_guard lock(mutex_);
    (outcome.source == Source::mirror ? job_.from_mirror : job_.from_github) += 1;
    verified_[i] = !outcome.present;
    ++files_done_;
    expected_ -= std::min(expected_, held);
    report_locked();
}

void Phase::held(std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    expected_ -= std::min(expected_, bytes);
}

void Phase::failed(Failure failure) {
    std::lock_guard lock(mutex_);
    // A transfer stopped by the phase's stop ends as cancelled: not a failure of its own.
    if (failure_ || failure.kind == FailureKind::cancelled) return;
    failure_ = std::move(failure);
    stop_.store(true);  // no new transfer starts, those in flight end
}

bool Phase::stopping() {
    if (job_.cancel.load()) stop_.store(true);
    return stop_.load();
}

void Phase::report() {
    std::lock_guard lock(mutex_);
    report_locked();
}

void Phase::report_locked() {
    if (!job_.on_progress) return;
    // Never less than the last report: the bytes received only grow.
    shown_bytes_ = std::max(shown_bytes_, bytes_received());
    job_.on_progress(Progress{L"files", files_done_, static_cast<std::int32_t>(plan_.files.size()), shown_bytes_,
                              std::max(expected_, shown_bytes_)});
}

std::optional<Failure> Phase::outcome() {
    if (job_.cancel.load()) return Failure{FailureKind::cancelled, "cancelled"};
    std::lock_guard lock(mutex_);
    return failure_;
}

std::vector<std::wstring> Phase::verified() const {
    std::lock_guard lock(mutex_);
    std::vector<std::wstring> dests;
    for (std::size_t i = 0; i < plan_.files.size(); ++i) {
        if (verified_[i]) dests.push_back(destinations_[i]);
    }
    return dests;
}

}  // namespace df::setup
