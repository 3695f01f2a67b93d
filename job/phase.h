#pragma once
// The files phase's shared record: the plan's files and where they go, what is delivered, the
// first failure, and the progress reports; written by every transfer of the phase, whichever way
// it runs (one file after another, or lanes side by side).
#include "job/failure.h"
#include "job/fetch_file.h"
#include "job/job.h"
#include "job/plan.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace df::setup {

class Phase {
public:
    // The phase of job for plan; received gives the bytes the run has received so far, expected
    // the bytes that will arrive for the whole plan (packed copies where they travel).
    Phase(Job& job, const Plan& plan, std::function<std::uint64_t()> received, std::uint64_t expected);
    Phase(const Phase&) = delete;
    Phase& operator=(const Phase&) = delete;

    Job& job() { return job_; }
    const Plan& plan() const { return plan_; }
    // Where plan file i goes: the install folder joined with its path, "/" as "\".
    const std::wstring& destination(std::size_t i) const { return destinations_[i]; }
    // Whether nothing of plan file i (its destination, part files or record) was in its folder
    // when the phase began.
    bool fresh(std::size_t i) const { return fresh_[i]; }

    // File i was delivered: counts its source, keeps it for the commit unless it was present,
    // reports. The bytes of a file found present or held already will not arrive: held says how
    // many of the expected ones.
    void delivered(std::size_t i, const FileOutcome& outcome, std::uint64_t held = 0);
    // The bytes of an unfinished file that need not arrive (a part file held them already).
    void held(std::uint64_t bytes);
    // A file failed for good, or the run was cancelled: the first failure stops every transfer
    // (they see stop_flag()), later ones are dropped.
    void failed(Failure failure);
    // Reports the progress now (a transfer moved bytes).
    void report();

    // The flag every transfer of the phase polls.
    const std::atomic<bool>* stop_flag() const { return stop_flag_; }
    // Transfers poll the caller's cancel flag itself (one file after another on the job's thread).
    void stop_on_cancel_only() { stop_flag_ = &job_.cancel; }
    // Passes the caller's cancel on to the transfers; true once the phase stops.
    bool stopping();

    // The outcome: the first failure, or "cancelled" when the caller cancelled; nothing when
    // every file was delivered.
    std::optional<Failure> outcome();
    // The destinations whose verified part files wait for the commit, in plan order.
    std::vector<std::wstring> verified() const;
    // The bytes received in the phase, and the bytes of the files it installs.
    std::uint64_t bytes_received() const { return received_() - received_at_start_; }

private:
    void report_locked();

    Job& job_;
    const Plan& plan_;
    std::vector<std::wstring> destinations_;
    std::vector<bool> fresh_;
    std::function<std::uint64_t()> received_;
    const std::uint64_t received_at_start_;
    // Set on the first file that fails for good, or passed on from the caller's cancel flag.
    std::atomic<bool> stop_{false};
    const std::atomic<bool>* stop_flag_ = &stop_;

    // mutex_ guards the rest: the counts, the expected bytes, the verified files, the first
    // failure, the source counters of job_ and the progress reports (made under it, so their
    // byte counts arrive in order).
    mutable std::mutex mutex_;
    std::int32_t files_done_ = 0;
    std::uint64_t expected_;
    std::uint64_t shown_bytes_ = 0;
    std::vector<bool> verified_;
    std::optional<Failure> failure_;
};

// The bytes that will arrive for entry from its first source: its packed copy's size when that
// source offers one, else its size.
std::uint64_t expected_bytes(const ManifestFile& entry, const std::vector<FileSource>& sources);

}  // namespace df::setup
