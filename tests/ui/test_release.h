#pragma once
// The loopback release server as the window tests use it: which sources point at it, the
// sample application to publish, and test data.
#include "app/log.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <string>
#include <vector>

namespace df::test {

// The environment that points both sources of the setup at the server.
inline std::wstring server_sources(const TestServer& server) {
    std::wstring base = df::setup::from_utf8(server.http_base());
    return L"DUSKFERN_UPDATE_MIRROR=" + base + L"\nDUSKFERN_UPDATE_BASE=" + base + L"/gh";
}

// Only GitHub on the server; the mirror on a closed port.
inline std::wstring github_only_sources(const TestServer& server) {
    return L"DUSKFERN_UPDATE_MIRROR=http://127.0.0.1:9\nDUSKFERN_UPDATE_BASE=" +
           df::setup::from_utf8(server.http_base()) + L"/gh";
}

// The sample application (tools/overlay) as built.
inline std::wstring sample_app() { return build_file("tools/duskfern-overlay.exe"); }

// Bytes that are not all alike, so that a wrong range shows in the digest.
inline std::string pattern_bytes(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

}  // namespace df::test
