#pragma once
// How a step of the install job fails; the one convention of job/: a Failure in a std::optional
// (nothing: the step went through), returned alone or as the `failure` member of the record a
// step returns. The run's failure step logs its message as it is. Portable.
#include <optional>
#include <string>

namespace df::setup {

enum class FailureKind {
    failed,         // the run cannot go on
    cancelled,      // the job's cancel flag stopped it
    source_fault,   // no source delivered a file, at least one for a fault of its own
    not_found,      // every source asked for a file answered 404
    mismatch,       // no source delivered a file, at least one sent bytes that failed verification
    local_fault,    // this computer could not store or replace a file; no other source is asked
    proxy_refused,  // the run's proxy wants credentials it was not given
};

struct Failure {
    FailureKind kind = FailureKind::failed;
    std::string message;  // for the log and the user, as the run's failure step records it
};

// A failure of kind failed with message.
inline std::optional<Failure> failed(std::string message) { return Failure{FailureKind::failed, std::move(message)}; }

}  // namespace df::setup
