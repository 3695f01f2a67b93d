// The proxy sign-in dialog: a small window of the setup's own with the main window's font and
// DPI scaling, owned by the main window, which stays disabled while it is open.
#include "ui/proxy_dialog.h"

#include "app/log.h"
#include "net/cancel.h"
#include "net/proxy_login.h"
#include "ui/format.h"
#include "ui/text.h"
#include "ui/window_data.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace df::setup {
namespace {

constexpr wchar_t DIALOG_CLASS[] = L"duskfern.proxy";
constexpr DWORD DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU;

// One question at a time from a transfer thread to the window thread. prompt_mutex guards every
// field; prompt_cv wakes the asking thread on an answer (its wait also looks at its stop flag).
struct Prompt {
    bool waiting = false;   // a thread waits for an answer
    bool answered = false;  // the dialog was answered (OK or Cancel)
    bool given = false;     // OK: credentials holds the answer
    std::uint64_t serial = 0;  // +1 per question
    ProxyQuestion question;
    ProxyCredentials credentials;
};
std::mutex prompt_mutex;
std::condition_variable prompt_cv;
Prompt prompt;

HWND dialog = nullptr;  // window thread only
HWND dialog_user = nullptr;
HWND dialog_password = nullptr;
std::uint64_t dialog_serial = 0;  // the question the open dialog shows

// The text of an edit control into out; the read buffer is wiped.
void read_secret(HWND edit, std::wstring& out) {
    wchar_t buffer[512];
    int n = ::GetWindowTextW(edit, buffer, 512);
    out.assign(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    ::SecureZeroMemory(buffer, sizeof buffer);
}

// What the dialog says: who asks (or that the last answer was refused), and whether the password
// would go unencrypted.
std::wstring question_text(const ProxyQuestion& q) {
    std::wstring text;
    if (q.attempt > 1) {
        text = ui_text("proxy_again");
    } else if (q.proxy.empty()) {
        text = ui_text("proxy_ask");
    } else {
        const std::wstring name = from_utf8(q.proxy);
        text = format_text(ui_text("proxy_ask_named"), {name});
    }
    if (q.unencrypted()) text += std::wstring(L"\r\n") + ui_text("proxy_unencrypted");
    return text;
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

bool ask_proxy_in_window(HWND window, const ProxyQuestion& question, ProxyCredentials& out,
                         const std::atomic<bool>* cancel) {
    std::unique_lock<std::mutex> lock(prompt_mutex);
    prompt.waiting = true;
    prompt.answered = false;
    prompt.given = false;
    prompt.question = question;
    ++prompt.serial;
    ::PostMessageW(window, msg_ask_proxy, 0, 0);
    // cancel may be set by any thread, at any time (a cancel passed on, another file's failure),
    // without a wake: the wait looks at it.
    const bool answered = wait_unless_cancelled(prompt_cv, lock, cancel, [] { return prompt.answered; });
    const bool given = answered && prompt.given && !is_set(cancel);
    if (given) {
        out.user.swap(prompt.credentials.user);
        out.password.swap(prompt.credentials.password);
    }
    prompt.credentials.wipe();
    prompt.waiting = false;
    // A question withdrawn unanswered: its dialog closes.
    if (!answered) ::PostMessageW(window, msg_withdraw_proxy, 0, 0);
    return given;
}

void wake_proxy_prompt() {
    // Taking the lock orders the wake after the waiter's check of the flag.
    { std::lock_guard<std::mutex> lock(prompt_mutex); }
    prompt_cv.notify_all();
}

void withdraw_proxy_dialog() {
    bool current = false;
    {
        std::lock_guard<std::mutex> lock(prompt_mutex);
        current = prompt.waiting && !prompt.answered && prompt.serial == dialog_serial;
    }
    if (!current) close_proxy_dialog();
}

HWND proxy_dialog() { return dialog; }

void open_proxy_dialog() {
    ProxyQuestion question;
    std::uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(prompt_mutex);
        if (!prompt.waiting || prompt.answered) return;
        question = prompt.question;
        serial = prompt.serial;
    }
    if (dialog && dialog_serial == serial) return;
    close_proxy_dialog();  // an older question's, withdrawn
    dialog_serial = serial;
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
    RECT rect{0, 0, scaled(360), scaled(212)};
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
    make_child(dialog, L"STATIC", question_text(question).c_str(), SS_LEFT, 16, 12, 328, 52, id_proxy_text);
    make_child(dialog, L"STATIC", ui_text("proxy_user"), SS_LEFT, 16, 68, 328, 18, 0);
    dialog_user =
        make_child(dialog, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 16, 86, 328, 24, id_proxy_user);
    make_child(dialog, L"STATIC", ui_text("proxy_password"), SS_LEFT, 16, 118, 328, 18, 0);
    dialog_password = make_child(dialog, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, 16,
                                 136, 328, 24, id_proxy_password);
    make_child(dialog, L"BUTTON", ui_text("ok"), WS_TABSTOP | BS_DEFPUSHBUTTON, 152, 174, 92, 28, IDOK);
    make_child(dialog, L"BUTTON", ui_text("cancel"), WS_TABSTOP | BS_PUSHBUTTON, 252, 174, 92, 28, IDCANCEL);
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
