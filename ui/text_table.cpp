#include "ui/text.h"

namespace df::setup {

// Non-ASCII characters are written as \u escapes so that look-alikes (full-width against
// ASCII punctuation, U+2026 against three full stops) stay visible in review; the comment
// after each Chinese text shows it as it reads. Placeholders (%d, %.1f, %s) appear in the
// same order in both languages, so one argument list serves both.
const TextEntry TEXT_TABLE[TEXT_TABLE_SIZE] = {
    {"title", L"duskfern setup",
     L"duskfern \u5B89\u88C5\u7A0B\u5E8F"},  // duskfern 安装程序
    {"heading", L"Install duskfern",
     L"\u5B89\u88C5 duskfern"},  // 安装 duskfern
    {"folder", L"Install folder:",
     L"\u5B89\u88C5\u4F4D\u7F6E\uFF1A"},  // 安装位置：
    {"browse", L"Browse\u2026",
     L"\u6D4F\u89C8\u2026"},  // 浏览…
    {"shortcut", L"Create a desktop shortcut",
     L"\u521B\u5EFA\u684C\u9762\u5FEB\u6377\u65B9\u5F0F"},  // 创建桌面快捷方式
    {"install", L"Install",
     L"\u5B89\u88C5"},  // 安装
    {"retry", L"Retry",
     L"\u91CD\u8BD5"},  // 重试
    {"cancel", L"Cancel",
     L"\u53D6\u6D88"},  // 取消
    {"close", L"Close",
     L"\u5173\u95ED"},  // 关闭
    {"launch", L"Launch duskfern",
     L"\u542F\u52A8 duskfern"},  // 启动 duskfern
    {"ready", L"Downloads the latest version (about 90 MB).",
     L"\u5C06\u4E0B\u8F7D\u6700\u65B0\u7248\u672C\uFF08\u7EA6 90 MB\uFF09\u3002"},  // 将下载最新版本（约 90 MB）。
    {"checking", L"Looking for the latest version\u2026",
     L"\u6B63\u5728\u83B7\u53D6\u6700\u65B0\u7248\u672C\u2026"},  // 正在获取最新版本…
    {"manifest", L"Reading the file list\u2026",
     L"\u6B63\u5728\u8BFB\u53D6\u6587\u4EF6\u6E05\u5355\u2026"},  // 正在读取文件清单…
    {"scanning", L"Checking files already there\u2026",
     L"\u6B63\u5728\u68C0\u67E5\u5DF2\u6709\u6587\u4EF6\u2026"},  // 正在检查已有文件…
    {"files", L"Downloading %d / %d files \u00B7 %.1f / %.1f MB",
     L"\u6B63\u5728\u4E0B\u8F7D %d / %d \u4E2A\u6587\u4EF6 \u00B7 %.1f / %.1f MB"},  // 正在下载 %d / %d 个文件 · %.1f / %.1f MB
    {"files_rate", L"Downloading %d / %d files \u00B7 %.1f / %.1f MB \u00B7 %s \u00B7 %s",
     L"\u6B63\u5728\u4E0B\u8F7D %d / %d \u4E2A\u6587\u4EF6 \u00B7 %.1f / %.1f MB \u00B7 %s \u00B7 %s"},  // 正在下载 %d / %d 个文件 · %.1f / %.1f MB · %s · %s
    {"speed_kb", L"%d KB/s",
     L"%d KB/s"},
    {"speed_mb", L"%.1f MB/s",
     L"%.1f MB/s"},
    {"left_s", L"about %d s left",
     L"\u5269\u4F59\u7EA6 %d \u79D2"},  // 剩余约 %d 秒
    {"left_min", L"about %d min left",
     L"\u5269\u4F59\u7EA6 %d \u5206\u949F"},  // 剩余约 %d 分钟
    {"left_h", L"about %d h left",
     L"\u5269\u4F59\u7EA6 %d \u5C0F\u65F6"},  // 剩余约 %d 小时
    {"finishing", L"Finishing\u2026",
     L"\u6B63\u5728\u5B8C\u6210\u2026"},  // 正在完成…
    {"done", L"Installed %s to %s",
     L"\u5DF2\u5B89\u88C5 %s \u5230 %s"},  // 已安装 %s 到 %s
    {"cancelled", L"Cancelled. Run setup again to resume.",
     L"\u5DF2\u53D6\u6D88\u3002\u518D\u6B21\u8FD0\u884C\u5373\u53EF\u7EE7\u7EED\u4E0B\u8F7D\u3002"},  // 已取消。再次运行即可继续下载。
    {"failed", L"Setup failed: %s",
     L"\u5B89\u88C5\u5931\u8D25\uFF1A%s"},  // 安装失败：%s
    {"pick", L"Choose the install folder",
     L"\u9009\u62E9\u5B89\u88C5\u4F4D\u7F6E"},  // 选择安装位置
    {"from_mirror", L" (from the China mirror)",
     L"\uFF08\u6765\u81EA\u56FD\u5185\u955C\u50CF\uFF09"},  // （来自国内镜像）
    {"from_github", L" (from GitHub)",
     L"\uFF08\u6765\u81EA GitHub\uFF09"},  // （来自 GitHub）
    {"bad_empty", L"Choose a folder.",
     L"\u8BF7\u9009\u62E9\u5B89\u88C5\u4F4D\u7F6E\u3002"},  // 请选择安装位置。
    {"bad_relative", L"Use a full path such as D:\\Games\\Duskfern.",
     L"\u8BF7\u586B\u5199\u5B8C\u6574\u8DEF\u5F84\uFF0C\u4F8B\u5982 D:\\Games\\Duskfern\u3002"},  // 请填写完整路径，例如 D:\\Games\\Duskfern。
    {"bad_root", L"Pick a folder, not a whole drive.",
     L"\u8BF7\u9009\u62E9\u4E00\u4E2A\u6587\u4EF6\u5939\uFF0C\u800C\u4E0D\u662F\u6574\u4E2A\u78C1\u76D8\u3002"},  // 请选择一个文件夹，而不是整个磁盘。
    {"bad_chars", L"The folder name has characters Windows does not allow.",
     L"\u6587\u4EF6\u5939\u540D\u91CC\u6709 Windows \u4E0D\u5141\u8BB8\u7684\u5B57\u7B26\u3002"},  // 文件夹名里有 Windows 不允许的字符。
    {"bad_long", L"The path is too long; choose a shorter one.",
     L"\u8DEF\u5F84\u592A\u957F\uFF0C\u8BF7\u6362\u4E00\u4E2A\u77ED\u4E00\u4E9B\u7684\u4F4D\u7F6E\u3002"},  // 路径太长，请换一个短一些的位置。
    {"bad_system", L"Program Files and Windows folders are not writable for updates; choose a folder of your own.",
     L"Program Files \u548C Windows \u76EE\u5F55\u65E0\u6CD5\u81EA\u52A8\u66F4\u65B0\uFF0C\u8BF7\u9009\u62E9\u81EA\u5DF1\u7684\u6587\u4EF6\u5939\u3002"},  // Program Files 和 Windows 目录无法自动更新，请选择自己的文件夹。
    {"bad_write", L"This folder cannot be written to; choose another.",
     L"\u8FD9\u4E2A\u6587\u4EF6\u5939\u65E0\u6CD5\u5199\u5165\uFF0C\u8BF7\u6362\u4E00\u4E2A\u4F4D\u7F6E\u3002"},  // 这个文件夹无法写入，请换一个位置。
    {"busy_quit", L"Stop the installation?",
     L"\u8981\u505C\u6B62\u5B89\u88C5\u5417\uFF1F"},  // 要停止安装吗？
    {"proxy_title", L"Proxy sign-in",
     L"\u4EE3\u7406\u670D\u52A1\u5668\u767B\u5F55"},  // 代理服务器登录
    {"proxy_ask", L"The proxy server asks for a user name and password.",
     L"\u4EE3\u7406\u670D\u52A1\u5668\u8981\u6C42\u8F93\u5165\u7528\u6237\u540D\u548C\u5BC6\u7801\u3002"},  // 代理服务器要求输入用户名和密码。
    {"proxy_ask_named", L"The proxy server %s asks for a user name and password.",
     L"\u4EE3\u7406\u670D\u52A1\u5668 %s \u8981\u6C42\u8F93\u5165\u7528\u6237\u540D\u548C\u5BC6\u7801\u3002"},  // 代理服务器 %s 要求输入用户名和密码。
    {"proxy_unencrypted", L"The password would be sent unencrypted.",
     L"\u5BC6\u7801\u5C06\u4EE5\u672A\u52A0\u5BC6\u7684\u65B9\u5F0F\u53D1\u9001\u3002"},  // 密码将以未加密的方式发送。
    {"proxy_again", L"The proxy server refused this user name and password. Try again.",
     L"\u4EE3\u7406\u670D\u52A1\u5668\u62D2\u7EDD\u4E86\u8BE5\u7528\u6237\u540D\u548C\u5BC6\u7801\uFF0C\u8BF7\u91CD\u8BD5\u3002"},  // 代理服务器拒绝了该用户名和密码，请重试。
    {"proxy_user", L"User name:",
     L"\u7528\u6237\u540D\uFF1A"},  // 用户名：
    {"proxy_password", L"Password:",
     L"\u5BC6\u7801\uFF1A"},  // 密码：
    {"ok", L"OK",
     L"\u786E\u5B9A"},  // 确定
};

}  // namespace df::setup
