#pragma once
// One GET request of an asynchronous WinHTTP session, driven from the calling thread: each call
// is started here and waited for until the platform completes it, the run's cancel flag is set
// or the caller's deadline passes. In the last two cases the request handle is closed at once
// and the call returns without waiting for the platform: closing is how an asynchronous request
// is ended from outside, and the request's context (its completion event and read buffer)
// outlives whatever the platform still does with it, until the handle's closing notice (Windows).
#include "app/handle.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace df::setup {

// How one call of an AsyncRequest ended.
struct CallEnd {
    enum Kind { done, failed, cancelled, too_late } kind = failed;
    std::uint32_t error = 0;  // failed: the WinHTTP or system error code
    std::uint32_t bytes = 0;  // done: the count of query_available or read
};

struct AsyncContext;

class AsyncRequest {
public:
    AsyncRequest() = default;
    ~AsyncRequest() { close(); }
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;

    // Opens a GET of path on connection (secure: https), closing the request held before; 0, or
    // the error code of the call that failed.
    std::uint32_t open(HINTERNET connection, const std::wstring& path, bool secure);
    // Closes the request now; whatever the platform still does with it no longer touches the
    // caller's state.
    void close();
    HINTERNET get() const { return handle_.get(); }

    // The calls: each returns once the platform completed it (done or failed), cancel is set
    // (cancelled) or the GetTickCount64 time deadline_ms passes (too_late; 0: none); after
    // cancelled and too_late the request is closed.
    CallEnd send(const std::wstring& headers, const std::atomic<bool>* cancel, std::uint64_t deadline_ms);
    CallEnd receive(const std::atomic<bool>* cancel, std::uint64_t deadline_ms);
    // The byte count that can be read without waiting (0 at the end of the body).
    CallEnd query_available(const std::atomic<bool>* cancel, std::uint64_t deadline_ms);
    // Reads at most want bytes (at most READ_BUFFER_SIZE) into data(); bytes 0: the end.
    CallEnd read(std::uint32_t want, const std::atomic<bool>* cancel, std::uint64_t deadline_ms);
    // The bytes of the last read, valid until the next call.
    const char* data() const;

private:
    // Waits for the completion of a call that started (or returns its failure); see send.
    CallEnd finish(bool started, const std::atomic<bool>* cancel, std::uint64_t deadline_ms);

    UniqueInternet handle_;
    // Owned by the handle once its status callback is set: freed by the closing notice.
    AsyncContext* context_ = nullptr;
};

}  // namespace df::setup
