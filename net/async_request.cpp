#include "net/async_request.h"

#include "app/last_error.h"
#include "net/cancel.h"
#include "net/http_text.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace df::setup {

namespace {

// A slim reader/writer lock, taken exclusively, as a standard lockable (std::lock_guard holds it);
// the waits below sleep on it in user mode.
struct SlimLock {
    SRWLOCK srw = SRWLOCK_INIT;
    void lock() { ::AcquireSRWLockExclusive(&srw); }
    void unlock() { ::ReleaseSRWLockExclusive(&srw); }
};

// The rings of ended requests, kept for the next ones rather than freed: blocks of this size
// freed between the heap's small lasting allocations fragment it (under Wine the heap grew by
// 10 MiB over a release of 2,001 small files), and a mapping of its own for each request costs
// more than fetching a small file. Rings are mapped outside the heap; at most KEEP wait here.
class RingPool {
public:
    // A ring of BODY_RING_SIZE bytes; nullptr when no memory is left.
    char* take() {
        char* ring = nullptr;
        {
            std::lock_guard hold(lock_);
            if (count_ > 0) ring = kept_[--count_];
        }
        if (!ring) ring = static_cast<char*>(::VirtualAlloc(nullptr, BODY_RING_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        return ring;
    }
    void give(char* ring) {
        if (!ring) return;
        bool kept = false;
        {
            std::lock_guard hold(lock_);
            kept = count_ < KEEP;
            if (kept) kept_[count_++] = ring;
        }
        if (!kept) ::VirtualFree(ring, 0, MEM_RELEASE);
    }

private:
    static constexpr std::size_t KEEP = 16;
    SlimLock lock_;  // guards kept_ and count_
    char* kept_[KEEP] = {};
    std::size_t count_ = 0;
};

// Never destroyed: a request's closing notice may still come while the process exits.
RingPool& rings() {
    static RingPool* pool = new RingPool;
    return *pool;
}

}  // namespace

// What one request shares with its status callbacks. Slim locks and a condition variable rather
// than an event: a body costs a completion per few KiB, and a kernel event is a system call on
// each side of each (under Wine a round trip to its server), where these wait in user mode.
struct AsyncContext {
    // Guards every field below but calls_closed: written by the callbacks, read by the caller.
    SlimLock lock;
    CONDITION_VARIABLE woken = CONDITION_VARIABLE_INIT;

    // Before the body, one call at a time: its completion's fields, then completed; the caller
    // waits for completed and clears it.
    bool completed = false;
    DWORD status = 0;  // the WINHTTP_CALLBACK_STATUS_ of the completion
    DWORD error = 0;   // REQUEST_ERROR: the call's error code
    DWORD bytes = 0;

    // The body: the callbacks query and read ahead into ring at tail, the caller takes from head
    // (both counts of bytes since the start; tail - head <= BODY_RING_SIZE).
    bool streaming = false;
    bool busy = false;      // a query or read of the body is in flight
    bool ended = false;     // the platform said the body is over
    bool failed = false;    // a call of the body failed with error
    DWORD available = 0;    // what the last query said can be read without waiting, less what was read since
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    char* ring = rings().take();  // BODY_RING_SIZE bytes, given back to the pool at the end

    AsyncContext() = default;
    ~AsyncContext() { rings().give(ring); }
    AsyncContext(const AsyncContext&) = delete;
    AsyncContext& operator=(const AsyncContext&) = delete;

