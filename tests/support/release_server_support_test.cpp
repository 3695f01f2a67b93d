// The Windows side of the loopback release server: environment, files, fault table, journal.
#include "tests/support/release_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace df::test;

TEST(TestServer, ReadsItsAddressesFromTheEnvironment) {
    TestServer s;
    ASSERT_TRUE(s.available());
    EXPECT_EQ(s.http_base().rfind("http://127.0.0.1:", 0), 0u);
    EXPECT_EQ(s.https_base().rfind("https://127.0.0.1:", 0), 0u);
    EXPECT_EQ(s.root().rfind(L"Z:\\", 0), 0u);
}

TEST(TestServer, PutFileCreatesTheFoldersItNeeds) {
    TestServer s;
    ASSERT_TRUE(s.put_file("v1/sub/dir/file.bin", std::string("ab\0cd", 5)));
    EXPECT_EQ(read_file(s.root() + L"\\v1\\sub\\dir\\file.bin"), std::string("ab\0cd", 5));
    ASSERT_TRUE(s.put_file("top.txt", "x"));
    EXPECT_EQ(read_file(s.root() + L"\\top.txt"), "x");
}

TEST(TestServer, FaultTableIsReplacedAndCleared) {
    TestServer s;
    std::wstring ctl = windows_path(env("DF_TEST_CTL"));
    s.set_faults(R"({"/a":{"status":500}})");
    EXPECT_EQ(read_file(ctl + L"\\faults.json"), R"({"/a":{"status":500}})");
    s.set_faults(R"({"/b":{"cut_after":3}})");
    EXPECT_EQ(read_file(ctl + L"\\faults.json"), R"({"/b":{"cut_after":3}})");
    EXPECT_FALSE(file_exists(ctl + L"\\faults.json.tmp"));
    s.clear_faults();
    EXPECT_FALSE(file_exists(ctl + L"\\faults.json"));
}

TEST(TestServer, JournalLinesBecomeRequests) {
    TestServer s;
    std::wstring ctl = windows_path(env("DF_TEST_CTL"));
    s.clear_journal();
    EXPECT_TRUE(s.journal().empty());
    ASSERT_TRUE(write_file(ctl + L"\\journal.jsonl",
                           "{\"path\":\"/a?x=1\",\"range\":\"bytes=1000-\",\"status\":206,\"sent\":5000000000,"
                           "\"agent\":\"ua\",\"accept\":\"*/*\"}\n"
                           "{\"path\":\"/b\",\"range\":null,\"status\":404,\"sent\":10,\"agent\":\"\",\"accept\":\"\"}\n"
                           "{\"path\":\"/half"));  // a line still being written is not read
    auto j = s.wait_journal(2, 1000);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0].path, "/a?x=1");
    EXPECT_EQ(j[0].range, std::optional<std::string>("bytes=1000-"));
    EXPECT_EQ(j[0].status, 206);
    EXPECT_EQ(j[0].sent, 5000000000ull);
    EXPECT_EQ(j[0].agent, "ua");
    EXPECT_EQ(j[0].accept, "*/*");
    EXPECT_EQ(j[1].range, std::nullopt);
    EXPECT_EQ(j[1].status, 404);
    s.clear_journal();
    EXPECT_TRUE(s.journal().empty());
}
