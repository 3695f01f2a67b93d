// Whole installs through the setup window against the loopback release server: progress,
// success and Launch, Cancel and Retry, closing while a job runs, and the end of the message
// loop with a job still running.
#include "tests/support/publish_release.h"
#include "tests/ui/setup_window.h"
#include "tests/ui/test_release.h"

using namespace df::test;
using df::setup::from_utf8;
using df::setup::to_utf8;

namespace {

constexpr std::size_t BIG = 3u << 20;  // 3 MiB: a few seconds at the slow rates below

// The server with a release of the sample application and one big data file.
struct Published {
    TestServer server;
    std::string big = pattern_bytes(BIG);
    bool published = false;
    // second_big: a second big file (big2.bin), slowed alike, so two transfers are in flight.
    explicit Published(bool second_big = false) {
        if (!server.available()) return;
        df::test::ReleaseSpec release;
        release.tag = "v1.4.0";
        release.files = {{"duskfern-overlay.exe", "", sample_app(), std::nullopt},
                      {"bin/big.bin", big, {}, std::string("big.bin")}};
        if (second_big) release.files.push_back({"bin/big2.bin", big, {}, std::string("big2.bin")});
        server.clear_faults();
        published = df::test::publish_release(server.root(), server.http_base(), release);
    }
    bool ready() const { return server.available() && published; }
    // Slows the big files' transfers on both sources to bytes_per_second.
    void slow(std::size_t bytes_per_second) {
        std::string rate = "{\"rate\": " + std::to_string(bytes_per_second) + "}";
        std::string table;
        for (const char* name : {"big.bin", "big2.bin"}) {
            table += std::string(table.empty() ? "{" : ", ") + "\"/v1.4.0/files/" + name + "\": " + rate +
                     ", \"/gh/download/v1.4.0/" + name + "\": " + rate;
        }
        server.set_faults(table + "}");
    }
};

// A setup window for an install into a fresh folder, the shortcut box cleared (the desktop of
// the test prefix stays clean).
struct InstallWindow : SetupWindow {
    std::wstring target;
    InstallWindow(const std::string& name, const std::wstring& env, const std::wstring& lang = L"en",
                  const std::wstring& more_args = L"")
        : SetupWindow(name, L"--lang " + lang + L" --dir \"" + scratch_folder(name + "-target") + L"\\app\" " + more_args,
                      env) {
        target = text(ID_FOLDER);
        ::SendMessageW(item(ID_SHORTCUT), BM_SETCHECK, BST_UNCHECKED, 0);
    }
    std::wstring file(const std::wstring& rel) const { return target + L"\\" + rel; }
    bool downloading() const { return status().starts_with(L"Downloading "); }
};

std::string last_line(const std::string& log) {
    std::vector<std::string> lines = log_messages(log);
    return lines.empty() ? std::string() : lines.back();
}

}  // namespace

TEST(SetupInstall, ProgressThenSuccessThenLaunch) {
    Published p;
    ASSERT_TRUE(p.ready());
    p.slow(1u << 20);
    InstallWindow w("inst-full", server_sources(p.server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));

    // While it runs: inputs and the main button disabled, Cancel enabled, the bar moving.
    ASSERT_TRUE(wait_until([&] { return w.downloading() && w.bar() > 0; }, 30000)) << w.log();
    EXPECT_FALSE(w.enabled(ID_FOLDER));
    EXPECT_FALSE(w.enabled(ID_BROWSE));
    EXPECT_FALSE(w.enabled(ID_SHORTCUT));
    EXPECT_FALSE(w.enabled(ID_INSTALL));
    EXPECT_TRUE(w.enabled(ID_CANCEL));
    EXPECT_EQ(focus_of(w.window), w.window) << "the window, not a button Enter would click";
    std::wstring seen = w.status();
    EXPECT_NE(seen.find(L" / 2 files \u00b7 "), std::wstring::npos) << to_utf8(seen);
    EXPECT_NE(seen.find(L" MB"), std::wstring::npos);
    int first_bar = w.bar();
    EXPECT_TRUE(wait_until([&] { return w.bar() > first_bar || w.text(ID_INSTALL) != L"Install"; }, 30000));
    // Enter while running does nothing (the main button is inactive): the install goes on.
    press_key(focus_of(w.window), VK_RETURN);

    ASSERT_TRUE(w.wait_main_button(L"Launch duskfern")) << w.log();
    EXPECT_EQ(w.status(), L"Installed v1.4.0 to " + w.target + L" (from the China mirror)");
    EXPECT_EQ(w.text(ID_CANCEL), L"Close");
    EXPECT_EQ(w.bar(), 1000);
    EXPECT_TRUE(w.enabled(ID_INSTALL));
    EXPECT_EQ(focus_of(w.window), w.item(ID_INSTALL));
    EXPECT_FALSE(w.enabled(ID_FOLDER));
    EXPECT_FALSE(w.enabled(ID_BROWSE));
    EXPECT_FALSE(w.enabled(ID_SHORTCUT));
    EXPECT_EQ(read_file(w.file(L"bin\\big.bin")), p.big);
    std::string log = w.log();
    EXPECT_NE(log.find("---- install (window) into " + to_utf8(w.target) + "\r\n"), std::string::npos);
    EXPECT_NE(log.find(" installed 1.4.0 into "), std::string::npos) << log;
    EXPECT_EQ(log.find("FAILED"), std::string::npos) << log;

    // Launch starts the installed application in its folder and closes the window.
    click(w.item(ID_INSTALL));
    EXPECT_EQ(w.exit_code(), 0u);
    // The application writes its marker into its current folder: the install folder.
    std::wstring marker = w.file(L"overlay-ran.txt");
    ASSERT_TRUE(wait_until([&] { return file_exists(marker); }, 20000));
    EXPECT_EQ(read_file(marker), "duskfern-overlay ran\r\n");
}