    // Held while a call of the body starts and while the caller marks the request closed, so that
    // no call starts on a closed handle, whose value the platform may already have given to
    // another request. Taken before lock, never inside it.
    SlimLock calls;
    bool calls_closed = false;  // under calls
};

namespace {

// The request whose body pump runs on this thread, and whether a completion that came inside
// one of its calls (a read of bytes already there completes at once) asked it to go on.
thread_local AsyncContext* pumping = nullptr;
thread_local bool pump_again = false;

// Starts the body's next query or read; false when none is due (the request closed, a call in
// flight, the body over or failed, the ring full: the caller's consumed starts it then) or it
// could not start (the body has failed then).
bool start_next_call(HINTERNET request, AsyncContext& c) {
    std::lock_guard calls(c.calls);
    if (c.calls_closed) return false;
    char* into = nullptr;
    DWORD want = 0;
    {
        std::lock_guard lock(c.lock);
        if (c.busy || c.ended || c.failed) return false;
        if (c.available > 0) {
            const auto at = static_cast<std::uint32_t>(c.tail % BODY_RING_SIZE);
            const std::uint64_t space = std::min<std::uint64_t>(BODY_RING_SIZE - (c.tail - c.head), BODY_RING_SIZE - at);
            if (space == 0) return false;
            into = c.ring + at;
            want = static_cast<DWORD>(std::min<std::uint64_t>(c.available, space));
        }
        c.busy = true;
    }
    if (into ? ::WinHttpReadData(request, into, want, nullptr) : ::WinHttpQueryDataAvailable(request, nullptr)) return true;
    const std::uint32_t code = last_error_code();
    {
        std::lock_guard lock(c.lock);
        c.busy = false;
        c.failed = true;
        c.error = code;
    }
    ::WakeConditionVariable(&c.woken);
    return false;
}

// Starts the body's calls while they are due. A completion inside a call, on this thread (a read
// of bytes already there completes at once), makes the loop go on rather than nest.
void pump(HINTERNET request, AsyncContext& c) {
    if (pumping == &c) {
        pump_again = true;
        return;
    }
    AsyncContext* const outer = pumping;
    const bool outer_again = pump_again;
    pumping = &c;
    do {
        pump_again = false;
    } while (start_next_call(request, c) && pump_again);
    pumping = outer;
    pump_again = outer_again;
}

void CALLBACK on_status(HINTERNET request, DWORD_PTR value, DWORD status, LPVOID info, DWORD length) {
    auto* context = reinterpret_cast<AsyncContext*>(value);
    if (!context) return;
    DWORD bytes = 0;
    DWORD error = 0;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            delete context;  // the last notice of the handle
            return;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: bytes = *static_cast<const DWORD*>(info); break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: bytes = length; break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError; break;
        default: return;
    }
    bool streaming = false;
    bool news = true;  // something the caller waits for
    {
        std::lock_guard hold(context->lock);
        streaming = context->streaming;
        if (!streaming) {
            context->status = status;
            context->error = error;
            context->bytes = bytes;
            context->completed = true;
        } else {
            context->busy = false;
            if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
                context->failed = true;
                context->error = error;
            } else if (bytes == 0) {
                context->ended = true;  // a query or read of 0 bytes: the end of the body
            } else if (status == WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE) {
                context->available = bytes;
                news = false;
            } else {
                context->tail += bytes;
                context->available -= std::min(context->available, bytes);
            }
        }
    }
    if (news) ::WakeConditionVariable(&context->woken);
    if (streaming && status != WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) pump(request, *context);
}

// Waits on woken, with lock held, until ready() or wait_ms passes; whether ready().
template <typename Ready>
bool wait_until(AsyncContext& c, DWORD wait_ms, Ready ready) {
    const ULONGLONG until = ::GetTickCount64() + wait_ms;
    while (!ready()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= until) return false;
        // A time-out or a wake for something else looks again until the time is up.
        ::SleepConditionVariableSRW(&c.woken, &c.lock.srw, static_cast<DWORD>(until - now), 0);
    }
    return true;
}

// The next wait's length: a look at the cancel flag, or less up to the deadline (0: none).
DWORD wait_step(std::uint64_t deadline_ms) {
    DWORD wait_ms = CANCEL_LOOK_MS;
    if (deadline_ms != 0) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline_ms) return 0;
        if (deadline_ms - now < wait_ms) wait_ms = static_cast<DWORD>(deadline_ms - now);
    }
    return wait_ms;
}

}  // namespace

