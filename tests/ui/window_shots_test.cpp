// Pictures of the setup window in its three states, in English and Chinese, at the screen's
// DPI: the window runs inside a Wine virtual desktop (which draws the title bar), the pictures
// land in <build>/screenshots/setup-<lang>-<state>-<dpi>.png; the running one shows the speed
// and the time left. Each state is also checked
// through the controls, so a picture never shows a state the window did not reach.
#include "folder/known_folder.h"
#include "tests/ui/setup_window.h"
#include "tests/support/publish_release.h"
#include "tests/ui/test_release.h"

using namespace df::test;
using df::setup::to_utf8;

namespace {

struct DesktopTraits {
    using type = HDESK;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseDesktop(h); }
};
using UniqueDesktop = df::setup::UniqueHandle<DesktopTraits>;

struct Found {
    HWND window = nullptr;
};

BOOL CALLBACK find_setup(HWND h, LPARAM lp) {
    if (class_of(h) != L"duskfern.setup") return TRUE;
    reinterpret_cast<Found*>(lp)->window = h;
    return FALSE;
}

// The setup started inside its own virtual desktop of the given size.
struct DesktopSetup {
    ChildProcess explorer;
    UniqueDesktop desktop;
    HWND window = nullptr;
    std::wstring log_path;

    DesktopSetup(const std::wstring& name, int width, int height, const std::wstring& args, const std::wstring& env) {
        std::wstring scratch = scratch_folder("shots");
        log_path = scratch + L"\\setup.log";
        std::wstring cmd = L"explorer.exe /desktop=" + name + L"," + std::to_wstring(width) + L"x" +
                           std::to_wstring(height) + L" \"" + setup_exe() + L"\" --log \"" +
                           log_path + L"\" " + args;
        if (!explorer.start(cmd, L"TEMP=" + scratch + L"\nTMP=" + scratch + L"\n" + env)) return;
        wait_until(
            [&] {
                if (!desktop) desktop.reset(::OpenDesktopW(name.c_str(), 0, FALSE, GENERIC_ALL));
                if (!desktop) return false;
                Found f;
                ::EnumDesktopWindows(desktop.get(), find_setup, reinterpret_cast<LPARAM>(&f));
                window = f.window;
                return window != nullptr;
            },
            30000);
    }
    std::wstring text(int id) const { return text_of(control(window, id)); }
    int bar() const { return static_cast<int>(::SendMessageW(control(window, ID_PROGRESS), PBM_GETPOS, 0, 0)); }
    // The window's outer rectangle on the X screen (the virtual desktop sits at its origin).
    RECT frame() const {
        RECT r{};
        ::GetWindowRect(window, &r);
        return r;
    }
};

struct Shots : ::testing::TestWithParam<const char*> {};

}  // namespace

TEST_P(Shots, IdleRunningFinished) {
    const std::string lang = GetParam();
    const int dpi = screen_dpi();
    if (!env("DF_EXPECT_DPI").empty()) {
        ASSERT_EQ(dpi, std::stoi(env("DF_EXPECT_DPI"))) << "the screen's DPI was not set";
    }
    TestServer server;
    ASSERT_TRUE(server.available());
    df::test::ReleaseSpec release;
    release.files = {{"duskfern-overlay.exe", "", sample_app(), std::nullopt},
                  {"bin/core.bin", pattern_bytes(6u << 20), {}, std::string("core.bin")}};
    server.clear_faults();
    ASSERT_TRUE(df::test::publish_release(server.root(), server.http_base(), release));
    server.set_faults(R"({"/v1.4.0/files/core.bin": {"rate": 1048576}})");

    std::string folder = env("DF_BINARY_DIR") + "/screenshots";
    ::CreateDirectoryW(windows_path(folder).c_str(), nullptr);
    auto shot = [&](const DesktopSetup& s, const std::string& state) {
        std::string png = folder + "/setup-" + lang + "-" + state + "-" + std::to_string(dpi) + ".png";
        EXPECT_TRUE(save_screenshot(png, s.frame())) << png;
    };

    // The default folder, as a user sees it first, emptied so that the files are downloaded.
    std::wstring target = df::setup::known_folder_path(FOLDERID_Profile) + L"\\Duskfern";
    ASSERT_TRUE(remove_tree(target));
    std::wstring name = L"dfshots-" + df::setup::from_utf8(lang) + L"-" + std::to_wstring(::GetCurrentProcessId());
    int width = ::MulDiv(640, dpi, 96), height = ::MulDiv(400, dpi, 96);
    // One transfer at a time: the server's rate is the download's.
    DesktopSetup s(name, width, height, L"--connections 1 --lang " + df::setup::from_utf8(lang),
                   server_sources(server));
    ASSERT_NE(s.window, nullptr) << "no window in the virtual desktop";
    ::Sleep(500);  // let the window paint
    shot(s, "idle");

    // Install with the shortcut box cleared, so the test prefix's desktop stays empty.
    ::SendMessageW(control(s.window, ID_SHORTCUT), BM_SETCHECK, BST_UNCHECKED, 0);
    click(control(s.window, ID_INSTALL));
    // Running, with the speed and the time left known (the server sends 1 MiB a second).
    ASSERT_TRUE(wait_until([&] { return s.text(ID_STATUS).find(L"/s \u00b7 ") != std::wstring::npos; }, 30000))
        << read_file(s.log_path);
    ::Sleep(200);
    shot(s, "running");

    std::wstring launch = lang == "zh" ? L"\u542f\u52a8 duskfern" : L"Launch duskfern";
    ASSERT_TRUE(wait_until([&] { return s.text(ID_INSTALL) == launch; }, 60000)) << read_file(s.log_path);
    ::Sleep(300);
    shot(s, "finished");

    click(control(s.window, ID_CANCEL));  // Close
    EXPECT_TRUE(wait_until([&] { return !::IsWindow(s.window); }, 20000));
    EXPECT_TRUE(s.explorer.wait(20000).has_value()) << "the virtual desktop did not end";
    EXPECT_NE(read_file(s.log_path).find(" installed 1.4.0 into " + to_utf8(target) + " "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, Shots, ::testing::Values("en", "zh"));
