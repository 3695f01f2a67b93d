#include "app/command_line.h"

#include <gtest/gtest.h>

using df::setup::Options;
using df::setup::parse_command_line;

namespace {

struct Case {
    const char* name;
    std::vector<std::wstring> args;
    bool silent, shortcut;
    std::optional<std::wstring> dir, log, lang;
    std::wstring source;
};

const std::optional<std::wstring> none;

}  // namespace

TEST(CommandLine, Table) {
    const Case cases[] = {
        {"no arguments", {}, false, false, none, none, none, L"mirror"},
        {"silent and shortcut", {L"--silent", L"--shortcut"}, true, true, none, none, none, L"mirror"},
        {"dir twice: the second wins", {L"--dir", L"D:\\a", L"--dir", L"D:\\b"}, false, false, L"D:\\b", none, none,
         L"mirror"},
        {"equals form is not an option", {L"--dir=D:\\x"}, false, false, none, none, none, L"mirror"},
        {"value taken whatever it looks like", {L"--dir", L"--silent"}, false, false, L"--silent", none, none,
         L"mirror"},
        {"source kept as given", {L"--source", L"GitHub", L"--silent"}, true, false, none, none, none, L"GitHub"},
        {"dangling value option ignored", {L"--silent", L"--lang"}, true, false, none, none, none, L"mirror"},
        {"dangling dir keeps earlier dir", {L"--dir", L"D:\\a", L"--dir"}, false, false, L"D:\\a", none, none,
         L"mirror"},
        {"names are case-sensitive", {L"--Silent", L"--DIR", L"x", L"-silent"}, false, false, none, none, none,
         L"mirror"},
        {"log and lang", {L"--log", L"C:\\l.txt", L"--lang", L"zh-TW"}, false, false, none, L"C:\\l.txt", L"zh-TW",
         L"mirror"},
        {"unknown arguments skipped", {L"foo", L"--silent", L"bar"}, true, false, none, none, none, L"mirror"},
        {"empty value is a value", {L"--lang", L""}, false, false, none, none, L"", L"mirror"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options o = parse_command_line(c.args);
        EXPECT_EQ(o.silent, c.silent);
        EXPECT_EQ(o.shortcut, c.shortcut);
        EXPECT_EQ(o.dir, c.dir);
        EXPECT_EQ(o.log, c.log);
        EXPECT_EQ(o.lang, c.lang);
        EXPECT_EQ(o.source, c.source);
    }
}

TEST(CommandLine, HeaderLine) {
    EXPECT_EQ(df::setup::header_line(4312, false, false), "---- duskfern-setup 0.7.1 pid=4312 window ui=en");
    EXPECT_EQ(df::setup::header_line(7, true, true), "---- duskfern-setup 0.7.1 pid=7 silent ui=zh");
}

TEST(CommandLine, ConnectionsTakenAsGivenLastWins) {
    EXPECT_EQ(parse_command_line({L"--connections", L"3", L"--connections", L"x"}).connections, L"x");
    EXPECT_EQ(parse_command_line({L"--connections", L"3", L"--connections"}).connections, L"3");
    EXPECT_FALSE(parse_command_line({L"--connections=3", L"--Connections", L"3"}).connections.has_value());
}

TEST(CommandLine, ConnectionsValue) {
    const std::pair<const wchar_t*, std::optional<int>> cases[] = {
        {L"1", 1},  {L"6", 6},  {L"16", 16},           {L"09", 9},            {L"0", std::nullopt},
        {L"17", std::nullopt},  {L"-1", std::nullopt}, {L"+6", std::nullopt}, {L" 6", std::nullopt},
        {L"6 ", std::nullopt},  {L"", std::nullopt},   {L"016", std::nullopt}, {L"4x", std::nullopt},
        {L"\x0666", std::nullopt},  // an Arabic-Indic six is not a decimal digit here
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(df::setup::connections_value(cases[i].first), cases[i].second) << "case " << i;
    }
}

TEST(CommandLine, ProxyAndProxyUser) {
    Options o = parse_command_line({L"--proxy", L"a:1", L"--proxy-user", L"ann", L"--proxy", L"b:2"});
    EXPECT_EQ(o.proxy, std::optional<std::wstring>(L"b:2"));
    EXPECT_EQ(o.proxy_user, std::optional<std::wstring>(L"ann"));
    Options dangling = parse_command_line({L"--proxy-user"});
    EXPECT_FALSE(dangling.proxy_user.has_value());
    EXPECT_FALSE(parse_command_line({L"--proxy=a:1", L"--Proxy", L"a:1"}).proxy.has_value());
}
