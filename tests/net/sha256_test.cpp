#include "net/sha256.h"
#include "net/error_text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

using namespace df::setup;
using namespace df::test;

TEST(Sha256File, KnownVectors) {
    std::wstring dir = scratch_folder("sha");
    struct Case {
        const char* name;
        std::string content;
        const char* digest;
    } cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Reads ask for what the file holds: a page, a page and a byte, exactly one read block.
        {"4096 a", std::string(4096, 'a'), "c93eee2d0db02f10acc7460d9576e122dcf8cd53c4bf8dfcae1b3e74ebcfff5a"},
        {"4097 a", std::string(4097, 'a'), "4e369b5618643c3abddd027b650bfa54810be3b418028a7c9d82299a59d008e8"},
        {"1 MiB a", std::string(1048576, 'a'), "9bc1b2a288b26af7257a36277ae3816a7d4f16e89c1e7e77d0a5c48bad62b360"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path = dir + L"\\" + std::wstring(c.name, c.name + strlen(c.name));
        ASSERT_TRUE(write_file(path, c.content));
        std::uint64_t n = 12345;
        auto digest = sha256_file(path, &n);
        ASSERT_TRUE(digest.has_value());
        EXPECT_EQ(*digest, c.digest);
        EXPECT_EQ(n, c.content.size());
    }
}

TEST(Sha256File, SeveralMebibytesNotAMultipleOfTheReadSize) {
    // 3 MiB + 12345 bytes of a pattern; the digest was computed with another SHA-256 implementation.
    std::string data;
    data.reserve(3 * 1048576 + 12345);
    for (std::size_t i = 0; i < 3 * 1048576 + 12345; ++i) data.push_back(static_cast<char>((i * 31 + 7) & 0xFF));
    std::wstring path = scratch_folder("sha-big") + L"\\big.bin";
    ASSERT_TRUE(write_file(path, data));
    std::uint64_t n = 0;
    auto digest = sha256_file(path, &n);
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(n, data.size());
    EXPECT_EQ(*digest, "5484bbdbfa09aaf96421d09d2c57be9d4fdbffe2ef1d33964a754591a0ac11ba");
}

TEST(Sha256File, MissingFileAndFolderGiveNothing) {
    std::wstring dir = scratch_folder("sha-missing");
    std::uint64_t n = 77;
    EXPECT_FALSE(sha256_file(dir + L"\\nothing-here", &n).has_value());
    EXPECT_EQ(n, 77u);
    EXPECT_FALSE(sha256_file(dir, &n).has_value());
    EXPECT_EQ(n, 77u);
    EXPECT_FALSE(sha256_file(dir + L"\\nothing-here").has_value());  // no count wanted
}

TEST(SystemErrorText, CodesAndTrimming) {
    // The system's description follows the code, without its final period and line break.
    std::string t5 = system_error_text(5);
    EXPECT_EQ(t5.rfind("error 5: ", 0), 0u) << t5;
    EXPECT_NE(t5.back(), '.');
    EXPECT_NE(t5.back(), '\n');
    std::string t2 = system_error_text(2);
    EXPECT_EQ(t2.rfind("error 2: ", 0), 0u) << t2;
    std::string t0 = system_error_text(0);
    EXPECT_EQ(t0.rfind("error 0: ", 0), 0u) << t0;
    EXPECT_NE(t0.back(), '.');
    // No description: the number alone, unsigned even with the top bit set.
    EXPECT_EQ(system_error_text(0xDEADBEEF), "error 3735928559");
    EXPECT_EQ(system_error_text(0x7FFFFFF0), "error 2147483632");

    // The bare description keeps its final period and loses only the line break.
    std::string m5 = system_error_message(5);
    EXPECT_EQ("error 5: " + m5, t5 + ".");
    EXPECT_EQ(system_error_message(0xDEADBEEF), "unknown error");
}
