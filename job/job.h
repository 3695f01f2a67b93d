#pragma once
// One install run: its inputs, its progress reports and its outcome. Every step of job/ says how
// it failed the same way: a std::optional<Failure> (job/failure.h), alone or as a member.
#include "net/proxy.h"
#include "release/source.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace df::setup {

struct Progress {
    std::wstring phase;  // text key: "checking", "manifest", "scanning", "files" or "finishing"
    std::int32_t files_done = 0;
    std::int32_t files_total = 0;
    std::uint64_t bytes_done = 0;   // "files": the bytes that arrived (packed copies where they travel)
    std::uint64_t bytes_total = 0;  // "files": the bytes that will have arrived at the end
};

// Files fetched side by side unless the command line says otherwise (a browser's connections
// per host).
inline constexpr int DEFAULT_CONNECTIONS = 6;

struct Job {
    std::wstring dir;  // absolute, already accepted by check_install_folder
    Source source = Source::mirror;
    bool shortcut = false;
    int connections = DEFAULT_CONNECTIONS;  // transfers in flight on each source, 1 to 16; 1 is one after another
    std::atomic<bool> cancel{false};
    std::function<void(const Progress&)> on_progress;
    ProxySettings proxy;  // the system's settings unless "--proxy" names one

    bool ok = false;
    bool cancelled = false;
    std::string error;
    std::string version;
    std::string source_used;
    std::uint32_t from_mirror = 0;
    std::uint32_t from_github = 0;
};

// Runs the whole install on the calling thread (COM initialised); the outcome is left in job.
void run_job(Job& job);

}  // namespace df::setup
