#pragma once
// The result of every HTTP operation. Portable: no Windows types.
#include <cstdint>
#include <string>

namespace df::setup {

struct NetError {
    bool ok = false;
    bool not_found = false;      // the server answered 404
    bool cancelled = false;      // stopped because the cancel flag was set
    bool hash_mismatch = false;  // a downloaded file failed its size or SHA-256 check
    bool local_fault = false;    // this computer's fault (cannot write, cannot rename): another source would repeat it
    bool range_mismatch = false; // the answer did not carry the byte range asked for (its head was refused)
    bool too_slow = false;       // the body came slower than the pace rule allows: a fault of this source for this file
    std::uint32_t http_status = 0;
    std::string message;  // UTF-8; empty on success
};

}  // namespace df::setup
