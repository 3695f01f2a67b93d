// The proxy sign-in dialog of the setup window, driven through its controls against the
// loopback proxy with Basic: right credentials, wrong then right, wrong twice, Cancel; the end of
// the message loop while the dialog waits; and a question of a transfer thread that Close, or
// another file's failure, withdraws.
#include "net/http.h"
#include "net/proxy.h"
#include "tests/support/publish_release.h"
#include "tests/support/test_proxy.h"
#include "tests/ui/setup_window.h"
#include "tests/ui/test_release.h"

#include <thread>

using namespace df::test;
using df::setup::from_utf8;
using df::setup::to_utf8;

namespace {

constexpr int ID_PROXY_TEXT = 201, ID_PROXY_USER = 202, ID_PROXY_PASSWORD = 203;
const std::string PASSWORD = "Wm4-dialog-secret-2Qz";

// The dialog of process pid once it is open, or null.
HWND wait_for_dialog(unsigned long pid) { return wait_for_process_window(L"duskfern.proxy", pid, 30000); }


}  // namespace

TEST(ProxyDialog, AnswersThroughTheDialog) {
    TestServer server;
    TestProxy proxy;
    ASSERT_TRUE(server.available() && proxy.available());
    df::test::ReleaseSpec release;
    release.files = {{"duskfern-overlay.exe", "", sample_app(), std::nullopt},
                     {"bin/a.dll", pattern_bytes(70000), {}, std::nullopt},
                     {"bin/b.dll", pattern_bytes(5000), {}, std::nullopt}};
    ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
    proxy.require_basic("ann", PASSWORD);

    // One answer per dialog: the password typed (nullptr: Cancel), and the dialog's text.
    struct Answer {
        const char* password;
        const wchar_t* prompt;
    };
    // The proxy named as --proxy gives it; Basic goes unencrypted.
    const std::wstring unencrypted = L"\r\nThe password would be sent unencrypted.";
    const std::wstring ask_text =
        L"The proxy server " + from_utf8(proxy.address()) + L" asks for a user name and password." + unencrypted;
    const std::wstring again_text = L"The proxy server refused this user name and password. Try again." + unencrypted;
    const wchar_t* ask = ask_text.c_str();
    const wchar_t* again = again_text.c_str();
    struct Case {
        const char* name;
        std::vector<Answer> answers;
        const wchar_t* main_button;  // after the run
        std::wstring status;
    } cases[] = {
        {"right", {{PASSWORD.c_str(), ask}}, L"Launch duskfern", L""},
        {"wrong then right", {{"wrong", ask}, {PASSWORD.c_str(), again}}, L"Launch duskfern", L""},
        {"wrong twice", {{"wrong", ask}, {"wrong again", again}}, L"Retry",
         L"Setup failed: " + from_utf8(df::setup::PROXY_REFUSED)},
        {"cancel", {{nullptr, ask}}, L"Retry", L"Cancelled. Run setup again to resume."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        proxy.clear_journal();
        std::wstring target = scratch_folder(std::string("proxy-dialog-target-") + c.name) + L"\\app";
        SetupWindow w(std::string("proxy-dialog-") + c.name,
                      L"--lang en --proxy " + from_utf8(proxy.address()) + L" --dir \"" + target + L"\"",
                      server_sources(server));
        ASSERT_NE(w.window, nullptr);
        ::SendMessageW(w.item(ID_SHORTCUT), BM_SETCHECK, BST_UNCHECKED, 0);
        click(w.item(ID_INSTALL));
        for (const Answer& a : c.answers) {
            HWND d = wait_for_dialog(w.process.pid());
            ASSERT_NE(d, nullptr) << w.log();
            EXPECT_EQ(text_of(d), L"Proxy sign-in");
            EXPECT_EQ(text_of(control(d, ID_PROXY_TEXT)), a.prompt);
            EXPECT_EQ(text_of(control(d, IDOK)), L"OK");
            EXPECT_EQ(text_of(control(d, IDCANCEL)), L"Cancel");
            const int dpi = screen_dpi();
            SIZE size = client_size(d);
            EXPECT_EQ(size.cx, ::MulDiv(360, dpi, 96));
            EXPECT_EQ(size.cy, ::MulDiv(212, dpi, 96));
            EXPECT_FALSE(::IsWindowEnabled(w.window)) << "the main window waits for the dialog";
            if (a.password) {
                set_text_of(control(d, ID_PROXY_USER), L"ann");
                set_text_of(control(d, ID_PROXY_PASSWORD), from_utf8(a.password));
                click(control(d, IDOK));
            } else {
                click(control(d, IDCANCEL));
            }
            ASSERT_TRUE(wait_until([&] { return !::IsWindow(d); }, 10000));
        }
        // No further dialog: working credentials serve every later request, refused ones end it.
        bool asked_again = false;
        ASSERT_TRUE(wait_until(
            [&] {
                asked_again = asked_again || find_process_window(L"duskfern.proxy", w.process.pid()) != nullptr;
                return w.text(ID_INSTALL) == c.main_button;
            },
            60000))
            << w.log();
        EXPECT_FALSE(asked_again);
        EXPECT_TRUE(::IsWindowEnabled(w.window));
        if (!c.status.empty()) {
            EXPECT_EQ(w.status(), c.status);
        }
        if (std::wstring(c.main_button) == L"Launch duskfern") {
            EXPECT_EQ(read_file(target + L"\\bin\\a.dll"), pattern_bytes(70000));
            for (const auto& r : proxy.journal()) {
                EXPECT_TRUE(r.auth == "right" || r.status == 407) << r.target;
            }
        }
        std::string log = w.log();
        EXPECT_EQ(log.find(PASSWORD), std::string::npos);
        click(w.item(ID_CANCEL));
        EXPECT_EQ(w.exit_code(), 0u);
        EXPECT_TRUE(files_holding(w.scratch, PASSWORD).empty());
        EXPECT_TRUE(files_holding(target, PASSWORD).empty());
    }
    proxy.open_to_all();
}

TEST(ProxyDialog, QuitWhileTheDialogWaitsEndsTheRun) {
    TestServer server;
    TestProxy proxy;
    ASSERT_TRUE(server.available() && proxy.available());
    df::test::ReleaseSpec release;
    release.files = {{"duskfern-overlay.exe", "", sample_app(), std::nullopt}};
    ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
    proxy.require_basic("ann", PASSWORD);
    SetupWindow w("proxy-dialog-quit", L"--lang zh --proxy " + from_utf8(proxy.address()), server_sources(server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    HWND d = wait_for_dialog(w.process.pid());
    ASSERT_NE(d, nullptr) << w.log();
    EXPECT_EQ(text_of(d), L"\u4EE3\u7406\u670D\u52A1\u5668\u767B\u5F55");  // the Chinese title
    // A quit message from outside ends the loop: the job's wait for the dialog ends with it.
    ::PostThreadMessageW(w.process.main_thread_id(), WM_QUIT, 0, 0);
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_NE(w.log().find("FAILED cancelled"), std::string::npos) << w.log();
    proxy.open_to_all();
}

TEST(ProxyDialog, ATransferThreadsQuestionIsWithdrawnWithTheRun) {
    TestServer server;
    TestProxy proxy;
    ASSERT_TRUE(server.available() && proxy.available());
    df::test::ReleaseSpec release;
    release.files = {{"duskfern-overlay.exe", "", sample_app(), std::nullopt},
                     {"bin/a.dll", pattern_bytes(5000), {}, std::string("a.dll")},
                     {"bin/b.dll", pattern_bytes(5000), {}, std::string("b.dll")}};
    ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
    // Only b.dll needs credentials: its transfer asks, on a transfer thread.
    proxy.require_basic("ann", PASSWORD, {"/b.dll"});
    const std::string a_mirror = server.http_base() + "/v1.4.0/files/a.dll";
    const std::string a_github = server.http_base() + "/gh/download/v1.4.0/a.dll";
    struct Case {
        const char* name;
        bool close;  // else a.dll fails on both sources while the dialog is open
    } cases[] = {{"another file fails", false}, {"Close", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // a.dll's answer from the mirror (a 404) waits for the test's own request to /gate.
        server.set_faults(c.close ? "{}"
                                  : R"({"/v1.4.0/files/a.dll": {"gather": 2, "gather_seconds": 60, "status": 404},)"
                                    R"( "/gh/download/v1.4.0/a.dll": {"status": 404},)"
                                    R"( "/gate": {"gather": 2, "gather_seconds": 60, "status": 404}})");
        std::wstring target = scratch_folder(std::string("proxy-dialog-withdrawn-") + c.name) + L"\\app";
        SetupWindow w(std::string("proxy-dialog-withdrawn-") + c.name,
                      L"--lang en --connections 2 --proxy " + from_utf8(proxy.address()) + L" --dir \"" + target +
                          L"\"",
                      server_sources(server));
        ASSERT_NE(w.window, nullptr);
        ::SendMessageW(w.item(ID_SHORTCUT), BM_SETCHECK, BST_UNCHECKED, 0);
        click(w.item(ID_INSTALL));
        HWND d = wait_for_dialog(w.process.pid());
        ASSERT_NE(d, nullptr) << w.log();
        EXPECT_NE(w.log().find("the proxy " + proxy.address() +
                               " asks for a user name and password (http 407, Basic)"),
                  std::string::npos)
            << w.log();
        if (c.close) {
            ::PostMessageW(w.window, WM_CLOSE, 0, 0);
            HWND box = wait_for_process_window(L"#32770", w.process.pid(), 10000);
            ASSERT_NE(box, nullptr);
            click(control(box, IDYES));
            // From the answer on (the question box's own teardown takes Wine 2 s without a window
            // manager) the job ends, then the process (after Wine's teardown of the windows).
            ASSERT_TRUE(wait_until([&] { return !::IsWindow(box); }, 10000));
            const ULONGLONG clicked = ::GetTickCount64();
            EXPECT_TRUE(wait_until([&] { return w.log().find("FAILED cancelled") != std::string::npos; }, 10000))
                << w.log();
            EXPECT_LT(::GetTickCount64() - clicked, 1000u);
            EXPECT_EQ(w.exit_code(10000), 0u);
            continue;
        }
        std::thread gate([&] {
            df::setup::Http http;
            std::string out;
            http.get_text(server.http_base() + "/gate", out, nullptr, 8000, 1024);
        });
        EXPECT_TRUE(wait_until([&] { return !::IsWindow(d); }, 10000)) << "the dialog closes by itself";
        gate.join();
        ASSERT_TRUE(w.wait_main_button(L"Retry")) << w.log();
        EXPECT_EQ(w.status(), L"Setup failed: could not download bin/a.dll (http 404 (" + from_utf8(a_mirror) +
                                  L"); http 404 (" + from_utf8(a_github) + L"))");
        EXPECT_TRUE(::IsWindowEnabled(w.window));
        click(w.item(ID_CANCEL));
        EXPECT_EQ(w.exit_code(), 0u);
    }
    proxy.open_to_all();
}

TEST(ProxyDialog, RefusedProxyValueStartsNothing) {
    SetupWindow w("proxy-dialog-bad-value", L"--lang en --proxy 127.0.0.1:0");
    ASSERT_NE(w.window, nullptr);
    EXPECT_EQ(w.status(), L"Setup failed: bad --proxy");
    EXPECT_FALSE(w.enabled(ID_INSTALL));
    press_key(w.window, VK_RETURN);
    click(w.item(ID_CANCEL));
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_EQ(w.log().find("---- install (window)"), std::string::npos) << w.log();
}
