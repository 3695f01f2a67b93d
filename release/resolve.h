#pragma once
// Asking one source for its latest release (Windows: goes through the HTTP client).
#include "net/http.h"
#include "release/sources.h"

#include <atomic>
#include <optional>
#include <string>

namespace df::setup {

// The latest release of source (a patient record), or nothing with the reason in *error: the
// HTTP message, "bad latest.json: "/"bad release json: " + the reader's error, or
// "latest.json points outside the mirror". One GET, LATEST_TIMEOUT_MS, bounded body; never throws.
std::optional<ReleaseInfo> resolve_latest(Http& http, Source source, const SourceConfig& config,
                                          const std::atomic<bool>* cancel, std::string* error);

}  // namespace df::setup
