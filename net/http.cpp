#include "net/http.h"

#include "app/last_error.h"
#include "app/log.h"
#include "net/async_request.h"
#include "net/body_pace.h"
#include "net/cancel.h"
#include "net/error_text.h"

namespace df::setup {

namespace {

NetError body_complete(std::uint32_t status) {
    NetError ok;
    ok.ok = true;
    ok.http_status = status;
    return ok;
}

NetError failure(std::string message, std::uint32_t status = 0) {
    NetError r;
    r.http_status = status;
    r.message = std::move(message);
    return r;
}

NetError cancelled_result(std::uint32_t status) {
    NetError r = failure("cancelled", status);
    r.cancelled = true;
    return r;
}

// A response header as text (empty when the answer has none).
std::string header_text(HINTERNET request, DWORD query) {
    wchar_t buffer[128] = {};
    DWORD size = sizeof buffer;
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size, WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    return to_utf8(std::wstring_view(buffer, size / sizeof(wchar_t)));
}

}  // namespace

std::string net_error_code_text(unsigned long code) {
    if (auto text = winhttp_code_text(static_cast<std::uint32_t>(code))) return *text;
    return system_error_text(static_cast<std::uint32_t>(code));
}

std::string last_error_text(const char* what) {
    const std::uint32_t code = last_error_code();
    return std::string(what) + ": " + net_error_code_text(code);
}

void set_request_timeouts(HINTERNET request, int timeout_ms) {
    int receive = receive_timeout_ms(timeout_ms);
    // No resolve time-out (0, the platform's default): the head's deadline, which the request
    // core keeps itself, already bounds a lookup that hangs, and with a time-out set WinHTTP
    // resolves each new connection's name on a thread of its own.
    ::WinHttpSetTimeouts(request, 0, timeout_ms, timeout_ms, receive);
    // The wait for the response headers has a time-out of its own: it gets the receive time-out.
    DWORD value = static_cast<DWORD>(receive);
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &value, sizeof value);
}

Http::Http(const ProxySettings& proxy) : proxy_(proxy.named), login_(proxy) {
    std::wstring agent = from_utf8(user_agent());
    // Asynchronous: a call in flight is ended from outside by closing its request handle, which
    // must never be done to a synchronous request.
    if (proxy_) {
        // No bypass list: every request of the run goes through the named proxy.
        std::wstring name = from_utf8(proxy_text(*proxy_));
        session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(),
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    } else {
        session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    }
    if (!session_ && !proxy_) {
        session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    }
    if (session_) {
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
        if (!::WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
            protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
            ::WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
        }
    }
}

NetError Http::get_text(const std::string& url, std::string& out, const std::atomic<bool>* cancel, int timeout_ms,
                        std::uint64_t max_bytes) {
    out.clear();
    return request(url, 0, cancel, timeout_ms, [&](const char* data, std::uint64_t size, int) {
        if (size > max_bytes || out.size() > max_bytes - size) return false;
        out.append(data, static_cast<std::size_t>(size));
        return true;
    });
}

std::string Http::proxy_of(HINTERNET request, bool secure) const {
    if (proxy_) return proxy_text(*proxy_);
    WINHTTP_PROXY_INFO info{};
    DWORD size = sizeof info;
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_PROXY, &info, &size)) return {};
    UniqueHandle<GlobalMemTraits<LPWSTR>> list(info.lpszProxy), bypass(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || !list) return {};
    return proxy_for_scheme(to_utf8(list.get()), secure);
}

std::string Http::send_failure(std::uint32_t code) const {
    // Through a named proxy the only connection is the one to the proxy: not reaching it, and
    // its silence, are the proxy's.
    if (proxy_ && (code == ERROR_WINHTTP_CANNOT_CONNECT || code == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
                   code == ERROR_WINHTTP_TIMEOUT)) {
        return proxy_unreachable_text(*proxy_, net_error_code_text(code));
    }
    return "send: " + net_error_code_text(code);
}