TEST(SetupInstall, CancelKeepsThePartsAndRetryResumes) {
    Published p(true);
    ASSERT_TRUE(p.ready());
    p.slow(256u << 10);
    // The window ignores a bad --connections and fetches its default number of files at once.
    InstallWindow w("inst-cancel", server_sources(p.server), L"en", L"--connections 0");
    ASSERT_NE(w.window, nullptr);
    // The shell's word that the taskbar button exists (Wine's shell sends none): the button then
    // follows the run through its cancel and retry.
    ::SendMessageW(w.window, ::RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
    click(w.item(ID_INSTALL));
    const std::wstring parts[] = {w.file(L"bin\\big.bin.part"), w.file(L"bin\\big2.bin.part")};
    auto all_started = [&] {
        for (const auto& part : parts) {
            if (file_size(part).value_or(0) == 0) return false;
        }
        return w.bar() > 0;
    };
    ASSERT_TRUE(wait_until(all_started, 30000)) << w.log();  // both transfers in flight

    click(w.item(ID_CANCEL));  // asks the job to stop; the window stays
    ASSERT_TRUE(w.wait_main_button(L"Retry", 30000)) << w.log();
    EXPECT_TRUE(w.process.running());
    EXPECT_EQ(w.status(), L"Cancelled. Run setup again to resume.");
    EXPECT_EQ(w.text(ID_CANCEL), L"Cancel");
    int kept_bar = w.bar();
    EXPECT_GT(kept_bar, 0);  // the bar stays where it was
    EXPECT_LT(kept_bar, 1000);
    for (int id : {ID_FOLDER, ID_BROWSE, ID_SHORTCUT, ID_INSTALL, ID_CANCEL}) EXPECT_TRUE(w.enabled(id)) << id;
    for (const auto& part : parts) {
        std::uint64_t kept = file_size(part).value_or(0);
        EXPECT_GT(kept, 0u) << to_utf8(part);
        EXPECT_LT(kept, BIG) << to_utf8(part);
    }
    EXPECT_FALSE(file_exists(w.file(L"bin\\big.bin")));
    EXPECT_FALSE(file_exists(w.file(L"bin\\big2.bin")));
    EXPECT_EQ(last_line(w.log()), "FAILED cancelled");

    // Retry: a new job that resumes both part files instead of starting them again.
    p.server.clear_faults();
    p.server.clear_journal();
    click(w.item(ID_INSTALL));
    ASSERT_TRUE(w.wait_main_button(L"Launch duskfern")) << w.log();
    EXPECT_EQ(read_file(w.file(L"bin\\big.bin")), p.big);
    EXPECT_EQ(read_file(w.file(L"bin\\big2.bin")), p.big);
    for (const auto& part : parts) EXPECT_FALSE(file_exists(part));
    for (const char* name : {"/big.bin", "/big2.bin"}) {
        bool resumed = false;
        for (const auto& r : p.server.journal()) {
            if (r.path.ends_with(name) && r.range && *r.range != "bytes=0-") resumed = true;
        }
        EXPECT_TRUE(resumed) << "no Range request for the kept part of " << name;
    }
    EXPECT_EQ(count_of(w.log(), "---- install (window) into "), 2u);
    click(w.item(ID_CANCEL));  // Close
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupInstall, CloseWhileRunningAsksFirst) {
    Published p;
    ASSERT_TRUE(p.ready());
    p.slow(128u << 10);
    InstallWindow w("inst-close", server_sources(p.server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    std::wstring part = w.file(L"bin\\big.bin.part");
    ASSERT_TRUE(wait_until([&] { return file_size(part).value_or(0) > 0; }, 30000)) << w.log();

    // No: the question goes away and the install goes on.
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    HWND box = wait_for_process_window(L"#32770", w.process.pid(), 10000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text_of(box), L"duskfern setup");
    EXPECT_EQ(::GetWindow(box, GW_OWNER), w.window);
    bool asks = false;
    for (HWND c : children_of(box)) asks = asks || text_of(c) == L"Stop the installation?";
    EXPECT_TRUE(asks);
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);  // a second close while asking opens no second box
    click(control(box, IDNO));
    ASSERT_TRUE(wait_until([&] { return !::IsWindow(box); }, 10000));
    EXPECT_EQ(find_process_window(L"#32770", w.process.pid()), nullptr);
    std::uint64_t before = file_size(part).value_or(0);
    EXPECT_TRUE(wait_until([&] { return file_size(part).value_or(0) > before; }, 10000)) << "the job stopped";
    EXPECT_TRUE(w.process.running());
    EXPECT_FALSE(w.enabled(ID_INSTALL));

    // Yes: the job is stopped, its thread joined, the window closed, the part kept.
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    box = wait_for_process_window(L"#32770", w.process.pid(), 10000);
    ASSERT_NE(box, nullptr);
    click(control(box, IDYES));
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_EQ(last_line(w.log()), "FAILED cancelled");
    EXPECT_GT(file_size(part).value_or(0), 0u);
}

TEST(SetupInstall, JobEndsWhileTheCloseQuestionIsOpen) {
    Published p;
    ASSERT_TRUE(p.ready());
    p.slow(2u << 20);
    InstallWindow w("inst-close-late", server_sources(p.server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    ASSERT_TRUE(wait_until([&] { return w.downloading(); }, 30000)) << w.log();
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    HWND box = wait_for_process_window(L"#32770", w.process.pid(), 10000);
    ASSERT_NE(box, nullptr);
    // The job finishes behind the question; the window shows it at once.
    ASSERT_TRUE(w.wait_main_button(L"Launch duskfern")) << w.log();
    EXPECT_TRUE(w.status().starts_with(L"Installed v1.4.0 to ")) << to_utf8(w.status());
    click(control(box, IDYES));
    EXPECT_EQ(w.exit_code(), 0u);
    std::string log = w.log();
    EXPECT_NE(log.find(" installed 1.4.0 into "), std::string::npos);
    EXPECT_EQ(log.find("FAILED"), std::string::npos) << log;
}

TEST(SetupInstall, EndOfTheMessageLoopStopsTheJob) {
    Published p;
    ASSERT_TRUE(p.ready());
    p.slow(128u << 10);
    InstallWindow w("inst-quit", server_sources(p.server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    std::wstring part = w.file(L"bin\\big.bin.part");
    ASSERT_TRUE(wait_until([&] { return file_size(part).value_or(0) > 0; }, 30000)) << w.log();
    // A quit message from outside ends the loop with the job still running.
    ::PostThreadMessageW(w.process.main_thread_id(), WM_QUIT, 0, 0);
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_EQ(last_line(w.log()), "FAILED cancelled");
}

TEST(SetupInstall, CancelAndQuitEndWithinASecondOfTheClick) {
    Published p;
    ASSERT_TRUE(p.ready());
    enum How { cancel, quit_message, session_end };
    const char* stall = R"({"stall_after": 100000, "stall_seconds": 90})";
    const char* failing = R"({"status": 500})";
    struct Case {
        const char* name;
        const char* fault;      // on the mirror's big.bin
        std::size_t requests;   // the run waits once the server has answered this many for it
        How how;
    } cases[] = {
        {"Cancel during a stalled read", stall, 1, cancel},
        {"Cancel during a retry pause", failing, 3, cancel},  // the pause after the third failure: 4 s
        {"quit message during a stalled read", stall, 1, quit_message},
        {"session end during a retry pause", failing, 3, session_end},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        p.server.set_faults(std::string(R"({"/v1.4.0/files/big.bin": )") + c.fault + "}");
        p.server.clear_journal();
        // One transfer at a time: the stalled or failing transfer is the whole file on the mirror.
        InstallWindow w(std::string("inst-stop-") + std::to_string(&c - cases), server_sources(p.server), L"en",
                        L"--connections 1");
        ASSERT_NE(w.window, nullptr);
        click(w.item(ID_INSTALL));
        const std::wstring part = w.file(L"bin\\big.bin.part");
        auto waiting = [&] {
            std::size_t n = 0;
            for (const auto& r : p.server.journal()) n += r.path == "/v1.4.0/files/big.bin";
            return n >= c.requests && (c.fault == failing || file_size(part).value_or(0) == 100000);
        };
        ASSERT_TRUE(wait_until(waiting, 30000)) << w.log();
        if (c.how == session_end) {
            DWORD_PTR answer = 0;
            ::SendMessageTimeoutW(w.window, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 5000, &answer);
            EXPECT_EQ(answer, TRUE) << "the session may end";
        }
        const ULONGLONG clicked = ::GetTickCount64();
        if (c.how == cancel) {
            click(w.item(ID_CANCEL));
            ASSERT_TRUE(w.wait_main_button(L"Retry", 10000)) << w.log();
        } else if (c.how == quit_message) {
            ::PostThreadMessageW(w.process.main_thread_id(), WM_QUIT, 0, 0);
        } else {
            ::SendNotifyMessageW(w.window, WM_ENDSESSION, TRUE, 0);
        }
        // The job's end; the process ends after it (Wine's own teardown of the windows follows).
        ASSERT_TRUE(wait_until([&] { return last_line(w.log()) == "FAILED cancelled"; }, 10000)) << w.log();
        EXPECT_LT(::GetTickCount64() - clicked, 1000u);
        if (c.how != cancel) {
            EXPECT_EQ(w.exit_code(10000), 0u);
        }
        if (c.fault == stall) {
            EXPECT_EQ(file_size(part), std::optional<std::uint64_t>(100000)) << "kept";
        }
        if (c.how == cancel) {
            click(w.item(ID_CANCEL));  // Close
            EXPECT_EQ(w.exit_code(), 0u);
        }
    }
}

TEST(SetupInstall, ChineseSuccessFromGitHub) {
    Published p;
    ASSERT_TRUE(p.ready());
    InstallWindow w("inst-zh", github_only_sources(p.server), L"zh");
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    ASSERT_TRUE(w.wait_main_button(L"\u542f\u52a8 duskfern")) << w.log();
    EXPECT_EQ(w.status(), L"\u5df2\u5b89\u88c5 v1.4.0 \u5230 " + w.target + L"\uff08\u6765\u81ea GitHub\uff09");
    EXPECT_EQ(w.text(ID_CANCEL), L"\u5173\u95ed");
    // Close after success closes without a question.
    press_key(w.item(ID_INSTALL), VK_ESCAPE);
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupInstall, EscWhileRunningCancels) {
    Published p;
    ASSERT_TRUE(p.ready());
    p.slow(256u << 10);
    InstallWindow w("inst-esc", server_sources(p.server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    ASSERT_TRUE(wait_until([&] { return w.downloading(); }, 30000)) << w.log();
    press_key(focus_of(w.window), VK_ESCAPE);  // the second button: stop the job, keep the window
    ASSERT_TRUE(w.wait_main_button(L"Retry", 30000)) << w.log();
    EXPECT_EQ(w.status(), L"Cancelled. Run setup again to resume.");
    EXPECT_TRUE(w.process.running());
    press_key(focus_of(w.window), VK_ESCAPE);  // idle now: closes
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupInstall, LaunchWithoutTheApplicationStillCloses) {
    TestServer server;
    ASSERT_TRUE(server.available());
    df::test::ReleaseSpec release;
    release.tag = "v2.0.0";
    release.files = {{"bin/core.bin", "core", {}, std::string("core.bin")}};
    server.clear_faults();
    ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
    InstallWindow w("inst-noapp", server_sources(server));
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_INSTALL));
    ASSERT_TRUE(w.wait_main_button(L"Launch duskfern")) << w.log();
    EXPECT_EQ(w.status(), L"Installed v2.0.0 to " + w.target + L" (from the China mirror)");
    press_key(w.item(ID_INSTALL), VK_RETURN);  // Enter is the main button: Launch
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_FALSE(file_exists(w.file(L"duskfern-overlay.exe")));
}
