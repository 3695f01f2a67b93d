// format_text: the slots the window's formats use, the bound of 1023 units, and inputs that a
// printf-style formatter would mishandle.
#include "ui/format.h"

#include <gtest/gtest.h>

using namespace df::setup;

TEST(FormatText, FilesLineOfTheTable) {
    EXPECT_EQ(format_text(L"Downloading %d / %d files \u00b7 %.1f / %.1f MB",
                          {3, 120, 12.5, 88.0}),
              L"Downloading 3 / 120 files \u00b7 12.5 / 88.0 MB");
    EXPECT_EQ(format_text(L"\u6b63\u5728\u4e0b\u8f7d %d / %d \u4e2a\u6587\u4ef6 \u00b7 %.1f / %.1f MB", {0, 0, 0.0, 0.0}),
              L"\u6b63\u5728\u4e0b\u8f7d 0 / 0 \u4e2a\u6587\u4ef6 \u00b7 0.0 / 0.0 MB");
}

TEST(FormatText, SlotKinds) {
    struct Case {
        const wchar_t* format;
        std::initializer_list<FormatArg> args;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"%d", {std::int32_t{-2147483647 - 1}}, L"-2147483648"},
        {L"%d|%d", {2147483647, 0}, L"2147483647|0"},
        {L"%.1f", {0.05}, L"0.1"},  // 0.05 is just above 0.05 in binary
        {L"%.1f", {0.04999}, L"0.0"},
        {L"%.1f", {1099511627776.0}, L"1099511627776.0"},
        {L"%.1f", {-1.25}, L"-1.2"},  // round half to even on the exact binary value
        {L"%.0f", {2.5}, L"2"},
        {L"%.3f", {1.0 / 3.0}, L"0.333"},
        {L"%f", {1.5}, L"1.500000"},
        {L"%s and %ls", {L"\u5df2\u5b89\u88c5", L"D:\\\u6e38\u620f"}, L"\u5df2\u5b89\u88c5 and D:\\\u6e38\u620f"},
        {L"Installed %s to %s", {L"v1.4.0", L"D:\\Games\\Duskfern"}, L"Installed v1.4.0 to D:\\Games\\Duskfern"},
        {L"100%% done", {}, L"100% done"},
        {L"%", {}, L"%"},
        {L"50% off %x", {1}, L"50% off %x"},   // unknown sequences stay as they are
        {L"%.xf", {1.0}, L"%.xf"},
        {L"[%d]", {}, L"[]"},                    // a missing argument fills nothing
        {L"[%d][%s]", {L"text", L"x"}, L"[][x]"},  // a wrong kind fills nothing but uses its argument
        {L"[%s]", {1.5}, L"[]"},
        {L"", {1, 2}, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "format #" << (&c - cases));
        EXPECT_EQ(format_text(c.format, c.args), std::wstring(c.expected));
    }
}

TEST(FormatText, SpeedAndTimeLeft) {
    const std::pair<double, const wchar_t*> speeds[] = {
        {0.0, L"0 KB/s"},           {511.0, L"0 KB/s"},           {512.0, L"1 KB/s"},
        {999.49 * 1024, L"999 KB/s"}, {999.5 * 1024, L"1.0 MB/s"}, {3.1 * 1048576, L"3.1 MB/s"},
        {1e12, L"953674.3 MB/s"},
    };
    for (const auto& [speed, text] : speeds) EXPECT_EQ(speed_text(speed, false), text) << speed;
    const std::pair<std::uint64_t, const wchar_t*> lefts[] = {  // "": no time shown
        {0, L"about 1 s left"},        {59, L"about 59 s left"}, {60, L"about 1 min left"},
        {89, L"about 1 min left"},     {90, L"about 2 min left"}, {7169, L"about 119 min left"},
        {7170, L"about 2 h left"},     {358199, L"about 99 h left"}, {358200, L""},
        {UINT64_MAX, L""},
    };
    for (const auto& [seconds, text] : lefts) EXPECT_EQ(time_left_text(seconds, false).value_or(L""), text) << seconds;
    EXPECT_EQ(time_left_text(7200, true), L"\u5269\u4f59\u7ea6 2 \u5c0f\u65f6");
}

TEST(FormatText, TextWithNulUnitKeepsAllUnits) {
    std::wstring with_nul(L"a\0b", 3);
    EXPECT_EQ(format_text(L"<%s>", {std::wstring_view(with_nul)}), L"<" + with_nul + L">");
}

TEST(FormatText, CutAtTheBound) {
    std::wstring long_error(5000, L'e');
    std::wstring out = format_text(L"Setup failed: %s", {long_error});
    ASSERT_EQ(out.size(), FORMAT_MAX_UNITS);
    EXPECT_EQ(out.substr(0, 14), L"Setup failed: ");
    EXPECT_EQ(out.back(), L'e');

    // Exactly at the bound nothing is lost; one unit more loses exactly one.
    std::wstring fits(FORMAT_MAX_UNITS - 2, L'x');
    EXPECT_EQ(format_text(L"[%s]", {fits}), L"[" + fits + L"]");
    std::wstring over(FORMAT_MAX_UNITS - 1, L'x');
    EXPECT_EQ(format_text(L"[%s]", {over}), L"[" + over);

    // The cut may fall in the format itself, or inside a number.
    std::wstring long_format(2000, L'f');
    EXPECT_EQ(format_text(long_format + L"%d", {7}).size(), FORMAT_MAX_UNITS);
    std::wstring almost(FORMAT_MAX_UNITS - 3, L'n');
    EXPECT_EQ(format_text(almost + L"%d", {123456}), almost + L"123");
    EXPECT_EQ(format_text(almost + L"%.1f", {98765.5}), almost + L"987");
}

TEST(FormatText, CutNeverSplitsASurrogatePair) {
    // U+1F33F (a herb) is the pair D83C DF3F; the bound falls between its halves.
    std::wstring pairs;
    for (int i = 0; i < 600; ++i) pairs += L"\xD83C\xDF3F";
    std::wstring out = format_text(L"%s", {pairs});
    EXPECT_EQ(out.size(), FORMAT_MAX_UNITS - 1);
    EXPECT_EQ(out.back(), L'\xDF3F');
    // One unit of lead-in: the pair fits exactly at the end.
    out = format_text(L"x%s", {pairs});
    EXPECT_EQ(out.size(), FORMAT_MAX_UNITS);
    EXPECT_EQ(out.back(), L'\xDF3F');
}

TEST(FormatText, HugeAndOddNumbers) {
    std::wstring out = format_text(L"%.1f", {1.7976931348623157e308});
    EXPECT_EQ(out.size(), 311u);  // 309 digits, the point, one decimal
    EXPECT_EQ(out.substr(out.size() - 2), L".0");
    EXPECT_EQ(format_text(L"%.1f", {-0.0}), L"-0.0");
}