NetError Http::request(const std::string& url, const ByteRange& range, const std::atomic<bool>* cancel,
                       int timeout_ms, const BodySink& sink, const HeadCheck& head) {
    if (!session_) return failure("winhttp unavailable");
    const std::string in_url = " (" + url + ")";

    std::wstring wide_url = from_utf8(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (wide_url.empty()) return failure("bad url: " + net_error_code_text(ERROR_WINHTTP_INVALID_URL) + in_url);
    if (!::WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) return failure(last_error_text("bad url") + in_url);
    // The cracked parts point into wide_url and are not terminated: copy them by length.
    std::wstring host(parts.lpszHostName ? parts.lpszHostName : L"", parts.lpszHostName ? parts.dwHostNameLength : 0);
    std::wstring path = request_path(
        std::wstring_view(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.lpszUrlPath ? parts.dwUrlPathLength : 0),
        std::wstring_view(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"",
                          parts.lpszExtraInfo ? parts.dwExtraInfoLength : 0));
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    // Declared in this order so the request closes before the connection.
    UniqueInternet connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return failure(last_error_text("connect") + in_url);
    AsyncRequest req;
    auto open_request = [&] {
        const std::uint32_t code = req.open(connection.get(), path, secure);
        if (code == 0) set_request_timeouts(req.get(), timeout_ms);
        return code;
    };
    if (std::uint32_t code = open_request()) return failure("request: " + net_error_code_text(code) + in_url);

    std::wstring headers = from_utf8(request_headers(range));
    const std::uint64_t receive_span = static_cast<std::uint64_t>(receive_timeout_ms(timeout_ms));
    constexpr std::uint64_t CLOCK_STEP_MS = 16;  // the step of GetTickCount64 on Windows, at most
    DWORD status = 0;
    ProxyAuthState auth;
    // A 407 is answered and the request sent again (new credentials on a fresh handle); a
    // handful of rounds covers the logon, the credentials and a second ask.
    for (int round = 0;; ++round) {
        // The answer's head is due within the receive time-out of the send: a failure then or
        // later is that time-out, whatever code the platform gives it.
        const std::uint64_t head_due = ::GetTickCount64() + receive_span;
        CallEnd sent = req.send(headers, cancel, head_due);
        if (sent.kind == CallEnd::done) sent = req.receive(cancel, head_due);
        if (sent.kind != CallEnd::done) {
            if (sent.kind == CallEnd::cancelled || is_set(cancel)) return cancelled_result(0);
            const bool late = sent.kind == CallEnd::too_late || ::GetTickCount64() + CLOCK_STEP_MS >= head_due;
            return failure(send_failure(late ? ERROR_WINHTTP_TIMEOUT : sent.error) + in_url);
        }
        status = 0;
        DWORD status_size = sizeof status;
        ::WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || round >= 8) break;
        ProxyAuthStep step = login_.answer(req.get(), auth, cancel, proxy_of(req.get(), secure));
        if (step.kind == ProxyAuthStep::cancelled || is_set(cancel)) return cancelled_result(status);
        if (step.kind == ProxyAuthStep::fail) return failure(step.message + in_url, status);
        if (step.kind == ProxyAuthStep::reopen) {
            if (std::uint32_t code = open_request()) {
                return failure("request: " + net_error_code_text(code) + in_url, status);
            }
        }
    }
    if (status == 404) {
        NetError r = failure("http 404" + in_url, 404);
        r.not_found = true;
        return r;
    }
    if (status != 200 && status != 206) return failure("http " + std::to_string(status) + in_url, status);

    // What the answer announced, so that a connection closed before the end is told apart from
    // a complete body, which a read of 0 bytes alone does not do.
    const std::string content_range = header_text(req.get(), WINHTTP_QUERY_CONTENT_RANGE);
    std::optional<std::uint64_t> announced =
        announced_body_length(header_text(req.get(), WINHTTP_QUERY_CONTENT_LENGTH), content_range);
    if (head && !head(ResponseHead{static_cast<int>(status), parse_content_range(content_range)})) {
        NetError r = failure("http " + std::to_string(status) + " without the range asked for" + in_url, status);
        r.range_mismatch = true;
        return r;
    }

    std::uint64_t received = 0;
    // The pace rule over a sliding span of the receive time-out, from the start of the body. Its
    // failure is worded as a time-out and ends the request as too slow.
    BodyPace pace(::GetTickCount64(), receive_span, MIN_BYTES_PER_RECEIVE_TIMEOUT);
    auto pace_failure = [&] {
        NetError r = failure("read: " + net_error_code_text(ERROR_WINHTTP_TIMEOUT) + in_url, status);
        r.too_slow = true;
        return r;
    };
    for (;;) {
        if (is_set(cancel)) return cancelled_result(status);
        // Each wait ends when the pace rule fails (and a clock step more, so never before it has),
        // so a body that falls short is cut then, not at its next byte.
        const std::uint64_t now = ::GetTickCount64();
        const std::uint64_t left = pace.time_left(now);
        if (left == 0) return pace_failure();
        const std::uint64_t deadline = left > UINT64_MAX / 2 ? 0 : now + left + CLOCK_STEP_MS;
        // The request reads ahead by itself, never more than has arrived, so bytes already
        // received reach the sink (and progress) at once instead of waiting to fill a buffer.
        CallEnd got = req.take(cancel, deadline);
        if (got.kind == CallEnd::cancelled) return cancelled_result(status);
        // What arrives after the span came up short does not undo the failure.
        const std::uint64_t arrived_at = ::GetTickCount64();
        if (got.kind == CallEnd::too_late || !pace.holds(arrived_at)) return pace_failure();
        // The platform's own receive time-out races the deadline above (under Wine it fires a few
        // ms before it): no byte for a whole span since the read began, after the last ones, which
        // breaks the pace rule as well, so it ends the answer as too slow too, not as a failure to
        // try again. Wine words it as the socket's time-out.
        if (got.kind == CallEnd::failed && (got.error == ERROR_WINHTTP_TIMEOUT || got.error == WSAETIMEDOUT)) {
            return pace_failure();
        }
        if (got.kind == CallEnd::failed) return failure("read: " + net_error_code_text(got.error) + in_url, status);
        if (got.bytes == 0) {
            if (announced && received < *announced) return failure("read: connection closed early" + in_url, status);
            return body_complete(status);
        }
        received += got.bytes;
        received_.fetch_add(got.bytes);
        if (!sink(req.data(), got.bytes, static_cast<int>(status))) {
            return failure("write failed or response too large" + in_url, status);
        }
        req.consumed();
        pace.arrived(arrived_at, got.bytes);
        // The whole body announced: no read of 0 bytes needed to learn its end.
        if (announced && received == *announced) return body_complete(status);
    }
}

}  // namespace df::setup
