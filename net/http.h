#pragma once
// The setup's only HTTP client (WinHTTP, asynchronous: every wait of a request ends at once on
// the run's cancel flag) and the resumable verified download.
#include "app/handle.h"
#include "net/http_text.h"
#include "net/net_error.h"
#include "net/part_files.h"
#include "net/proxy_login.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace df::setup {

// Receives each body chunk (data, size, HTTP status); returning false aborts the transfer.
using BodySink = std::function<bool(const char* data, std::uint64_t size, int status)>;
// Receives the byte count now in the part file after each stored chunk.
using ByteProgress = std::function<void(std::uint64_t written)>;

// What an answer of status 200 or 206 says before its first body byte: the status and the
// range it carries (Content-Range; none when absent or unreadable).
struct ResponseHead {
    int status = 0;
    std::optional<ContentRange> range;
};
// Judges a ResponseHead; false ends the request unread, as a range mismatch.
using HeadCheck = std::function<bool(const ResponseHead& head)>;

class Http {
public:
    // Opens an asynchronous WinHTTP session (automatic proxy, then default proxy); never fails,
    // see is_open().
    Http() : Http(ProxySettings{}) {}
    // Opens it through proxy.named when set (every request goes there, https through CONNECT),
    // else as Http(); a 407 is answered as proxy says.
    explicit Http(const ProxySettings& proxy);
    // Takes an already opened asynchronous WinHTTP session, or none (every request then fails).
    explicit Http(UniqueInternet session) : session_(std::move(session)), login_(ProxySettings{}) {}
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    // Whether WinHTTP gave a session handle.
    bool is_open() const { return static_cast<bool>(session_); }

    // GET url into out (emptied first); refuses a body longer than max_bytes.
    NetError get_text(const std::string& url, std::string& out, const std::atomic<bool>* cancel,
                      int timeout_ms, std::uint64_t max_bytes);

    // Fetches url for dest through part_path(dest): resumes, retries, verifies size and digest.
    // On success either dest already holds the digest (already_present set) or part_path(dest)
    // holds the verified bytes; dest is never touched.
    NetError fetch_verified(const std::string& url, const std::wstring& dest, std::uint64_t expected_size,
                            const std::string& expected_sha256, const std::atomic<bool>* cancel,
                            const ByteProgress& progress, int attempts, bool& already_present);

    // The attempts of fetch_verified on their own: url into the part file part (resumed from what
    // it holds), verified by size and digest; the file at part holds the verified bytes on success.
    // The pauses between attempts and the digest end early on cancel (the part file kept); an
    // answer cut by the pace rule (too_slow) ends the attempts at once. absent: the caller knows
    // there is no part file, and the first attempt creates it without looking.
    NetError fetch_part(const std::string& url, const std::wstring& part, std::uint64_t expected_size,
                        const std::string& expected_sha256, const std::atomic<bool>* cancel,
                        const ByteProgress& progress, int attempts, bool absent = false);

    // One GET of range (Range header unless it is the whole file); an answer of 200 or 206 is
    // shown to head (when set) first, and when it passes its body goes to sink. Returns within
    // CANCEL_LOOK_MS of cancel being set, and cuts a body slower than the pace rule (too_slow).
    NetError request(const std::string& url, const ByteRange& range, const std::atomic<bool>* cancel, int timeout_ms,
                     const BodySink& sink, const HeadCheck& head = {});
    // One GET from byte range_from to the end of the file.
    NetError request(const std::string& url, std::uint64_t range_from, const std::atomic<bool>* cancel, int timeout_ms,
                     const BodySink& sink) {
        return request(url, ByteRange{range_from, std::nullopt}, cancel, timeout_ms, sink);
    }

    // The body bytes every request of this client has received so far.
    std::uint64_t received() const { return received_.load(); }

    // The run-wide failure once a proxy refused the credentials for good or none were given;
    // empty until then.
    std::string proxy_failure() const { return login_.failure(); }

private:
    // "HOST:PORT" of the proxy that request (secure: https) goes through: the named one, or the
    // one the system chose for it; empty when the system does not say.
    std::string proxy_of(HINTERNET request, bool secure) const;
    // The message of a send, or of the wait for the answer's head, that failed with code.
    std::string send_failure(std::uint32_t code) const;

    UniqueInternet session_;
    std::optional<ProxyAddress> proxy_;  // the named proxy, for messages
    ProxyLogin login_;                   // shared by every transfer of the run
    std::atomic<std::uint64_t> received_{0};  // body bytes received, by all transfers
};

// Whether path is a plain file whose SHA-256 equals expected_sha256 (never for an empty one, nor
// once cancel is set).
bool holds_digest(const std::wstring& path, const std::string& expected_sha256,
                  const std::atomic<bool>* cancel = nullptr);

// Sets the connect and send time-outs of a request handle to timeout_ms (resolving has none) and the
// receive and response-header time-outs to receive_timeout_ms(timeout_ms); results ignored.
// The request core's own deadlines come first; these are the platform's backstop.
void set_request_timeouts(HINTERNET request, int timeout_ms);

// what + ": " + the text of the calling thread's last error code (last_error_code, read first).
std::string last_error_text(const char* what);
// The message text of a WinHTTP or system error code, as last_error_text words it.
std::string net_error_code_text(unsigned long code);

}  // namespace df::setup
