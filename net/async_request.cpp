#include "net/async_request.h"

#include "app/last_error.h"
#include "net/cancel.h"
#include "net/http_text.h"

#include <memory>
#include <vector>

namespace df::setup {

// What one request shares with its status callback. The callback writes the fields of a
// completion, then sets completed; the calling thread reads them after its wait saw the event
// set. One call is in flight at a time, so one completion at a time.
struct AsyncContext {
    UniqueKernel completed{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset
    DWORD status = 0;  // the WINHTTP_CALLBACK_STATUS_ of the completion
    DWORD error = 0;   // REQUEST_ERROR: the call's error code
    DWORD bytes = 0;   // DATA_AVAILABLE and READ_COMPLETE: their byte count
    std::vector<char> buffer = std::vector<char>(READ_BUFFER_SIZE, 0);
};

namespace {

void CALLBACK on_status(HINTERNET, DWORD_PTR value, DWORD status, LPVOID info, DWORD length) {
    auto* context = reinterpret_cast<AsyncContext*>(value);
    if (!context) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            delete context;  // the last notice of the handle
            return;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: context->bytes = 0; break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: context->bytes = *static_cast<const DWORD*>(info); break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE: context->bytes = length; break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            context->error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
            break;
        default: return;
    }
    context->status = status;
    ::SetEvent(context->completed.get());
}

}  // namespace

std::uint32_t AsyncRequest::open(HINTERNET connection, const std::wstring& path, bool secure) {
    close();
    handle_.reset(::WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!handle_) return last_error_code();
    auto context = std::make_unique<AsyncContext>();
    if (!context->completed) {
        const std::uint32_t code = last_error_code();
        handle_.reset();
        return code;
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
    context_ = nullptr;  // from here on the closing notice frees it
    handle_.reset();
}

const char* AsyncRequest::data() const { return context_ ? context_->buffer.data() : nullptr; }

CallEnd AsyncRequest::send(const std::wstring& headers, const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    return finish(::WinHttpSendRequest(handle_.get(), headers.c_str(), static_cast<DWORD>(-1),
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0),
                  cancel, deadline_ms);
}

CallEnd AsyncRequest::receive(const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    return finish(::WinHttpReceiveResponse(handle_.get(), nullptr), cancel, deadline_ms);
}

CallEnd AsyncRequest::query_available(const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    return finish(::WinHttpQueryDataAvailable(handle_.get(), nullptr), cancel, deadline_ms);
}

CallEnd AsyncRequest::read(std::uint32_t want, const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    if (want > READ_BUFFER_SIZE) want = READ_BUFFER_SIZE;
    return finish(::WinHttpReadData(handle_.get(), context_->buffer.data(), want, nullptr), cancel, deadline_ms);
}

CallEnd AsyncRequest::finish(bool started, const std::atomic<bool>* cancel, std::uint64_t deadline_ms) {
    if (!started) return CallEnd{CallEnd::failed, last_error_code(), 0};
    for (;;) {
        DWORD wait_ms = CANCEL_LOOK_MS;
        if (deadline_ms != 0) {
            const ULONGLONG now = ::GetTickCount64();
            if (now < deadline_ms && deadline_ms - now < wait_ms) wait_ms = static_cast<DWORD>(deadline_ms - now);
            if (now >= deadline_ms) wait_ms = 0;
        }
        const DWORD waited = ::WaitForSingleObject(context_->completed.get(), wait_ms);
        if (waited == WAIT_OBJECT_0) {
            if (context_->status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
                return CallEnd{CallEnd::failed, context_->error, 0};
            }
            return CallEnd{CallEnd::done, 0, context_->bytes};
        }
        if (waited != WAIT_TIMEOUT) {
            const std::uint32_t code = last_error_code();
            close();
            return CallEnd{CallEnd::failed, code, 0};
        }
        if (is_set(cancel)) {
            close();
            return CallEnd{CallEnd::cancelled, 0, 0};
        }
        if (deadline_ms != 0 && ::GetTickCount64() >= deadline_ms) {
            close();
            return CallEnd{CallEnd::too_late, 0, 0};
        }
    }
}

}  // namespace df::setup