std::uint32_t AsyncRequest::open(HINTERNET connection, const std::wstring& path, bool secure) {
    close();
    handle_.reset(::WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!handle_) return last_error_code();
    auto context = std::make_unique<AsyncContext>();
    if (!context->ring) {
        handle_.reset();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    auto value = reinterpret_cast<DWORD_PTR>(context.get());
    if (!::WinHttpSetOption(handle_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof value) ||
        ::WinHttpSetStatusCallback(handle_.get(), on_status,
                                   WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                   0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        const std::uint32_t code = last_error_code();
        handle_.reset();  // no callback yet: the context is still ours
        return code;
    }
    context_ = context.release();
    return 0;
}

void AsyncRequest::close() {
    if (context_) {
        std::lock_guard hold(context_->calls);
        context_->calls_closed = true;
    }
    context_ = nullptr;  // from here on the closing notice frees it
    taken_ = nullptr;
    taken_size_ = 0;
    handle_.reset();
}

CallEnd AsyncRequest::send(const std::wstring& headers, const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    return finish(::WinHttpSendRequest(handle_.get(), headers.c_str(), static_cast<DWORD>(-1),
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0),
                  cancel, deadline_ms);
}

CallEnd AsyncRequest::receive(const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    return finish(::WinHttpReceiveResponse(handle_.get(), nullptr), cancel, deadline_ms);
}

bool AsyncRequest::ended_from_outside(const std::atomic<bool>* cancel, std::uint64_t deadline_ms, CallEnd& end) {
    if (is_set(cancel)) {
        end = CallEnd{CallEnd::cancelled, 0, 0};
    } else if (deadline_ms != 0 && ::GetTickCount64() >= deadline_ms) {
        end = CallEnd{CallEnd::too_late, 0, 0};
    } else {
        return false;
    }
    close();
    return true;
}

CallEnd AsyncRequest::finish(bool started, const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    if (!started) return CallEnd{CallEnd::failed, last_error_code(), 0};
    AsyncContext& c = *context_;
    for (;;) {
        {
            std::lock_guard hold(c.lock);
            if (wait_until(c, wait_step(deadline_ms), [&] { return c.completed; })) {
                c.completed = false;
                return c.status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR ? CallEnd{CallEnd::failed, c.error, 0}
                                                                         : CallEnd{CallEnd::done, 0, c.bytes};
            }
        }
        if (CallEnd end; ended_from_outside(cancel, deadline_ms, end)) return end;
    }
}

CallEnd AsyncRequest::take(const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    if (!context_) return CallEnd{CallEnd::failed, ERROR_INVALID_HANDLE, 0};
    AsyncContext& c = *context_;
    bool first = false;
    {
        std::lock_guard hold(c.lock);
        first = !c.streaming;
        c.streaming = true;
    }
    if (first) pump(handle_.get(), c);
    for (;;) {
        {
            std::lock_guard hold(c.lock);
            if (wait_until(c, wait_step(deadline_ms), [&] { return c.tail > c.head || c.failed || c.ended; })) {
                if (c.tail > c.head) {
                    const auto at = static_cast<std::uint32_t>(c.head % BODY_RING_SIZE);
                    taken_ = c.ring + at;
                    taken_size_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(c.tail - c.head, BODY_RING_SIZE - at));
                    return CallEnd{CallEnd::done, 0, taken_size_};
                }
                return c.failed ? CallEnd{CallEnd::failed, c.error, 0} : CallEnd{CallEnd::done, 0, 0};
            }
        }
        if (CallEnd end; ended_from_outside(cancel, deadline_ms, end)) return end;
    }
}

const char* AsyncRequest::data() const { return taken_; }

void AsyncRequest::consumed() {
    if (!context_ || taken_size_ == 0) return;
    AsyncContext& c = *context_;
    {
        std::lock_guard hold(c.lock);
        c.head += taken_size_;
    }
    taken_ = nullptr;
    taken_size_ = 0;
    pump(handle_.get(), c);
}

}  // namespace df::setup
