#pragma once
// The fixed texts and small rules of the HTTP client and the download that need no Windows API.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

inline constexpr const char* SETUP_VERSION = "0.7.1";
inline constexpr const char* PROJECT_PAGE = "https://github.com/Hollowmint/duskfern";
inline constexpr std::uint32_t READ_BUFFER_SIZE = 65536;
// A request reads its body ahead into a ring of two reads, so the next read fills one half while
// the caller writes out the other: the largest chunk a sink is given.
inline constexpr std::uint32_t BODY_RING_SIZE = 2 * READ_BUFFER_SIZE;
inline constexpr int MIN_RECEIVE_TIMEOUT_MS = 30000;
inline constexpr int DOWNLOAD_TIMEOUT_MS = 15000;
// The fewest body bytes an answer must bring within every span of its receive time-out; one
// that drips slower fails as a time-out (each single wait would never trip it).
inline constexpr std::uint64_t MIN_BYTES_PER_RECEIVE_TIMEOUT = 1024;

// "duskfern-setup/" + SETUP_VERSION + " (+" + PROJECT_PAGE + ")".
std::string user_agent();

// The text of a WinHTTP code (12000 to 12193): its name from the table (time-outs, connection,
// TLS and certificate failures in plain words) or "winhttp error " + code; nothing for a code
// outside that range (those are system codes).
std::optional<std::string> winhttp_code_text(std::uint32_t code);

// Which bytes of a file a request asks for: from first to its end, or through last when set.
struct ByteRange {
    std::uint64_t first = 0;
    std::optional<std::uint64_t> last;
};

// The request headers: the Accept line, and the Range line unless the range is the whole file
// ("bytes=FIRST-" when first > 0, "bytes=FIRST-LAST" whenever last is set); each ends in CR LF.
std::string request_headers(const ByteRange& range);

// The byte range an answer carries ("Content-Range: bytes A-B/N" or "bytes A-B/*").
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total;  // none for "*"
    bool operator==(const ContentRange&) const = default;
};

// The Content-Range text read (unit "bytes", A <= B, B < N), or nothing.
std::optional<ContentRange> parse_content_range(std::string_view text);

// The receive time-out for a request time-out: the larger of timeout_ms and 30,000 ms.
int receive_timeout_ms(int timeout_ms);

// The request path from the cracked path and extra information: "/" for an empty path, the
// query kept, a "#fragment" dropped (it never goes over the wire).
std::wstring request_path(std::wstring_view path, std::wstring_view extra);

// The body length an answer announces: its Content-Length, else the length of its Content-Range
// (parse_content_range: B - A + 1); nothing when neither is there or readable.
std::optional<std::uint64_t> announced_body_length(std::string_view content_length, std::string_view content_range);

// The pause after failed attempt n (1-based) before the next one: 500 x 2^n ms.
std::uint32_t retry_pause_ms(int attempt);

}  // namespace df::setup
