#pragma once
// The loopback forward proxy of a PROXY test (tools/proxy_server.py --run), seen from the
// Windows test executable: its address, its Basic switch and its journal.
#include <string>
#include <vector>

namespace df::test {

class TestProxy {
public:
    // One request as the proxy recorded it.
    struct Request {
        std::string method, target;
        std::string form;    // "absolute", "origin" or "authority" (CONNECT)
        std::string host;    // the origin, host:port
        std::string auth;    // "none", "right" or "wrong"
        int status = 0;      // the proxy's answer (407, 403, 502, 200 for a tunnel) or the origin's
    };

    // Reads DF_TEST_PROXY and DF_TEST_PROXY_CTL from the environment.
    TestProxy();
    bool available() const { return !address_.empty() && !ctl_.empty(); }
    // "127.0.0.1:PORT".
    std::string address() const { return address_; }
    // From now on every request needs Basic credentials user:password (written beside the
    // proxy, never passed to the setup); with only, just the requests whose path ends with one
    // of its texts.
    void require_basic(const std::string& user, const std::string& password,
                       const std::vector<std::string>& only = {});
    // From now on no credentials are asked for.
    void open_to_all();
    std::vector<Request> journal() const;
    void clear_journal();

private:
    std::string address_, ctl_;
};

// The files below folder (paths relative to it) whose bytes hold secret as UTF-8 or UTF-16.
std::vector<std::string> files_holding(const std::wstring& folder, const std::string& secret);

}  // namespace df::test
