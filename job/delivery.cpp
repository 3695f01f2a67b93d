// The files phase: workers that take plan files in order and run the per-file step on each,
// one shared record of the phase under one mutex, and the stop that ends every transfer in
// flight.
#include "job/delivery.h"

#include "app/log.h"
#include "job/fetch_file.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

namespace df::setup {
namespace {

std::wstring destination_of(const std::wstring& dir, const std::string& path) {
    std::wstring relative = from_utf8(path);
    for (auto& c : relative) {
        if (c == L'/') c = L'\\';
    }
    std::wstring dest = dir;
    if (!dest.empty() && dest.back() != L'\\') dest += L'\\';
    return dest + relative;
}

// Gives back the committed pages of the calling thread's stack below what it may still use
// (64 KiB under the current frame). Wine commits a new thread's whole stack and touches about
// 1 MiB of it before the thread's function runs, so every transfer thread would hold that much
// for nothing; on Windows the stack is committed only as far as it was used, the pages below the
// frame are merely reserved (or the guard page) and nothing is done.
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

// How often the job thread passes the caller's cancel flag on to the transfers in flight.
constexpr std::chrono::milliseconds CANCEL_LOOK = std::chrono::milliseconds(50);

class Delivery {
public:
    Delivery(Job& job, Http& http, const Plan& plan, Candidates& candidates)
        : job_(job), http_(http), plan_(plan), candidates_(candidates), verified_(plan.files.size(), false) {}

    std::optional<std::string> run() {
        report_locked();  // nothing runs yet
        const std::size_t workers =
            std::min(static_cast<std::size_t>(std::max(job_.connections, 1)), plan_.files.size());
        in_flight_.assign(std::max<std::size_t>(workers, 1), 0);
        if (workers <= 1 || !run_side_by_side(workers)) {
            // One file after another on the job's own thread: the transfers poll the caller's
            // cancel flag themselves, and the requests and log lines come in plan order.
            stop_flag_ = &job_.cancel;
            work(0);
        }
        if (job_.cancel.load()) return "cancelled";
        return failure_;
    }

    // The destinations whose part files wait for the commit, in plan order.
    std::vector<std::wstring> verified() const {
        std::vector<std::wstring> dests;
        for (std::size_t i = 0; i < plan_.files.size(); ++i) {
            if (verified_[i]) dests.push_back(destination_of(job_.dir, plan_.files[i].path));
        }
        return dests;
    }

private:
    // Runs the workers and waits for them; false when not one thread could be started.
    bool run_side_by_side(std::size_t workers) {
        stop_flag_ = &stop_;
        std::vector<std::thread> threads;
        std::unique_lock lock(mutex_);
        for (std::size_t slot = 0; slot < workers; ++slot) {
            try {
                threads.emplace_back([this, slot] {
                    release_unused_stack();
                    work(slot);
                    std::lock_guard ended(mutex_);
                    --running_;
                    done_.notify_all();
                });
                ++running_;  // under the lock: the thread cannot end before this
            } catch (const std::system_error&) {
                break;  // the workers that started share the files
            }
        }
        if (threads.empty()) return false;
        // The caller's cancel flag is a plain atomic that wakes nobody: the job thread looks at
        // it while the workers run and passes it on to their common stop flag.
        while (running_ > 0) {
            done_.wait_for(lock, CANCEL_LOOK);
            if (job_.cancel.load()) stop_.store(true);
        }
        lock.unlock();
        for (std::thread& t : threads) t.join();
        return true;
    }

    // One worker: takes the next plan file until none is left or the phase stops.
    void work(std::size_t slot) {
        for (;;) {
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                if (failure_ || stop_flag_->load() || next_ >= plan_.files.size()) break;
                index = next_++;
                in_flight_[slot] = 0;
            }
            const ManifestFile& entry = plan_.files[index];
            FileOutcome outcome = fetch_file(http_, entry, destination_of(job_.dir, entry.path), candidates_,
                                             stop_flag_, bytes_of(slot, entry));
            std::lock_guard lock(mutex_);
            in_flight_[slot] = 0;
            if (delivered(outcome)) {
                (outcome.source == Source::mirror ? job_.from_mirror : job_.from_github) += 1;
                verified_[index] = outcome.end == FileEnd::verified;
                finished_bytes_ += entry.size;
                ++files_done_;
                report_locked();
                continue;
            }
            // A transfer stopped by the stop flag ends as cancelled: not a failure of its own.
            if (outcome.end != FileEnd::cancelled && !failure_) {
                failure_ = std::move(outcome.message);
                stop_.store(true);  // no new file starts, the transfers in flight end
            }
            break;
        }
    }

    // The byte callback of one worker's file: its count goes into the phase's progress.
    ByteProgress bytes_of(std::size_t slot, const ManifestFile& entry) {
        if (!job_.on_progress) return {};
        return [this, slot, &entry](std::uint64_t got) {
            std::lock_guard lock(mutex_);
            in_flight_[slot] = entry.size > 0 ? std::min(got, entry.size) : got;
            report_locked();
        };
    }

    // Reports the phase's progress; mutex_ held. The byte count is the finished files plus what
    // the transfers in flight hold, never less than the last report (a transfer that starts
    // its file again does not take the bar back).
    void report_locked() {
        if (!job_.on_progress) return;
        std::uint64_t bytes = finished_bytes_;
        for (std::uint64_t b : in_flight_) bytes += b;
        shown_bytes_ = std::max(shown_bytes_, bytes);
        job_.on_progress(Progress{L"files", files_done_, static_cast<std::int32_t>(plan_.files.size()), shown_bytes_,
                                  plan_.bytes_total});
    }

    Job& job_;
    Http& http_;
    const Plan& plan_;
    // Set on the first file that fails for good, or passed on from the caller's cancel flag:
    // every transfer in flight ends at its next look, keeping its part file.
    std::atomic<bool> stop_{false};
    // The flag the transfers poll: the caller's cancel flag with one worker, else stop_.
    const std::atomic<bool>* stop_flag_ = &stop_;

    Candidates& candidates_;  // guarded by its own mutex

    // mutex_ guards the phase's shared record: the next file, the counts and byte totals, the
    // verified files, the first failure, the source counters of job_ and the progress reports
    // (made under it, so their byte counts arrive in order).
    std::mutex mutex_;
    std::condition_variable done_;  // a worker ended
    std::size_t next_ = 0;
    std::int32_t files_done_ = 0;
    std::uint64_t finished_bytes_ = 0;
    std::vector<std::uint64_t> in_flight_;  // bytes of the file each worker holds
    std::uint64_t shown_bytes_ = 0;
    std::vector<bool> verified_;  // by plan index: the part file holds the verified bytes
    std::optional<std::string> failure_;
    int running_ = 0;  // workers not yet ended
};

}  // namespace

std::optional<std::string> deliver_plan(Job& job, Http& http, const Plan& plan, Candidates& candidates,
                                        std::vector<std::wstring>& verified) {
    Delivery delivery(job, http, plan, candidates);
    std::optional<std::string> failure = delivery.run();
    verified = delivery.verified();
    return failure;
}

}  // namespace df::setup
