#pragma once
// Credentials for a proxy that answers 407, shared by every transfer of one run (Windows).
#include "net/proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace df::setup {

// Per request: what it has already answered a 407 with.
struct ProxyAuthState {
    bool tried_logon = false;          // the user's own logon (Negotiate, NTLM) was sent
    std::uint64_t generation_sent = 0;  // the credentials generation sent (0: none)
};

// The answer to one 407.
struct ProxyAuthStep {
    // reopen: send again on a fresh request handle (which then meets the 407 anew).
    enum Kind { resend, reopen, fail, cancelled } kind = fail;
    std::string message;  // for fail
};

class ProxyLogin {
public:
    explicit ProxyLogin(const ProxySettings& settings)
        : ask_(settings.ask), max_asks_(settings.max_asks), no_credentials_(settings.no_credentials) {}
    ProxyLogin(const ProxyLogin&) = delete;
    ProxyLogin& operator=(const ProxyLogin&) = delete;

    // After a 407 on request from proxy ("HOST:PORT", or empty): sets the credentials to send
    // again (the user's logon first for Negotiate or NTLM, then the run's user name and password,
    // asked for once however many transfers meet the 407 together, each question logged), or
    // says why the request ends. Returns within a fraction of a second once cancel is set.
    ProxyAuthStep answer(HINTERNET request, ProxyAuthState& state, const std::atomic<bool>* cancel,
                         const std::string& proxy);

    // The run-wide failure once the proxy refused the credentials for good or none were given;
    // empty until then. Every later 407 fails with it at once.
    std::string failure() const;

private:
    const CredentialSource ask_;
    const int max_asks_;
    const std::string no_credentials_;

    // credentials_mutex guards everything below; asked_cv wakes transfers waiting for an ask
    // that another transfer is making. The lock is not held while ask_ runs.
    mutable std::mutex credentials_mutex;
    std::condition_variable asked_cv;
    ProxyCredentials credentials_;  // the newest given; wiped when the run ends (destructor)
    std::uint64_t generation_ = 0;  // +1 per credentials given; 0: none yet
    int asks_ = 0;
    bool asking_ = false;
    std::string failure_;
};

}  // namespace df::setup
