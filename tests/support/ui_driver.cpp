#include "tests/support/ui_driver.h"

#include "app/handle.h"
#include "app/log.h"
#include "tests/support/test_support.h"

#include <cstdio>

namespace df::test {

bool wait_until(const std::function<bool()>& done, unsigned long timeout_ms) {
    ULONGLONG end = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (done()) return true;
        if (::GetTickCount64() >= end) return done();
        ::Sleep(20);
    }
}

namespace {

struct FindState {
    const wchar_t* class_name;
    DWORD pid;
    HWND found;
};

BOOL CALLBACK find_one(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<FindState*>(lp);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    if (pid != s->pid || !::IsWindowVisible(h) || class_of(h) != s->class_name) return TRUE;
    s->found = h;
    return FALSE;
}

}  // namespace

HWND find_process_window(const wchar_t* class_name, unsigned long pid) {
    FindState s{class_name, pid, nullptr};
    ::EnumWindows(find_one, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND wait_for_process_window(const wchar_t* class_name, unsigned long pid, unsigned long timeout_ms) {
    HWND h = nullptr;
    wait_until([&] { return (h = find_process_window(class_name, pid)) != nullptr; }, timeout_ms);
    return h;
}

std::wstring text_of(HWND window) {
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                               SMTO_ABORTIFHUNG, 5000, &got)) {
        return {};
    }
    text.resize(got);
    return text;
}

void set_text_of(HWND window, const std::wstring& text) {
    DWORD_PTR r = 0;
    ::SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, &r);
}

std::wstring class_of(HWND window) {
    wchar_t name[256] = {};
    int n = ::GetClassNameW(window, name, 256);
    return std::wstring(name, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::vector<HWND> children_of(HWND parent) {
    std::vector<HWND> out;
    for (HWND h = ::GetWindow(parent, GW_CHILD); h; h = ::GetWindow(h, GW_HWNDNEXT)) out.push_back(h);
    return out;
}

RECT rect_in_parent(HWND child) {
    RECT r{};
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

SIZE client_size(HWND window) {
    RECT r{};
    ::GetClientRect(window, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

HWND control(HWND parent, int id) { return ::GetDlgItem(parent, id); }

void click(HWND button) { ::PostMessageW(button, BM_CLICK, 0, 0); }

void press_key(HWND window, UINT virtual_key) {
    UINT scan = ::MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC);
    ::PostMessageW(window, WM_KEYDOWN, virtual_key, 1 | (static_cast<LPARAM>(scan) << 16));
    ::PostMessageW(window, WM_KEYUP, virtual_key, 1 | (static_cast<LPARAM>(scan) << 16) | (3ll << 30));
}

HWND focus_of(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

int screen_dpi() {
    df::setup::UniqueScreenDc dc(::GetDC(nullptr));
    return dc ? ::GetDeviceCaps(dc.get(), LOGPIXELSX) : 96;
}

bool save_screenshot(const std::string& png, const RECT& crop) {
    // Wine starts a Unix program for a Unix executable but hands back no handle to wait on,
    // so the picture is written under a temporary name and renamed when it is complete.
    std::string geometry;
    if (crop.right > crop.left && crop.bottom > crop.top) {
        char g[64];
        std::snprintf(g, sizeof g, " -crop %ldx%ld+%ld+%ld +repage", crop.right - crop.left, crop.bottom - crop.top,
                      crop.left, crop.top);
        geometry = g;
    }
    std::string tmp = png + ".tmp.png";
    std::wstring png_w = windows_path(png);
    ::DeleteFileW(png_w.c_str());
    std::string script = "import -window root" + geometry + " '" + tmp + "' && mv '" + tmp + "' '" + png + "'";
    std::wstring cmd = L"sh -c \"" + df::setup::from_utf8(script) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(L"Z:\\bin\\sh", cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    df::setup::UniqueKernel process(pi.hProcess), thread(pi.hThread);
    return wait_until([&] { return file_exists(png_w); }, 20000);
}

}  // namespace df::test
