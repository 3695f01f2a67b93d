// The proxy sign-in dialog: a small window of the setup's own with the main window's font and
// DPI scaling, owned by the main window, which stays disabled while it is open.
#include "ui/proxy_dialog.h"

#include "net/proxy_login.h"
#include "ui/text.h"
#include "ui/window_data.h"

#include <condition_variable>
#include <mutex>

namespace df::setup {
namespace {

constexpr wchar_t DIALOG_CLASS[] = L"duskfern.proxy";
constexpr DWORD DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU;

// One question at a time from the job thread to the window thread. prompt_mutex guards every
// field; prompt_cv wakes the job thread on an answer or a cancel.
struct Prompt {
    bool waiting = false;   // a job thread waits for an answer
    bool answered = false;  // the dialog was answered (OK or Cancel)
    bool given = false;     // OK: credentials holds the answer
    int attempt = 0;
    ProxyCredentials credentials;
};
std::mutex prompt_mutex;
std::condition_variable prompt_cv;
Prompt prompt;

HWND dialog = nullptr;  // window thread only
HWND dialog_user = nullptr;
HWND dialog_password = nullptr;

int scaled(int v) { return ::MulDiv(v, ui.ui_dpi, 96); }

HWND make_child(const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    HWND c = ::CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, scaled(x), scaled(y), scaled(w),
                               scaled(h), dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(ui.body_font.get()), TRUE);
    return c;
}

// The text of an edit control into out; the read buffer is wiped.
void read_secret(HWND edit, std::wstring& out) {
    wchar_t buffer[512];
    int n = ::GetWindowTextW(edit, buffer, 512);
    out.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    ::SecureZeroMemory(buffer, sizeof buffer);
}

// OK (given) or Cancel: hands the answer to the waiting job thread and closes the dialog.
void answer(bool given) {
    {
        std::lock_guard<std::mutex> lock(prompt_mutex);
        if (prompt.waiting && !prompt.answered) {
            prompt.answered = true;
            prompt.given = given;
            if (given) {
                read_secret(dialog_user, prompt.credentials.user);
                read_secret(dialog_password, prompt.credentials.password);
            } else if (ui.current_job) {
                ui.current_job->cancel.exchange(true);  // Cancel here ends the run as cancelled
            }
        }
    }
    prompt_cv.notify_all();
    close_proxy_dialog();
}

LRESULT CALLBACK dialog_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
        case WM_CTLCOLORSTATIC: return static_colors(reinterpret_cast<HDC>(wparam));
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK) answer(true);
            else if (LOWORD(wparam) == IDCANCEL) answer(false);
            else return ::DefWindowProcW(hwnd, msg, wparam, lparam);
            return 0;
        case WM_CLOSE: answer(false); return 0;
        default: return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

}  // namespace

bool ask_proxy_in_window(HWND window, int attempt, ProxyCredentials& out, const std::atomic<bool>* cancel) {
    std::unique_lock<std::mutex> lock(prompt_mutex);
    prompt.waiting = true;
    prompt.answered = false;
    prompt.given = false;
    prompt.attempt = attempt;
    ::PostMessageW(window, msg_ask_proxy, 0, 0);
    prompt_cv.wait(lock, [&] { return prompt.answered || (cancel && cancel->load()); });
    bool given = prompt.answered && prompt.given && !(cancel && cancel->load());
    if (given) {
        out.user.swap(prompt.credentials.user);
        out.password.swap(prompt.credentials.password);
    }
    prompt.credentials.wipe();
    prompt.waiting = false;
    return given;
}

void wake_proxy_prompt() {
    // Taking the lock orders the wake after the waiter's check of the flag.
    { std::lock_guard<std::mutex> lock(prompt_mutex); }
    prompt_cv.notify_all();
}

HWND proxy_dialog() { return dialog; }

void open_proxy_dialog() {
    int attempt = 0;
    {
        std::lock_guard<std::mutex> lock(prompt_mutex);
        if (!prompt.waiting || prompt.answered) return;
        attempt = prompt.attempt;
    }
    if (dialog) return;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = dialog_proc;
        wc.hInstance = instance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = ::GetSysColorBrush(COLOR_WINDOW);
        wc.lpszClassName = DIALOG_CLASS;
        registered = ::RegisterClassExW(&wc) != 0;
    }
    RECT rect{0, 0, scaled(360), scaled(196)};
    ::AdjustWindowRect(&rect, DIALOG_STYLE, FALSE);
    RECT owner{};
    ::GetWindowRect(ui.main, &owner);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    int x = owner.left + ((owner.right - owner.left) - width) / 2;
    int y = owner.top + ((owner.bottom - owner.top) - height) / 2;
    dialog = ::CreateWindowExW(WS_EX_DLGMODALFRAME, DIALOG_CLASS, ui_text("proxy_title"), DIALOG_STYLE, x, y, width,
                               height, ui.main, nullptr, instance, nullptr);
    if (!dialog) {
        answer(false);
        return;
    }
    make_child(L"STATIC", ui_text(attempt > 1 ? "proxy_again" : "proxy_ask"), SS_LEFT, 16, 12, 328, 36,
               id_proxy_text);
    make_child(L"STATIC", ui_text("proxy_user"), SS_LEFT, 16, 52, 328, 18, 0);
    dialog_user = make_child(L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 16, 70, 328, 24, id_proxy_user);
    make_child(L"STATIC", ui_text("proxy_password"), SS_LEFT, 16, 102, 328, 18, 0);
    dialog_password = make_child(L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 16, 120, 328,
                                 24, id_proxy_password);
    make_child(L"BUTTON", ui_text("ok"), WS_TABSTOP | BS_DEFPUSHBUTTON, 152, 158, 92, 28, IDOK);
    make_child(L"BUTTON", ui_text("cancel"), WS_TABSTOP | BS_PUSHBUTTON, 252, 158, 92, 28, IDCANCEL);
    ::EnableWindow(ui.main, FALSE);
    ::ShowWindow(dialog, SW_SHOWNORMAL);
    ::SetFocus(dialog_user);
}

void close_proxy_dialog() {
    if (!dialog) return;
    // The password box is emptied before it goes, so its text does not outlive the answer.
    ::SetWindowTextW(dialog_password, L"");
    ::EnableWindow(ui.main, TRUE);
    HWND d = dialog;
    dialog = dialog_user = dialog_password = nullptr;
    ::DestroyWindow(d);
    ::SetFocus(ui.main);
}

}  // namespace df::setup
