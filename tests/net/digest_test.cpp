#include "net/sha256.h"

#include <gtest/gtest.h>

using df::setup::digest_equals;

TEST(DigestEquals, Table) {
    const std::string d = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::string upper = d;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        std::string computed, expected;
        bool equal;
    } cases[] = {
        {d, d, true},
        {d, upper, true},
        {upper, d, true},
        {d, d.substr(0, 63), false},
        {d.substr(0, 63), d, false},
        {d, d + "0", false},
        {"", "", false},  // an empty computed digest never matches
        {"", d, false},
        {d, std::string(64, '0'), false},
        {"ab", "a" "B", true},
        {"a@", "a`", false},  // only A-Z fold
    };
    for (const auto& c : cases) {
        EXPECT_EQ(digest_equals(c.computed, c.expected), c.equal) << c.computed << " vs " << c.expected;
    }
}
