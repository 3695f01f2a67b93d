#include "tests/support/release_server.h"

#include "app/handle.h"
#include "app/log.h"
#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

namespace df::test {
using namespace df::setup;

namespace {

std::wstring ctl_file(const std::string& ctl, const wchar_t* name) { return windows_path(ctl) + L"\\" + name; }

}  // namespace

TestServer::TestServer()
    : http_(env("DF_TEST_HTTP")), https_(env("DF_TEST_HTTPS")), root_(env("DF_TEST_ROOT")), ctl_(env("DF_TEST_CTL")) {}

bool TestServer::available() const { return !http_.empty() && !https_.empty() && !root_.empty() && !ctl_.empty(); }

std::string TestServer::http_base() const { return http_; }

std::string TestServer::https_base() const { return https_; }

std::wstring TestServer::root() const { return windows_path(root_); }

bool TestServer::put_file(const std::string& rel, const std::string& bytes) {
    std::wstring path = root();
    std::wstring w = from_utf8(rel);
    std::size_t start = 0;
    while (start < w.size()) {
        std::size_t slash = w.find(L'/', start);
        std::wstring part = w.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
        if (!part.empty()) {
            path += L"\\" + part;
            if (slash != std::wstring::npos) ::CreateDirectoryW(path.c_str(), nullptr);
        }
        if (slash == std::wstring::npos) break;
        start = slash + 1;
    }
    return write_file(path, bytes);
}

void TestServer::set_faults(const std::string& json_object_text) {
    // Written beside and moved into place: the server never reads half a table, and the new
    // file tells it to start its counts again.
    std::wstring tmp = ctl_file(ctl_, L"faults.json.tmp");
    std::wstring final_path = ctl_file(ctl_, L"faults.json");
    write_file(tmp, json_object_text);
    ::MoveFileExW(tmp.c_str(), final_path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void TestServer::clear_faults() { ::DeleteFileW(ctl_file(ctl_, L"faults.json").c_str()); }

void for_each_journal_line(const std::wstring& path, const std::function<void(const std::string&)>& take) {
    std::string text = read_file(path);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a line still being written
        if (end > start) take(text.substr(start, end - start));
        start = end + 1;
    }
}

std::vector<TestServer::Request> TestServer::journal() const {
    std::vector<Request> out;
    for_each_journal_line(ctl_file(ctl_, L"journal.jsonl"), [&](const std::string& line) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        if (!j.is_object()) return;
        Request r;
        r.path = j.value("path", std::string());
        if (j.contains("range") && j["range"].is_string()) r.range = j["range"].get<std::string>();
        r.status = j.value("status", 0);
        r.sent = j.value("sent", std::uint64_t{0});
        r.agent = j.value("agent", std::string());
        r.accept = j.value("accept", std::string());
        r.at = j.value("t", 0.0);
        if (j.contains("gathered") && j["gathered"].is_boolean()) r.gathered = j["gathered"].get<bool>();
        out.push_back(std::move(r));
    });
    return out;
}

std::vector<TestServer::Request> TestServer::wait_journal(std::size_t n, unsigned long timeout_ms) const {
    ULONGLONG end = ::GetTickCount64() + timeout_ms;
    for (;;) {
        std::vector<Request> j = journal();
        if (j.size() >= n || ::GetTickCount64() >= end) return j;
        ::Sleep(20);
    }
}

void TestServer::clear_journal() { ::DeleteFileW(ctl_file(ctl_, L"journal.jsonl").c_str()); }

}  // namespace df::test
