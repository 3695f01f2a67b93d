// The setup window as a person uses it: the real duskfern-setup.exe under Wine (inside
// xvfb-run), driven through its controls from this test process.
#include "tests/ui/setup_window.h"

using namespace df::test;

namespace {

struct Expected {
    const wchar_t* class_name;
    int id;
    DWORD style;  // the control's own style bits (WS_CHILD and WS_VISIBLE come on top)
    int x, y, width, height;
};

// The nine controls in creation (and Tab) order at 96 DPI.
const Expected CONTROLS[] = {
    {L"Static", 0, 0x00000000, 16, 12, 440, 26},
    {L"Static", 0, 0x00000000, 16, 48, 440, 18},
    {L"Edit", 101, 0x00810080, 16, 68, 350, 24},
    {L"Button", 102, 0x00010000, 374, 67, 90, 26},
    {L"Button", 103, 0x00010003, 16, 100, 440, 22},
    {L"msctls_progress32", 106, 0x00000000, 16, 132, 448, 16},
    {L"Static", 107, 0x00008000, 16, 154, 448, 36},
    {L"Button", 104, 0x00010001, 244, 196, 120, 30},
    {L"Button", 105, 0x00010000, 372, 196, 92, 30},
};

bool same_class(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

}  // namespace

TEST(SetupWindow, IdleWindowLayoutAndTexts) {
    SetupWindow w("win-idle", L"--lang en --dir \"D:\\Games\\Duskfern\"");
    ASSERT_TRUE(w.started);
    ASSERT_NE(w.window, nullptr) << "no window: is an X server running (xvfb-run)?";

    EXPECT_EQ(text_of(w.window), L"duskfern setup");
    LONG style = ::GetWindowLongW(w.window, GWL_STYLE);
    EXPECT_EQ(style & 0x00CF0000, 0x00CA0000) << std::hex << style;  // caption, close and minimise boxes only
    EXPECT_EQ(::GetClassLongPtrW(w.window, GCL_STYLE), 0);

    // Every length is given at 96 DPI and scaled to the screen's DPI (run at 96 and at 144).
    const int dpi = screen_dpi();
    if (!env("DF_EXPECT_DPI").empty()) {
        ASSERT_EQ(dpi, std::stoi(env("DF_EXPECT_DPI"))) << "the screen's DPI was not set";
    }
    auto scaled = [dpi](int v) { return ::MulDiv(v, dpi, 96); };
    SIZE client = client_size(w.window);
    EXPECT_EQ(client.cx, scaled(480));
    EXPECT_EQ(client.cy, scaled(240));
    if (dpi == 144) {
        EXPECT_EQ(client.cx, 720);
        EXPECT_EQ(client.cy, 360);
    }
    RECT outer{};
    ::GetWindowRect(w.window, &outer);
    RECT want{0, 0, scaled(480), scaled(240)};
    ::AdjustWindowRect(&want, 0x00CA0000, FALSE);
    EXPECT_EQ(outer.left, (::GetSystemMetrics(SM_CXSCREEN) - (want.right - want.left)) / 2);
    EXPECT_EQ(outer.top, (::GetSystemMetrics(SM_CYSCREEN) - (want.bottom - want.top)) / 2);

    std::vector<HWND> children = children_of(w.window);
    ASSERT_EQ(children.size(), std::size(CONTROLS));
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control #" << i);
        const Expected& e = CONTROLS[i];
        HWND h = children[i];
        EXPECT_TRUE(same_class(class_of(h), e.class_name)) << class_of(h);
        EXPECT_EQ(::GetDlgCtrlID(h), e.id);
        DWORD s = static_cast<DWORD>(::GetWindowLongW(h, GWL_STYLE));
        EXPECT_EQ(s & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE));
        DWORD want = e.style;
        if (e.id == 101 && !(s & WS_BORDER)) {
            // The edit control takes WS_BORDER out of its style and draws the border itself.
            want &= ~DWORD(WS_BORDER);
        }
        EXPECT_EQ(s & 0x0081FFFF, want) << std::hex << s;  // border, tab stop and the class's own bits
        RECT r = rect_in_parent(h);
        EXPECT_EQ(r.left, scaled(e.x));
        EXPECT_EQ(r.top, scaled(e.y));
        EXPECT_EQ(r.right - r.left, scaled(e.width));
        EXPECT_EQ(r.bottom - r.top, scaled(e.height));
    }

    EXPECT_EQ(text_of(children[0]), L"Install duskfern");
    EXPECT_EQ(text_of(children[1]), L"Install folder:");
    EXPECT_EQ(w.text(ID_FOLDER), L"D:\\Games\\Duskfern");  // as given, not checked yet
    EXPECT_EQ(w.text(ID_BROWSE), L"Browse\u2026");
    EXPECT_EQ(w.text(ID_SHORTCUT), L"Create a desktop shortcut");
    EXPECT_TRUE(w.checked(ID_SHORTCUT));
    EXPECT_EQ(w.bar(), 0);
    EXPECT_EQ(::SendMessageW(w.item(ID_PROGRESS), PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(::SendMessageW(w.item(ID_PROGRESS), PBM_GETRANGE, FALSE, 0), 1000);
    EXPECT_EQ(w.status(), L"Downloads the latest version (about 90 MB).");
    EXPECT_EQ(w.text(ID_INSTALL), L"Install");
    EXPECT_EQ(w.text(ID_CANCEL), L"Cancel");
    for (int id : {ID_FOLDER, ID_BROWSE, ID_SHORTCUT, ID_INSTALL, ID_CANCEL}) EXPECT_TRUE(w.enabled(id)) << id;
    EXPECT_EQ(focus_of(w.window), w.item(ID_INSTALL));

    // Tab walks the tab stops in creation order and wraps around.
    const int order[] = {ID_CANCEL, ID_FOLDER, ID_BROWSE, ID_SHORTCUT, ID_INSTALL};
    for (int id : order) {
        press_key(focus_of(w.window), VK_TAB);
        EXPECT_TRUE(wait_until([&] { return focus_of(w.window) == w.item(id); }, 5000)) << "Tab to " << id;
    }

    // Esc in the idle window is the second button: the window closes, the exit code is 0.
    press_key(focus_of(w.window), VK_ESCAPE);
    EXPECT_EQ(w.exit_code(), 0u);
    EXPECT_EQ(w.log().find("---- install"), std::string::npos);
}

TEST(SetupWindow, ChineseTexts) {
    SetupWindow w("win-zh", L"--lang zh-CN --dir \"C:\\\u6e38\u620f\\Duskfern\"");
    ASSERT_NE(w.window, nullptr);
    std::vector<HWND> children = children_of(w.window);
    ASSERT_EQ(children.size(), 9u);
    EXPECT_EQ(text_of(w.window), L"duskfern \u5b89\u88c5\u7a0b\u5e8f");
    EXPECT_EQ(text_of(children[0]), L"\u5b89\u88c5 duskfern");
    EXPECT_EQ(text_of(children[1]), L"\u5b89\u88c5\u4f4d\u7f6e\uff1a");
    EXPECT_EQ(w.text(ID_FOLDER), L"C:\\\u6e38\u620f\\Duskfern");
    EXPECT_EQ(w.text(ID_BROWSE), L"\u6d4f\u89c8\u2026");
    EXPECT_EQ(w.text(ID_SHORTCUT), L"\u521b\u5efa\u684c\u9762\u5feb\u6377\u65b9\u5f0f");
    EXPECT_EQ(w.status(), L"\u5c06\u4e0b\u8f7d\u6700\u65b0\u7248\u672c\uff08\u7ea6 90 MB\uff09\u3002");
    EXPECT_EQ(w.text(ID_INSTALL), L"\u5b89\u88c5");
    EXPECT_EQ(w.text(ID_CANCEL), L"\u53d6\u6d88");
    EXPECT_NE(w.log().find(" window ui=zh"), std::string::npos);

    // A refused folder speaks Chinese too.
    set_text_of(w.item(ID_FOLDER), L"Games");
    click(w.item(ID_INSTALL));
    EXPECT_TRUE(w.wait_status([](const std::wstring& s) {
        return s == L"\u8bf7\u586b\u5199\u5b8c\u6574\u8def\u5f84\uff0c\u4f8b\u5982 D:\\Games\\Duskfern\u3002";
    })) << w.log();
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupWindow, RefusedFolderStartsNothing) {
    SetupWindow w("win-refused", L"--lang en --dir x");
    ASSERT_NE(w.window, nullptr);
    struct Case {
        const wchar_t* typed;
        const wchar_t* box;  // the box after Install: the normalised text
        const wchar_t* status;
    } cases[] = {
        {L"   ", L"", L"Choose a folder."},
        {L"Games\\Duskfern", L"Games\\Duskfern", L"Use a full path such as D:\\Games\\Duskfern."},
        {L" \"D:/\" ", L"D:\\", L"Pick a folder, not a whole drive."},
        {L"D:\\Games\\con", L"D:\\Games\\con", L"The folder name has characters Windows does not allow."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        set_text_of(w.item(ID_FOLDER), c.typed);
        click(w.item(ID_INSTALL));
        EXPECT_TRUE(w.wait_status([&](const std::wstring& s) { return s == c.status; })) << w.log();
        EXPECT_EQ(w.text(ID_FOLDER), c.box);
        EXPECT_EQ(w.text(ID_INSTALL), L"Install");
        EXPECT_TRUE(w.enabled(ID_INSTALL));
        EXPECT_TRUE(w.enabled(ID_FOLDER));
    }
    // Enter in the folder box acts as the main button.
    set_text_of(w.item(ID_FOLDER), L"relative");
    ::SendMessageW(w.item(ID_STATUS), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    press_key(w.item(ID_FOLDER), VK_RETURN);
    EXPECT_TRUE(w.wait_status([](const std::wstring& s) { return s == L"Use a full path such as D:\\Games\\Duskfern."; }));

    std::string log = w.log();
    EXPECT_NE(log.find("folder rejected: relative Games\\Duskfern\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("---- install"), std::string::npos) << log;
    EXPECT_EQ(w.bar(), 0);
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);  // idle: closes without a question
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupWindow, FailedJobOffersRetryWithANewJob) {
    std::wstring target = scratch_folder("win-failed-target") + L"\\app";
    SetupWindow w("win-failed", L"--lang en --dir \"" + target + L"\"");
    ASSERT_NE(w.window, nullptr);
    ::SendMessageW(w.item(ID_SHORTCUT), BM_SETCHECK, BST_UNCHECKED, 0);
    click(w.item(ID_INSTALL));
    ASSERT_TRUE(w.wait_main_button(L"Retry")) << w.log();
    std::wstring status = w.status();
    EXPECT_EQ(status.rfind(L"Setup failed: ", 0), 0u) << status;
    EXPECT_GT(status.size(), 14u);
    for (int id : {ID_FOLDER, ID_BROWSE, ID_SHORTCUT, ID_INSTALL, ID_CANCEL}) EXPECT_TRUE(w.enabled(id)) << id;
    EXPECT_EQ(w.text(ID_CANCEL), L"Cancel");
    EXPECT_FALSE(w.checked(ID_SHORTCUT));  // the boxes stay as the user left them
    EXPECT_EQ(focus_of(w.window), w.item(ID_INSTALL));

    std::string log = w.log();
    std::string install_line = "---- install (window) into " + df::setup::to_utf8(target);
    EXPECT_EQ(count_of(log, install_line + "\r\n"), 1u) << log;
    EXPECT_EQ(count_of(log, " FAILED "), 1u) << log;
    EXPECT_TRUE(df::test::file_exists(target));  // the accepted folder was created

    // Retry runs a second job with its own record: a second install line and FAILED line.
    click(w.item(ID_INSTALL));
    EXPECT_TRUE(wait_until([&] { return count_of(w.log(), " FAILED ") == 2; }, 60000)) << w.log();
    EXPECT_TRUE(w.wait_main_button(L"Retry"));
    EXPECT_EQ(count_of(w.log(), install_line + "\r\n"), 2u);

    // Esc after a failure closes the window (the second button is Cancel, which closes in idle).
    press_key(w.item(ID_INSTALL), VK_ESCAPE);
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupWindow, BrowseOpensThePickerAndCancelChangesNothing) {
    SetupWindow w("win-browse", L"--lang en --dir \"C:\\keep\\me\"");
    ASSERT_NE(w.window, nullptr);
    click(w.item(ID_BROWSE));
    HWND picker = wait_for_process_window(L"#32770", w.process.pid(), 30000);
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(text_of(picker), L"Choose the install folder");
    EXPECT_EQ(::GetWindow(picker, GW_OWNER), w.window);
    ::PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(wait_until([&] { return !::IsWindow(picker); }, 10000));
    EXPECT_EQ(w.text(ID_FOLDER), L"C:\\keep\\me");
    EXPECT_EQ(w.status(), L"Downloads the latest version (about 90 MB).");
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupWindow, PickedFolderGetsTheSubfolderWhenItHoldsOtherFiles) {
    std::wstring base = scratch_folder("win-pick-target");
    std::wstring other = base + L"\\other", empty = base + L"\\empty", app = base + L"\\app";
    for (const auto& d : {other, empty, app}) ::CreateDirectoryW(d.c_str(), nullptr);
    write_file(other + L"\\notes.txt", "x");
    write_file(app + L"\\DUSKFERN-OVERLAY.EXE", "x");
    write_file(app + L"\\readme.txt", "x");
    struct Case {
        std::wstring picked, box;
    } cases[] = {
        {other, other + L"\\Duskfern"},
        {empty, empty},
        {app, app},  // already holds the application: used as it is
        {L"Z:\\", L"Z:\\Duskfern"},  // a drive root with files in it
    };
    SetupWindow w("win-pick", L"--lang en --dir unchanged");
    ASSERT_NE(w.window, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(df::setup::to_utf8(c.picked));
        click(w.item(ID_BROWSE));
        HWND picker = wait_for_process_window(L"#32770", w.process.pid(), 30000);
        ASSERT_NE(picker, nullptr);
        // The picker's own name box and its Open button.
        ASSERT_TRUE(wait_until([&] { return control(picker, 1152) != nullptr; }, 10000));
        set_text_of(control(picker, 1152), c.picked);
        click(control(picker, IDOK));
        EXPECT_TRUE(wait_until([&] { return !::IsWindow(picker); }, 10000));
        EXPECT_TRUE(wait_until([&] { return w.text(ID_FOLDER) == c.box; }, 10000)) << df::setup::to_utf8(w.text(ID_FOLDER));
    }
    // The pick is not checked: the status line still shows the start text, no job started.
    EXPECT_EQ(w.status(), L"Downloads the latest version (about 90 MB).");
    EXPECT_EQ(w.log().find("---- install"), std::string::npos);
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(w.exit_code(), 0u);
}

TEST(SetupWindow, TypedFolderWithOtherFilesShowsTheSubfolder) {
    SetupWindow w("win-extend", L"--lang en --dir x");
    ASSERT_NE(w.window, nullptr);
    // A folder that holds other files gets the Duskfern subfolder, and the box shows it.
    std::wstring busy = scratch_folder("win-extend-busy");
    write_file(busy + L"\\notes.txt", "x");
    set_text_of(w.item(ID_FOLDER), busy + L"\\");
    click(w.item(ID_INSTALL));
    EXPECT_TRUE(wait_until([&] { return w.text(ID_FOLDER) == busy + L"\\Duskfern"; }, 10000))
        << df::setup::to_utf8(w.text(ID_FOLDER));
    EXPECT_TRUE(w.wait_main_button(L"Retry"));  // the job then fails: no release source answers
    EXPECT_NE(w.log().find("---- install (window) into " + df::setup::to_utf8(busy) + "\\Duskfern\r\n"),
              std::string::npos);

    // Also when the extended folder is then refused: 175 units plus "\Duskfern" is too long.
    std::wstring deep = scratch_folder("win-extend-long");
    while (deep.size() < 175) {
        deep += L"\\" + std::wstring(std::min<std::size_t>(20, 175 - deep.size() - 1), L'd');
        ::CreateDirectoryW(deep.c_str(), nullptr);
    }
    ASSERT_EQ(deep.size(), 175u);
    write_file(deep + L"\\notes.txt", "x");
    set_text_of(w.item(ID_FOLDER), deep);
    click(w.item(ID_INSTALL));
    EXPECT_TRUE(w.wait_status([](const std::wstring& s) { return s == L"The path is too long; choose a shorter one."; }));
    EXPECT_EQ(w.text(ID_FOLDER), deep + L"\\Duskfern");
    EXPECT_EQ(count_of(w.log(), "---- install (window)"), 1u);
    ::PostMessageW(w.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(w.exit_code(), 0u);
}
