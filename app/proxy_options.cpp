#include "app/proxy_options.h"

#include "app/log.h"
#include "net/proxy_login.h"

#include <windows.h>

namespace df::setup {
namespace {

// The password from DUSKFERN_PROXY_PASSWORD, read at the moment the proxy asks; the buffer is
// wiped at once. False when it is missing or empty.
bool password_from_environment(std::wstring& out) {
    wchar_t buffer[1024];
    DWORD n = ::GetEnvironmentVariableW(L"DUSKFERN_PROXY_PASSWORD", buffer, 1024);
    bool ok = n > 0 && n < 1024;
    if (ok) out.assign(buffer, n);
    ::SecureZeroMemory(buffer, sizeof buffer);
    return ok;
}

}  // namespace

ProxySettings proxy_settings(const Options& o, std::string& error) {
    ProxySettings s;
    error.clear();
    if (o.proxy) {
        ProxyAddress address;
        ProxyProblem p = parse_proxy(to_utf8(*o.proxy), address);
        if (p != ProxyProblem::ok) {
            error = "bad --proxy";
            log_line(std::string("--proxy refused: ") + proxy_problem_text(p));
            log_line(error);
            return s;
        }
        s.named = address;
    }
    if (o.silent) {
        s.no_credentials = PROXY_ASKS_SILENT;
        s.max_asks = 1;  // refused credentials end the run at once
        std::wstring user = o.proxy_user.value_or(L"");
        s.ask = [user](const ProxyQuestion&, ProxyCredentials& out, const std::atomic<bool>*) {
            if (user.empty() || !password_from_environment(out.password)) return false;
            out.user = user;
            return true;
        };
    }
    return s;
}

}  // namespace df::setup
