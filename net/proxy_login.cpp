#include "net/proxy_login.h"

#include "app/log.h"
#include "net/cancel.h"

#include <windows.h>

namespace df::setup {
namespace {

// Stronger schemes first: Basic sends the password readable to anyone on the path.
DWORD scheme_for_credentials(DWORD supported) {
    for (DWORD s : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM, WINHTTP_AUTH_SCHEME_DIGEST,
                    WINHTTP_AUTH_SCHEME_BASIC}) {
        if (supported & s) return s;
    }
    return 0;
}

const char* scheme_name(DWORD scheme) {
    switch (scheme) {
        case WINHTTP_AUTH_SCHEME_NEGOTIATE: return "Negotiate";
        case WINHTTP_AUTH_SCHEME_NTLM: return "NTLM";
        case WINHTTP_AUTH_SCHEME_DIGEST: return "Digest";
        case WINHTTP_AUTH_SCHEME_BASIC: return "Basic";
    }
    return "";
}

}  // namespace

void wipe_text(std::wstring& s) {
    if (s.capacity() > 0) ::SecureZeroMemory(s.data(), s.capacity() * sizeof(wchar_t));
    s.clear();
}

void ProxyCredentials::wipe() {
    wipe_text(user);
    wipe_text(password);
}

std::string ProxyLogin::failure() const {
    std::lock_guard<std::mutex> lock(credentials_mutex);
    return failure_;
}

ProxyAuthStep ProxyLogin::answer(HINTERNET request, ProxyAuthState& state, const std::atomic<bool>* cancel,
                                 const std::string& proxy) {
    DWORD supported = 0, first = 0, target = 0;
    if (!::WinHttpQueryAuthSchemes(request, &supported, &first, &target)) supported = 0;
    const DWORD logon = supported & (WINHTTP_AUTH_SCHEME_NEGOTIATE | WINHTTP_AUTH_SCHEME_NTLM);
    if (logon && !state.tried_logon) {
        // The user's own logon, without asking: null name and password mean the default
        // credentials, which WinHTTP sends to a proxy only at the low autologon level.
        state.tried_logon = true;
        DWORD level = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        ::WinHttpSetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &level, sizeof level);
        DWORD scheme = (logon & WINHTTP_AUTH_SCHEME_NEGOTIATE) ? WINHTTP_AUTH_SCHEME_NEGOTIATE : WINHTTP_AUTH_SCHEME_NTLM;
        if (::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr)) {
            return {ProxyAuthStep::resend, {}};
        }
    }
    const DWORD scheme = scheme_for_credentials(supported);

    std::unique_lock<std::mutex> lock(credentials_mutex);
    for (;;) {
        if (!failure_.empty()) return {ProxyAuthStep::fail, failure_};
        if (scheme == 0) return {ProxyAuthStep::fail, no_credentials_};
        if (generation_ > state.generation_sent) {
            // Newer credentials than this request sent (the first ones, or another transfer's
            // fresh answer): send them, without asking again. A handle that already carried
            // other credentials is replaced by a fresh one, which carries only the newest.
            if (state.generation_sent > 0) {
                state.generation_sent = 0;
                return {ProxyAuthStep::reopen, {}};
            }
            if (!::WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, credentials_.user.c_str(),
                                         credentials_.password.c_str(), nullptr)) {
                return {ProxyAuthStep::fail, generation_ > 0 ? PROXY_REFUSED : no_credentials_};
            }
            state.generation_sent = generation_;
            return {ProxyAuthStep::resend, {}};
        }
        if (asking_) {
            // Another transfer is asking: wait for its answer, or for this transfer's own stop.
            if (!wait_unless_cancelled(asked_cv, lock, cancel, [&] { return !asking_; })) {
                return {ProxyAuthStep::cancelled, {}};
            }
            continue;
        }
        // No credentials yet, or the newest were refused on this request.
        const bool refused = generation_ > 0;
        const ProxyQuestion question{asks_ + 1, proxy, scheme_name(scheme)};
        log_line(proxy_question_line(question));
        if (asks_ >= max_asks_ || !ask_) {
            failure_ = refused ? PROXY_REFUSED : no_credentials_;
            credentials_.wipe();
            return {ProxyAuthStep::fail, failure_};
        }
        asking_ = true;
        ++asks_;
        ProxyCredentials fresh;
        lock.unlock();
        bool given = ask_(question, fresh, cancel);
        lock.lock();
        asking_ = false;
        asked_cv.notify_all();
        if (is_set(cancel)) return {ProxyAuthStep::cancelled, {}};
        if (!given) {
            failure_ = refused ? PROXY_REFUSED : no_credentials_;
            credentials_.wipe();
            return {ProxyAuthStep::fail, failure_};
        }
        credentials_.wipe();
        credentials_.user.swap(fresh.user);
        credentials_.password.swap(fresh.password);
        ++generation_;
    }
}

}  // namespace df::setup
