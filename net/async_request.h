#pragma once
// One GET request of an asynchronous WinHTTP session, driven from the calling thread: each call
// is started here and waited for until the platform completes it, the run's cancel flag is set
// or the caller's deadline passes. In the last two cases the request handle is closed at once
// and the call returns without waiting for the platform: closing is how an asynchronous request
// is ended from outside, and the request's context (its completion state and body ring)
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
    std::uint32_t bytes = 0;  // done: the count of take (0: the end of the body)
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

    // The body, after receive: the first take starts reading it ahead into the request's ring,
    // each completion starting the next read, so bytes arrive while the caller handles the last
    // ones; no read ever waits for more than has arrived. take waits for bytes (done, bytes > 0:
    // data() holds them until consumed), the end (done, bytes 0) or a failure.
    CallEnd take(const std::atomic<bool>* cancel, std::uint64_t deadline_ms);
    const char* data() const;
    // Gives the ring the bytes of the last take back.
    void consumed();

private:
    // Waits for the completion of a call that started (or returns its failure); see send.
    CallEnd finish(bool started, const std::atomic<bool>* cancel, std::uint64_t deadline_ms);
    // Closes the request after a wait that ended by cancel or deadline, with end set (false: neither).
    bool ended_from_outside(const std::atomic<bool>* cancel, std::uint64_t deadline_ms, CallEnd& end);

    UniqueInternet handle_;
    // Owned by the handle once its status callback is set: freed by the closing notice.
    AsyncContext* context_ = nullptr;
    const char* taken_ = nullptr;  // the bytes of the last take
    std::uint32_t taken_size_ = 0;
};

}  // namespace df::setup
