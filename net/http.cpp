#include "net/http.h"

#include "app/log.h"
#include "net/body_pace.h"
#include "net/error_text.h"

#include <vector>

namespace df::setup {

namespace {

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

bool is_set(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

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
    DWORD code = ::GetLastError();
    return std::string(what) + ": " + net_error_code_text(code);
}

void set_request_timeouts(HINTERNET request, int timeout_ms) {
    int receive = receive_timeout_ms(timeout_ms);
    ::WinHttpSetTimeouts(request, timeout_ms, timeout_ms, timeout_ms, receive);
    // The wait for the response headers has its own time-out, and some WinHTTP implementations
    // do not derive it from the receive time-out: a server that accepts and never answers
    // would otherwise hold the run for good.
    DWORD value = static_cast<DWORD>(receive);
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &value, sizeof value);
}

Http::Http(const ProxySettings& proxy) : proxy_(proxy.named), login_(proxy) {
    std::wstring agent = from_utf8(user_agent());
    if (proxy_) {
        // No bypass list: every request of the run goes through the named proxy. Windows sends
        // the request line to it in absolute form ("GET http://host/x"); Wine's WinHTTP sends
        // origin form ("GET /x" with a Host header), which proxies accept as well.
        std::wstring name = from_utf8(proxy_text(*proxy_));
        session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.c_str(),
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    } else {
        session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    }
    if (!session_ && !proxy_) {
        session_.reset(::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
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
    if (wide_url.empty() || !::WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts)) {
        if (wide_url.empty()) ::SetLastError(ERROR_WINHTTP_INVALID_URL);
        return failure(last_error_text("bad url") + in_url);
    }
    // The cracked parts point into wide_url and are not terminated: copy them by length.
    std::wstring host(parts.lpszHostName ? parts.lpszHostName : L"", parts.lpszHostName ? parts.dwHostNameLength : 0);
    std::wstring path = request_path(
        std::wstring_view(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.lpszUrlPath ? parts.dwUrlPathLength : 0),
        std::wstring_view(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"",
                          parts.lpszExtraInfo ? parts.dwExtraInfoLength : 0));
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    // Declared in this order so the request handle closes before the connection.
    UniqueInternet connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return failure(last_error_text("connect") + in_url);
    auto open_request = [&] {
        UniqueInternet r(::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
        if (r) set_request_timeouts(r.get(), timeout_ms);
        return r;
    };
    UniqueInternet req = open_request();
    if (!req) return failure(last_error_text("request") + in_url);

    std::wstring headers = from_utf8(request_headers(range));
    DWORD status = 0;
    ProxyAuthState auth;
    // A 407 is answered and the request sent again (new credentials on a fresh handle); a
    // handful of rounds covers the logon, the credentials and a second ask.
    for (int round = 0;; ++round) {
        bool sent = ::WinHttpSendRequest(req.get(), headers.c_str(), static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA,
                                         0, 0, 0) &&
                    ::WinHttpReceiveResponse(req.get(), nullptr);
        if (!sent) {
            DWORD code = ::GetLastError();
            if (is_set(cancel)) return cancelled_result(0);
            // With a named proxy the only connection is the one to the proxy.
            if (proxy_ && (code == ERROR_WINHTTP_CANNOT_CONNECT || code == ERROR_WINHTTP_NAME_NOT_RESOLVED)) {
                return failure(proxy_unreachable_text(*proxy_, net_error_code_text(code)) + in_url);
            }
            return failure("send: " + net_error_code_text(code) + in_url);
        }
        status = 0;
        DWORD status_size = sizeof status;
        ::WinHttpQueryHeaders(req.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size, WINHTTP_NO_HEADER_INDEX);
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || round >= 8) break;
        ProxyAuthStep step = login_.answer(req.get(), auth, cancel);
        if (step.kind == ProxyAuthStep::cancelled || is_set(cancel)) return cancelled_result(status);
        if (step.kind == ProxyAuthStep::fail) return failure(step.message + in_url, status);
        if (step.kind == ProxyAuthStep::reopen) {
            req = open_request();
            if (!req) return failure(last_error_text("request") + in_url);
        }
    }
    if (status == 404) {
        NetError r = failure("http 404" + in_url, 404);
        r.not_found = true;
        return r;
    }
    if (status != 200 && status != 206) return failure("http " + std::to_string(status) + in_url, status);

    // What the answer announced, so that a connection closed before the end is told apart from
    // a complete body: some WinHTTP implementations end the read loop normally in that case.
    const std::string content_range = header_text(req.get(), WINHTTP_QUERY_CONTENT_RANGE);
    std::optional<std::uint64_t> announced =
        announced_body_length(header_text(req.get(), WINHTTP_QUERY_CONTENT_LENGTH), content_range);
    if (head && !head(ResponseHead{static_cast<int>(status), parse_content_range(content_range)})) {
        NetError r = failure("http " + std::to_string(status) + " without the range asked for" + in_url, status);
        r.range_mismatch = true;
        return r;
    }

    std::vector<char> buffer(READ_BUFFER_SIZE, 0);
    std::uint64_t received = 0;
    // The pace rule over a sliding span of the receive time-out, from the start of the body; its
    // failure is worded as the platform's own time-out, so callers treat both alike.
    const DWORD receive_span = static_cast<DWORD>(receive_timeout_ms(timeout_ms));
    BodyPace pace(::GetTickCount64(), receive_span, MIN_BYTES_PER_RECEIVE_TIMEOUT);
    auto pace_failure = [&] { return failure("read: " + net_error_code_text(ERROR_WINHTTP_TIMEOUT) + in_url, status); };
    constexpr DWORD CLOCK_STEP_MS = 16;  // the step of GetTickCount64 on Windows, at most
    DWORD wait_ms = receive_span;        // the receive time-out the request has now
    for (;;) {
        if (is_set(cancel)) return cancelled_result(status);
        // A wait lasts no longer than the pace allows (and a clock step more, so it never ends
        // before the pace has failed), so a body that falls short is cut then, not at its next
        // byte. Within a grain of the full span the full time-out stays: no call per chunk for a
        // healthy body. A platform that keeps the first time-out for the whole body still cuts
        // it at the check below, when the next bytes come.
        const std::uint64_t left = pace.time_left(::GetTickCount64());
        if (left == 0) return pace_failure();
        const DWORD wanted =
            left + pace.grain_ms() >= receive_span ? receive_span : static_cast<DWORD>(left) + CLOCK_STEP_MS;
        if (wanted != wait_ms) {
            wait_ms = wanted;
            ::WinHttpSetTimeouts(req.get(), timeout_ms, timeout_ms, timeout_ms, static_cast<int>(wait_ms));
        }
        // Ask what has arrived first and read no more than that: some WinHTTP implementations
        // fill the whole buffer before returning, so a slow or stalled answer would hold back
        // bytes already received (lost on a time-out, unseen by progress and cancel).
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(req.get(), &available)) {
            std::string text = last_error_text("read");
            // A wait that ended after the pace failed (Wine words its time-out as a socket's).
            if (!pace.holds(::GetTickCount64())) return pace_failure();
            return failure(text + in_url, status);
        }
        // What arrives after the span came up short does not undo the failure.
        const ULONGLONG arrived_at = ::GetTickCount64();
        if (!pace.holds(arrived_at)) return pace_failure();
        DWORD want = (available == 0 || available > READ_BUFFER_SIZE) ? READ_BUFFER_SIZE : available;
        DWORD got = 0;
        if (!::WinHttpReadData(req.get(), buffer.data(), want, &got)) {
            return failure(last_error_text("read") + in_url, status);
        }
        if (got == 0) {
            if (announced && received < *announced) return failure("read: connection closed early" + in_url, status);
            NetError ok;
            ok.ok = true;
            ok.http_status = status;
            return ok;
        }
        received += got;
        received_.fetch_add(got);
        if (!sink(buffer.data(), got, static_cast<int>(status))) {
            return failure("write failed or response too large" + in_url, status);
        }
        pace.arrived(arrived_at, got);
    }
}

}  // namespace df::setup
