#include "tests/support/test_proxy.h"

#include "app/handle.h"
#include "app/log.h"
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

namespace df::test {

namespace {

std::wstring ctl_file(const std::string& ctl, const wchar_t* name) { return windows_path(ctl) + L"\\" + name; }

}  // namespace

TestProxy::TestProxy() : address_(env("DF_TEST_PROXY")), ctl_(env("DF_TEST_PROXY_CTL")) {}

void TestProxy::require_basic(const std::string& user, const std::string& password,
                              const std::vector<std::string>& only) {
    std::wstring tmp = ctl_file(ctl_, L"proxy.json.tmp");
    nlohmann::json table{{"basic", user + ":" + password}};
    if (!only.empty()) table["only"] = only;
    write_file(tmp, table.dump());
    ::MoveFileExW(tmp.c_str(), ctl_file(ctl_, L"proxy.json").c_str(), MOVEFILE_REPLACE_EXISTING);
}

void TestProxy::open_to_all() { ::DeleteFileW(ctl_file(ctl_, L"proxy.json").c_str()); }

std::vector<TestProxy::Request> TestProxy::journal() const {
    std::vector<Request> out;
    for_each_journal_line(ctl_file(ctl_, L"journal.jsonl"), [&](const std::string& line) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object()) return;
        Request r;
        r.method = j.value("method", std::string());
        r.target = j.value("target", std::string());
        r.form = j.value("form", std::string());
        r.host = j.value("host", std::string());
        r.auth = j.value("auth", std::string());
        r.status = j.value("status", 0);
        out.push_back(std::move(r));
    });
    return out;
}

std::vector<std::string> files_holding(const std::wstring& folder, const std::string& secret) {
    std::wstring wide = df::setup::from_utf8(secret);
    std::string utf16(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    std::vector<std::string> out;
    for (const auto& [path, bytes] : files_below(folder)) {
        if (bytes.find(secret) != std::string::npos || bytes.find(utf16) != std::string::npos) out.push_back(path);
    }
    return out;
}

void TestProxy::clear_journal() { ::DeleteFileW(ctl_file(ctl_, L"journal.jsonl").c_str()); }

}  // namespace df::test
