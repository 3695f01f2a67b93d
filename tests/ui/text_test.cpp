// The text table against the texts as the product must show them, written here in UTF-8
// (the table itself spells non-ASCII characters as \u escapes, so the two are independent).
#include "ui/text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace df::setup;

namespace {

struct Expected {
    const char* key;
    const char* english;  // UTF-8
    const char* chinese;  // UTF-8
};

// Every row, in table order.
const Expected EXPECTED[] = {
    {"title", "duskfern setup", "duskfern 安装程序"},
    {"heading", "Install duskfern", "安装 duskfern"},
    {"folder", "Install folder:", "安装位置："},
    {"browse", "Browse…", "浏览…"},
    {"shortcut", "Create a desktop shortcut", "创建桌面快捷方式"},
    {"install", "Install", "安装"},
    {"retry", "Retry", "重试"},
    {"cancel", "Cancel", "取消"},
    {"close", "Close", "关闭"},
    {"launch", "Launch duskfern", "启动 duskfern"},
    {"ready", "Downloads the latest version (about 90 MB).", "将下载最新版本（约 90 MB）。"},
    {"checking", "Looking for the latest version…", "正在获取最新版本…"},
    {"manifest", "Reading the file list…", "正在读取文件清单…"},
    {"scanning", "Checking files already there…", "正在检查已有文件…"},
    {"files", "Downloading %d / %d files · %.1f / %.1f MB", "正在下载 %d / %d 个文件 · %.1f / %.1f MB"},
    {"files_rate", "Downloading %d / %d files · %.1f / %.1f MB · %s · %s",
     "正在下载 %d / %d 个文件 · %.1f / %.1f MB · %s · %s"},
    {"speed_kb", "%d KB/s", "%d KB/s"},
    {"speed_mb", "%.1f MB/s", "%.1f MB/s"},
    {"left_s", "about %d s left", "剩余约 %d 秒"},
    {"left_min", "about %d min left", "剩余约 %d 分钟"},
    {"left_h", "about %d h left", "剩余约 %d 小时"},
    {"finishing", "Finishing…", "正在完成…"},
    {"done", "Installed %s to %s", "已安装 %s 到 %s"},
    {"cancelled", "Cancelled. Run setup again to resume.", "已取消。再次运行即可继续下载。"},
    {"failed", "Setup failed: %s", "安装失败：%s"},
    {"pick", "Choose the install folder", "选择安装位置"},
    {"from_mirror", " (from the China mirror)", "（来自国内镜像）"},
    {"from_github", " (from GitHub)", "（来自 GitHub）"},
    {"bad_empty", "Choose a folder.", "请选择安装位置。"},
    {"bad_relative", "Use a full path such as D:\\Games\\Duskfern.", "请填写完整路径，例如 D:\\Games\\Duskfern。"},
    {"bad_root", "Pick a folder, not a whole drive.", "请选择一个文件夹，而不是整个磁盘。"},
    {"bad_chars", "The folder name has characters Windows does not allow.", "文件夹名里有 Windows 不允许的字符。"},
    {"bad_long", "The path is too long; choose a shorter one.", "路径太长，请换一个短一些的位置。"},
    {"bad_system", "Program Files and Windows folders are not writable for updates; choose a folder of your own.", "Program Files 和 Windows 目录无法自动更新，请选择自己的文件夹。"},
    {"bad_write", "This folder cannot be written to; choose another.", "这个文件夹无法写入，请换一个位置。"},
    {"busy_quit", "Stop the installation?", "要停止安装吗？"},
    {"proxy_title", "Proxy sign-in", "代理服务器登录"},
    {"proxy_ask", "The proxy server asks for a user name and password.", "代理服务器要求输入用户名和密码。"},
    {"proxy_ask_named", "The proxy server %s asks for a user name and password.", "代理服务器 %s 要求输入用户名和密码。"},
    {"proxy_unencrypted", "The password would be sent unencrypted.", "密码将以未加密的方式发送。"},
    {"proxy_again", "The proxy server refused this user name and password. Try again.",
     "代理服务器拒绝了该用户名和密码，请重试。"},
    {"proxy_user", "User name:", "用户名："},
    {"proxy_password", "Password:", "密码："},
    {"ok", "OK", "确定"},
};

// UTF-8 to code points. Every text here lies in the Basic Multilingual Plane, so one code point
// is one wchar_t unit both with 16-bit (Windows) and with 32-bit (Linux) wchar_t.
std::wstring decode_utf8(const std::string& s) {
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0;
        std::size_t n = 0;
        if (c < 0x80) {
            cp = c, n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F, n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F, n = 3;
        } else {
            ADD_FAILURE() << "unexpected UTF-8 lead byte in " << s;
            return out;
        }
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(static_cast<wchar_t>(cp));
        i += n;
    }
    return out;
}

// The printf conversions of a text, in order ("%d", "%.1f", "%s").
std::vector<std::wstring> placeholders(const std::wstring& text) {
    std::vector<std::wstring> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') continue;
        std::size_t j = i + 1;
        while (j < text.size() && (text[j] == L'.' || (text[j] >= L'0' && text[j] <= L'9'))) ++j;
        out.push_back(text.substr(i, j + 1 - i));
        i = j;
    }
    return out;
}

// Restores the language flag at the end of a test.
struct LanguageGuard {
    bool saved = use_chinese;
    ~LanguageGuard() { use_chinese = saved; }
};

}  // namespace

