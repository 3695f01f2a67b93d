#pragma once
// Text of a Windows error code for messages and the log.
#include <cstdint>
#include <string>

namespace df::setup {

// "error " + code (unsigned decimal), then ": " + the system's description when it has one.
std::string system_error_text(std::uint32_t code);

// The system's own description of code without its trailing line breaks, or "unknown error".
std::string system_error_message(std::uint32_t code);

}  // namespace df::setup
