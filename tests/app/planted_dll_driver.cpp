// The setup's two flows as a user runs them from a Downloads folder, for tests/app/planted_dlls.sh:
// a silent install with the shortcut, and in the window the folder picker, the shortcut box,
// Install and Launch. DF_CHILD_WINEDEBUG reaches the setup's environment only; DF_SETUP_PIDS names
// a file that gets the setup's process ids, one a line in hex.
#include "folder/known_folder.h"
#include "tests/support/publish_release.h"
#include "tests/ui/setup_window.h"
#include "tests/ui/test_release.h"

#include <cstdio>

using namespace df::test;
using df::setup::from_utf8;
using df::setup::to_utf8;

namespace {

struct Published {
    TestServer server;
    bool published = false;
    Published() {
        if (!server.available()) return;
        ReleaseSpec release;
        release.files = {{"duskfern-overlay.exe", "", sample_app(), std::nullopt},
                         {"res/pack.bin", pattern_bytes(70000), {}, std::string("pack.bin")}};
        published = publish_release(server.root(), server.http_base(), release);
    }
};

// The server's sources plus the Wine settings meant for the setup alone.
std::wstring child_env(const TestServer& server) {
    std::wstring out = server_sources(server);
    if (std::string v = env("DF_CHILD_WINEDEBUG"); !v.empty()) out += L"\nWINEDEBUG=" + from_utf8(v);
    return out;
}

void note_pid(unsigned long pid) {
    std::wstring file = windows_path(env("DF_SETUP_PIDS"));
    std::string line = read_file(file);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04lx\n", pid);
    write_file(file, line + hex);
}

std::wstring desktop_link() { return df::setup::known_folder_path(FOLDERID_Desktop) + L"\\duskfern.lnk"; }

}  // namespace

TEST(PlantedDlls, SilentInstallWithShortcut) {
    Published p;
    ASSERT_TRUE(p.published);
    std::wstring scratch = scratch_folder("planted-silent");
    std::wstring dir = scratch + L"\\app", log = scratch + L"\\setup.log";
    ::DeleteFileW(desktop_link().c_str());
    ChildProcess setup;
    ASSERT_TRUE(setup.start(L"\"" + setup_exe() + L"\" --silent --shortcut --dir \"" + dir + L"\" --log \"" + log + L"\"",
                            L"TEMP=" + scratch + L"\nTMP=" + scratch + L"\n" + child_env(p.server)));
    note_pid(setup.pid());
    EXPECT_EQ(setup.wait(60000), std::optional<unsigned long>(0)) << read_file(log);
    EXPECT_TRUE(file_exists(dir + L"\\res\\pack.bin"));
    EXPECT_TRUE(file_exists(desktop_link())) << read_file(log);
    ::DeleteFileW(desktop_link().c_str());
}

TEST(PlantedDlls, WindowPickerShortcutInstallLaunch) {
    Published p;
    ASSERT_TRUE(p.published);
    std::wstring picked = scratch_folder("planted-window-target");
    ::DeleteFileW(desktop_link().c_str());
    SetupWindow w("planted-window", L"--lang en --dir unchanged", child_env(p.server));
    ASSERT_NE(w.window, nullptr);
    note_pid(w.process.pid());

    click(w.item(ID_BROWSE));
    HWND picker = wait_for_process_window(L"#32770", w.process.pid(), 30000);
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(wait_until([&] { return control(picker, 1152) != nullptr; }, 10000));
    set_text_of(control(picker, 1152), picked);
    click(control(picker, IDOK));
    ASSERT_TRUE(wait_until([&] { return w.text(ID_FOLDER) == picked; }, 10000)) << to_utf8(w.text(ID_FOLDER));
    ::SendMessageW(w.item(ID_SHORTCUT), BM_SETCHECK, BST_CHECKED, 0);

    click(w.item(ID_INSTALL));
    ASSERT_TRUE(w.wait_main_button(L"Launch duskfern")) << w.log();
    EXPECT_TRUE(file_exists(desktop_link())) << w.log();
    click(w.item(ID_INSTALL));
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_TRUE(wait_until([&] { return file_exists(picked + L"\\overlay-ran.txt"); }, 20000));
    ::DeleteFileW(desktop_link().c_str());
}
