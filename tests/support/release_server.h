#pragma once
// The loopback release server of a SERVER test (tools/release_server.py --run), seen from the
// Windows test executable: its addresses, its file folder, its fault table and its journal.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace df::test {

// Each complete line of a JSON-lines journal file (a line still being written is left out)
// handed to take as its text; lines that are empty are skipped.
void for_each_journal_line(const std::wstring& path, const std::function<void(const std::string&)>& take);

class TestServer {
public:
    // One request as the server recorded it in its journal.
    struct Request {
        std::string path;                  // request path including the query
        std::optional<std::string> range;  // the Range header, when one was sent
        int status = 0;                    // status answered (0 when none was)
        std::uint64_t sent = 0;            // body bytes sent
        std::string agent, accept;         // User-Agent and Accept headers
        double at = 0;                     // arrival on the server's monotonic clock, seconds
        std::optional<bool> gathered;      // held by a "gather" fault: whether its group filled
    };

    // Reads DF_TEST_HTTP, DF_TEST_HTTPS, DF_TEST_ROOT and DF_TEST_CTL from the environment.
    TestServer();

    // Whether the test runs beside a server (all four variables set).
    bool available() const;
    // "http://127.0.0.1:PORT", no trailing slash.
    std::string http_base() const;
    // "https://127.0.0.1:PORT" (self-signed certificate), no trailing slash.
    std::string https_base() const;
    // The served folder as a Windows path.
    std::wstring root() const;
    // Writes root/rel ("/"-separated), creating the folders it needs.
    bool put_file(const std::string& rel, const std::string& bytes);
    // Replaces the fault table with a JSON object text (path -> fault); the server's "times"
    // counts start again.
    void set_faults(const std::string& json_object_text);
    // Removes the fault table.
    void clear_faults();
    // Every journal entry so far, oldest first.
    std::vector<Request> journal() const;
    // The journal once it has at least n entries, or as it is after timeout_ms.
    std::vector<Request> wait_journal(std::size_t n, unsigned long timeout_ms = 10000) const;
    // Empties the journal.
    void clear_journal();

private:
    std::string http_, https_, root_, ctl_;
};

}  // namespace df::test