TEST(TextTable, EveryRowInOrderInBothLanguages) {
    ASSERT_EQ(std::size(EXPECTED), TEXT_TABLE_SIZE);
    for (std::size_t i = 0; i < TEXT_TABLE_SIZE; ++i) {
        const Expected& e = EXPECTED[i];
        SCOPED_TRACE(e.key);
        EXPECT_STREQ(TEXT_TABLE[i].key, e.key) << "row " << i + 1;
        EXPECT_EQ(std::wstring(TEXT_TABLE[i].english), decode_utf8(e.english));
        EXPECT_EQ(std::wstring(TEXT_TABLE[i].chinese), decode_utf8(e.chinese));
    }
}

TEST(TextTable, LookupByKeyFollowsTheLanguageFlag) {
    LanguageGuard guard;
    for (const Expected& e : EXPECTED) {
        SCOPED_TRACE(e.key);
        EXPECT_EQ(std::wstring(get_text(e.key, false)), decode_utf8(e.english));
        EXPECT_EQ(std::wstring(get_text(e.key, true)), decode_utf8(e.chinese));
        use_chinese = false;
        EXPECT_EQ(std::wstring(ui_text(e.key)), decode_utf8(e.english));
        use_chinese = true;
        EXPECT_EQ(std::wstring(ui_text(e.key)), decode_utf8(e.chinese));
    }
}

TEST(TextTable, UnknownKeysGiveAQuestionMark) {
    LanguageGuard guard;
    // Near misses of real keys: case, blanks, prefixes, a key followed by a NUL byte.
    const std::string_view unknown[] = {"",       "Title",     "TITLE",   "title ", " title", "titl",
                                        "titles", "bad-empty", "bad_",    "?",      "from",   "busy_quit_",
                                        std::string_view("title\0", 6)};
    for (bool chinese : {false, true}) {
        use_chinese = chinese;
        for (std::string_view key : unknown) {
            SCOPED_TRACE(std::string(key));
            EXPECT_EQ(std::wstring(ui_text(key)), L"?");
            EXPECT_EQ(std::wstring(get_text(key, chinese)), L"?");
        }
    }
}

TEST(TextTable, KeysAreUniqueAndPlain) {
    std::set<std::string> seen;
    for (const TextEntry& row : TEXT_TABLE) {
        std::string key = row.key;
        EXPECT_TRUE(seen.insert(key).second) << key;
        for (char c : key) EXPECT_TRUE((c >= 'a' && c <= 'z') || c == '_') << key;
    }
}

TEST(TextTable, PlaceholdersMatchInBothLanguages) {
    for (const TextEntry& row : TEXT_TABLE) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(placeholders(row.english), placeholders(row.chinese));
    }
    // The formatted rows and what their callers pass.
    using P = std::vector<std::wstring>;
    EXPECT_EQ(placeholders(get_text("files", false)), (P{L"%d", L"%d", L"%.1f", L"%.1f"}));
    EXPECT_EQ(placeholders(get_text("files_rate", false)), (P{L"%d", L"%d", L"%.1f", L"%.1f", L"%s", L"%s"}));
    EXPECT_EQ(placeholders(get_text("done", false)), (P{L"%s", L"%s"}));
    EXPECT_EQ(placeholders(get_text("failed", false)), (P{L"%s"}));
    EXPECT_EQ(placeholders(get_text("proxy_ask_named", false)), (P{L"%s"}));
    std::size_t formatted = 0;
    for (const TextEntry& row : TEXT_TABLE) formatted += placeholders(row.english).empty() ? 0 : 1;
    EXPECT_EQ(formatted, 10u);
}

TEST(Language, ChinesePrimaryLanguageOnly) {
    struct Case {
        std::uint16_t langid;
        bool chinese;
    } cases[] = {
        {0x0804, true},   // Chinese (Simplified, PRC)
        {0x0404, true},   // Chinese (Traditional, Taiwan)
        {0x0C04, true},   // Hong Kong
        {0x1004, true},   // Singapore
        {0x1404, true},   // Macao
        {0x7C04, true},   // Chinese (Traditional) neutral
        {0x0004, true},   // primary language alone
        {0xFC04, true},   // any sublanguage bits
        {0x0409, false},  // English
        {0x0411, false},  // Japanese
        {0x0005, false},  // Czech: 5, one above
        {0x0003, false},  // Catalan: 3, one below
        {0x0444, false},  // Tatar: 0x44 has the bits of 0x04 plus more
        {0x0104, false},  // bit 8 set inside the primary language
        {0x0204, false},  // bit 9 set inside the primary language
        {0x0000, false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_chinese_ui_language(c.langid), c.chinese) << std::hex << c.langid;
}

TEST(Language, LangValueRule) {
    struct Case {
        const wchar_t* value;
        bool chinese;
    } cases[] = {
        {L"zh", true}, {L"zh-TW", true}, {L"zh-CN", true}, {L"zhx", true}, {L"zh_", true},
        {L"ZH", false}, {L"Zh", false}, {L"zH", false}, {L"z", false}, {L"", false},
        {L"en", false}, {L" zh", false}, {L"hz", false}, {L"chinese", false},
    };
    for (const Case& c : cases) EXPECT_EQ(lang_value_selects_chinese(c.value), c.chinese) << c.value;
}
