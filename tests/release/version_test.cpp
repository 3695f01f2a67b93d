#include "release/version.h"

#include <gtest/gtest.h>

#include <vector>

using namespace df::setup;

TEST(SplitOn, KeepsEmptyPieces) {
    struct Case {
        std::string text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a.b.c", {"a", "b", "c"}},
        {"a.", {"a", ""}},
        {".a", {"", "a"}},
        {"..", {"", "", ""}},
        {"rc.1-x", {"rc", "1-x"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split_on(c.text, '.'), c.pieces) << c.text;
}

TEST(ParseVersion, Accepted) {
    struct Case {
        std::string text;
        std::uint32_t major, minor, patch;
        std::string pre;
    } cases[] = {
        {"1", 1, 0, 0, ""},
        {"1.2", 1, 2, 0, ""},
        {"1.2.3", 1, 2, 3, ""},
        {"v1.2.3", 1, 2, 3, ""},
        {"V1.2.3", 1, 2, 3, ""},
        {"1.2.3-beta", 1, 2, 3, "beta"},
        {"1.2.3-rc.1+build.5", 1, 2, 3, "rc.1"},
        {"1.2.3+build", 1, 2, 3, ""},
        {"1.2.3+build-x", 1, 2, 3, ""},  // a "-" after "+" is metadata, not a pre-release
        {"1.2.3-a-b", 1, 2, 3, "a-b"},
        {"  1.2.3  ", 1, 2, 3, ""},
        {"\t\n\v\f\r1.2.3\r\n", 1, 2, 3, ""},
        {" v1.2.3+build.9 ", 1, 2, 3, ""},
        {"01.002.0003", 1, 2, 3, ""},
        {"999999999.0.0", 999999999, 0, 0, ""},
        {"0.0.0", 0, 0, 0, ""},
        {"000000000", 0, 0, 0, ""},
        {"1.2.3-\x01\xff", 1, 2, 3, "\x01\xff"},  // pre-release bytes are not checked
    };
    for (const auto& c : cases) {
        auto v = parse_version(c.text);
        ASSERT_TRUE(v) << c.text;
        EXPECT_EQ(v->major, c.major) << c.text;
        EXPECT_EQ(v->minor, c.minor) << c.text;
        EXPECT_EQ(v->patch, c.patch) << c.text;
        EXPECT_EQ(v->prerelease, c.pre) << c.text;
    }
}

TEST(ParseVersion, Refused) {
    const char* cases[] = {
        "", "v", "V", " ", "1.2.3.4", "1..2", ".1", "1.", "1.2.x", "-beta", "1.2.3-", "v1.2.3-",
        "1234567890", "1.1234567890", "1.2.1234567890", "1,2,3", "vv1.2.3", "+build", "1.2.3 -beta",
        "1. 2", "x1.2", "1.2a", "1e3", "-1", "+1", "1-",
    };
    for (const char* c : cases) EXPECT_FALSE(parse_version(c)) << '"' << c << '"';
    // Embedded NUL bytes are ordinary bytes, not digits.
    EXPECT_FALSE(parse_version(std::string("1\0", 2)));
    EXPECT_TRUE(parse_version(std::string("1-\0", 3)));
}

TEST(ParseVersion, EmptyBuildMetadataIsDropped) {
    // Cutting before "+" leaves "1.2.3"; only an empty pre-release is refused.
    EXPECT_TRUE(parse_version("1.2.3+"));
}

TEST(CompareVersions, Orderings) {
    struct Case {
        std::string a, b;
        int result;
    } cases[] = {
        {"1.2", "1.2.0", 0},
        {"1", "1.0.0", 0},
        {"1.2.3+a", "1.2.3+b", 0},
        {"v1.2.3", "1.2.3", 0},
        {"V1.2.3", "v1.2.3", 0},
        {"01.2.3", "1.02.3", 0},
        {"1.2.3", "1.2.3-rc.1", 1},
        {"1.2.3-alpha", "1.2.3-alpha.1", -1},
        {"1.2.3-alpha.1", "1.2.3-alpha.beta", -1},
        {"1.2.3-beta.2", "1.2.3-beta.11", -1},
        {"1.2.3-rc.1", "1.2.3-rc.a", -1},
        {"1.2.3-Z", "1.2.3-a", -1},
        {"1.2.3-rc.01", "1.2.3-rc.1", 0},
        {"1.2.3", "1.2.4", -1},
        {"1.3.0", "1.2.9", 1},
        {"2.0.0", "1.999999999.999999999", 1},
        {"1.10.0", "1.9.0", 1},  // numbers, not texts
        {"1.2.3", "release-7", 1},
        {"release-7", "1.2.3", -1},
        {"release-7", "nightly", 0},
        {"", "", 0},
        {"0", "", 1},
        {"1.2.3-rc.1+x", "1.2.3-rc.1+y", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compare_versions(c.a, c.b), c.result) << c.a << " vs " << c.b;
        EXPECT_EQ(compare_versions(c.b, c.a), -c.result) << c.b << " vs " << c.a;
    }
}

TEST(ComparePrerelease, Rules) {
    struct Case {
        std::string a, b;
        int result;
    } cases[] = {
        {"", "", 0},
        {"", "rc", 1},
        {"rc", "rc", 0},
        {"1", "2", -1},
        {"10", "9", 1},              // numeric, not byte order
        {"1", "a", -1},              // numeric below non-numeric
        {"a", "b", -1},
        {"ab", "a", 1},              // longer with common prefix is greater
        {"a.b", "a", 1},             // more identifiers is greater
        {"1234567890", "2", 1},      // ten digits are text; text is above a number
        {"1234567890", "999999999", 1},
        {"999999999", "1000000000", -1},
        {"\x80", "\x7f", 1},        // unsigned bytes
        {"a..b", "a.1.b", 1},        // an empty identifier is text, above a number
        {"", ".", 1},
        {"alpha.1", "alpha.01", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(compare_prerelease(c.a, c.b), c.result) << c.a << " vs " << c.b;
        EXPECT_EQ(compare_prerelease(c.b, c.a), -c.result) << c.b << " vs " << c.a;
    }
}

TEST(CompareVersions, SortsATableConsistently) {
    // Every pair of this ascending list must compare as its positions do.
    const std::vector<std::string> ascending = {
        "1.0.0-1", "1.0.0-2", "1.0.0-10", "1.0.0-a", "1.0.0-alpha", "1.0.0-alpha.1", "1.0.0-alpha.beta",
        "1.0.0-beta", "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1", "1.0.0", "1.0.1", "1.1", "2",
    };
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        for (std::size_t j = 0; j < ascending.size(); ++j) {
            int expected = i < j ? -1 : (i > j ? 1 : 0);
            EXPECT_EQ(compare_versions(ascending[i], ascending[j]), expected) << ascending[i] << " vs " << ascending[j];
        }
    }
}

TEST(VersionFromTag, Table) {
    struct Case {
        std::string tag, version;
    } cases[] = {
        {"v1.2.3", "1.2.3"}, {"V2.0", "2.0"}, {"v0", "0"}, {"vX", "vX"}, {"v", "v"}, {"", ""},
        {"release-7", "release-7"}, {" v1.2.3", " v1.2.3"}, {"v1.2.3 ", "1.2.3 "}, {"vv1", "vv1"},
        {"1.2.3", "1.2.3"}, {"v-1", "v-1"},
    };
    for (const auto& c : cases) EXPECT_EQ(version_from_tag(c.tag), c.version) << c.tag;
}
