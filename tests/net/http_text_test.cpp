// The fixed texts and small rules of the HTTP client (portable).
#include "net/http_text.h"

#include <gtest/gtest.h>

#include <climits>

using namespace df::setup;

TEST(HttpText, UserAgentNamesVersionAndProjectPage) {
    EXPECT_EQ(user_agent(), "duskfern-setup/0.7.1 (+https://github.com/Hollowmint/duskfern)");
}

TEST(HttpText, WinhttpCodeTable) {
    struct Case {
        std::uint32_t code;
        std::optional<std::string> text;
    } cases[] = {
        {11999, std::nullopt},
        {12000, "winhttp error 12000"},
        {12001, "winhttp error 12001"},
        {12002, "timed out"},
        {12007, "name not resolved"},
        {12017, "cancelled"},
        {12029, "cannot connect"},
        {12030, "connection reset"},
        {12036, "winhttp error 12036"},
        {12037, "certificate expired or not yet valid"},
        {12038, "certificate name does not match"},
        {12044, "the server asks for a client certificate"},
        {12045, "certificate not trusted"},
        {12157, "TLS failure (secure channel error)"},
        {12169, "certificate not valid"},
        {12175, "TLS failure"},
        {12179, "certificate not valid for this use"},
        {12193, "winhttp error 12193"},
        {12194, std::nullopt},
        {10060, std::nullopt},  // a socket code (Wine's receive time-out) is a system code
        {0, std::nullopt},
        {0x80070005u, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(winhttp_code_text(c.code), c.text);
    }
}

TEST(HttpText, RequestHeaders) {
    const std::string accept = "Accept: application/vnd.github+json, application/octet-stream, */*\r\n";
    EXPECT_EQ(request_headers({0, std::nullopt}), accept);
    EXPECT_EQ(request_headers({1, std::nullopt}), accept + "Range: bytes=1-\r\n");
    EXPECT_EQ(request_headers({1000, std::nullopt}), accept + "Range: bytes=1000-\r\n");
    EXPECT_EQ(request_headers({5000000000ull, std::nullopt}), accept + "Range: bytes=5000000000-\r\n");
    EXPECT_EQ(request_headers({UINT64_MAX, std::nullopt}), accept + "Range: bytes=18446744073709551615-\r\n");
    // A piece names its last byte, the first piece too.
    EXPECT_EQ(request_headers({0, 1048575}), accept + "Range: bytes=0-1048575\r\n");
    EXPECT_EQ(request_headers({1048576, 1048576}), accept + "Range: bytes=1048576-1048576\r\n");
}

TEST(HttpText, ReceiveTimeoutIsAtLeastThirtySeconds) {
    struct Case {
        int in, out;
    } cases[] = {{8000, 30000}, {15000, 30000}, {29999, 30000}, {30000, 30000},
                 {30001, 30001}, {45000, 45000}, {0, 30000},    {-1, 30000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(receive_timeout_ms(c.in), c.out);
    }
}

TEST(HttpText, RequestPath) {
    struct Case {
        const wchar_t *path, *extra, *out;
    } cases[] = {
        {L"", L"", L"/"},
        {L"/", L"", L"/"},
        {L"/a/b.json", L"", L"/a/b.json"},
        {L"/a", L"?x=1&y=2", L"/a?x=1&y=2"},
        {L"", L"?x=1", L"/?x=1"},
        {L"/a", L"?x=1#part", L"/a?x=1"},
        {L"/a", L"#part", L"/a"},
        {L"/a#part", L"", L"/a"},
        {L"", L"#part", L"/"},
        {L"/a%20b", L"?q=%23", L"/a%20b?q=%23"},  // an escaped '#' is no fragment
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.path) + L"|" + c.extra);
        EXPECT_EQ(request_path(c.path, c.extra), c.out);
    }
}

TEST(HttpText, AnnouncedBodyLength) {
    struct Case {
        const char *length, *range;
        std::optional<std::uint64_t> out;
    } cases[] = {
        {"", "", std::nullopt},
        {"0", "", 0},
        {"5000", "", 5000},
        {" 42 ", "", 42},
        {"5000000000", "", 5000000000ull},
        {"18446744073709551615", "", UINT64_MAX},
        {"18446744073709551616", "", std::nullopt},  // one past the largest: not readable
        {"-1", "", std::nullopt},
        {"12a", "", std::nullopt},
        {"4000", "bytes 1000-1999/5000", 4000},  // Content-Length wins
        {"", "bytes 1000-4999/5000", 4000},
        {"", "bytes 0-0/1", 1},
        {"", "Bytes 10-19/*", 10},
        {"", "bytes 20-19/50", std::nullopt},
        {"", "bytes */5000", std::nullopt},
        {"", "items 1-2/3", std::nullopt},
        {"", "bytes 1-2", std::nullopt},
        {"", "bytes 0-99/99", std::nullopt},  // the last byte lies past the total
        {"", "bytes0-99/100", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.length) + "|" + c.range);
        EXPECT_EQ(announced_body_length(c.length, c.range), c.out);
    }
}

TEST(HttpText, ContentRange) {
    EXPECT_EQ(parse_content_range("bytes 0-99/100"), (ContentRange{0, 99, 100}));
    EXPECT_EQ(parse_content_range(" BYTES 5-5/*"), (ContentRange{5, 5, std::nullopt}));
    EXPECT_EQ(parse_content_range("bytes 0-99/100x"), std::nullopt);
    EXPECT_EQ(parse_content_range("bytes */100"), std::nullopt);
}

TEST(HttpText, RetryPauses) {
    EXPECT_EQ(retry_pause_ms(1), 1000u);
    EXPECT_EQ(retry_pause_ms(2), 2000u);
    EXPECT_EQ(retry_pause_ms(3), 4000u);
    EXPECT_EQ(retry_pause_ms(4), 8000u);
}
