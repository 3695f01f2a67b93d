// The setup window: class, controls, message loop, folder picker, and the start and stop of
// the install job's thread.
#include "ui/window.h"

#include "app/last_error.h"
#include "app/log.h"
#include "folder/folder.h"
#include "net/error_text.h"
#include "ui/format.h"
#include "ui/proxy_dialog.h"
#include "ui/taskbar.h"
#include "ui/text.h"
#include "ui/window_data.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <system_error>

namespace df::setup {

WindowData ui;

namespace {

constexpr wchar_t CLASS_NAME[] = L"duskfern.setup";
constexpr DWORD WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
static_assert(WINDOW_STYLE == 0x00CA0000);

// How long a window that quits waits for the job thread after the cancel: the job ends well
// within it; a job that does not is left behind (the process ends, the part files stay).
constexpr DWORD QUIT_WAIT_MS = 800;
constexpr UINT_PTR QUIT_TIMER = timer_progress + 1;  // a timer id of its own

HWND make_control(const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int width, int height,
                  int id) {
    return make_child(ui.main, class_name, text, style, x, y, width, height, id);
}

// The fonts from the system's message font, then the nine controls in Tab order.
void create_controls(const std::wstring& initial_folder) {
    NONCLIENTMETRICSW metrics{};
    static_assert(sizeof metrics == 504);
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = -scaled(12);
    ui.body_font.reset(::CreateFontIndirectW(&font));
    font.lfHeight = -scaled(17);
    font.lfWeight = 600;
    ui.heading_font.reset(::CreateFontIndirectW(&font));

    ui.heading = make_control(L"STATIC", ui_text("heading"), SS_LEFT, 16, 12, 440, 26, 0);
    ::SendMessageW(ui.heading, WM_SETFONT, reinterpret_cast<WPARAM>(ui.heading_font.get()), TRUE);
    ui.folder_label = make_control(L"STATIC", ui_text("folder"), SS_LEFT, 16, 48, 440, 18, 0);
    ui.folder = make_control(L"EDIT", initial_folder.c_str(), WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 16, 68, 350, 24,
                             id_folder);
    ui.browse = make_control(L"BUTTON", ui_text("browse"), WS_TABSTOP | BS_PUSHBUTTON, 374, 67, 90, 26, id_browse);
    ui.shortcut =
        make_control(L"BUTTON", ui_text("shortcut"), WS_TABSTOP | BS_AUTOCHECKBOX, 16, 100, 440, 22, id_shortcut);
    ::SendMessageW(ui.shortcut, BM_SETCHECK, BST_CHECKED, 0);
    ui.progress = make_control(PROGRESS_CLASSW, L"", 0, 16, 132, 448, 16, id_progress);
    ::SendMessageW(ui.progress, PBM_SETRANGE32, 0, 1000);
    ui.status = make_control(L"STATIC", ui_text("ready"), SS_PATHELLIPSIS, 16, 154, 448, 36, id_status);
    ui.install =
        make_control(L"BUTTON", ui_text("install"), WS_TABSTOP | BS_DEFPUSHBUTTON, 244, 196, 120, 30, id_install);
    ui.cancel = make_control(L"BUTTON", ui_text("cancel"), WS_TABSTOP | BS_PUSHBUTTON, 372, 196, 92, 30, id_cancel);
}

// The text of a window, at most 1023 units.
std::wstring window_text(HWND h) {
    wchar_t buffer[1024] = {};
    int n = ::GetWindowTextW(h, buffer, 1024);
    return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Browse: the shell's folder picker; the chosen folder (with the Duskfern subfolder when it
// holds other files) goes into the folder box. Any failure or a cancel changes nothing.
void pick_folder() {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                  reinterpret_cast<void**>(dialog.put())))) {
        return;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog.get()->GetOptions(&options);
    dialog.get()->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog.get()->SetTitle(ui_text("pick"));
    if (FAILED(dialog.get()->Show(ui.main))) return;
    ComPtr<IShellItem> item;
    if (FAILED(dialog.get()->GetResult(item.put())) || !item) return;
    UniqueCoText name;
    if (FAILED(item.get()->GetDisplayName(SIGDN_FILESYSPATH, name.put())) || !name || name.get()[0] == L'\0') return;
    // The same subfolder rule as the check that runs on Install.
    std::wstring p = normalize_folder(name.get());
    if (needs_subfolder(p, list_folder(p))) p = with_subfolder(p);
    ::SetWindowTextW(ui.folder, p.c_str());
}

// A refused start-up option, shown as a failure.
void show_refusal() {
    std::wstring reason = from_utf8(ui.refusal);
    set_status(format_text(ui_text("failed"), {reason}));
}

// The job thread's body. It touches no control: its only window call is the final post.
void job_thread_body(Job* job, HWND window, HANDLE ended) {
    HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    run_job(*job);
    if (SUCCEEDED(com)) ::CoUninitialize();
    ::SetEvent(ended);
    ::PostMessageW(window, msg_finished, 0, 0);
}

// Install and Retry: checks the folder and, when it is accepted, starts a new job on its thread.
void start_install() {
    if (!ui.refusal.empty()) return show_refusal();
    std::wstring folder = window_text(ui.folder);
    std::wstring problem = check_install_folder(folder);
    ::SetWindowTextW(ui.folder, folder.c_str());
    if (!problem.empty()) {
        set_status(problem);
        return;
    }
    if (ui.job_thread.joinable()) ui.job_thread.join();
    ui.current_job = std::make_unique<Job>();
    Job& job = *ui.current_job;
    job.dir = folder;
    job.source = Source::mirror;
    job.shortcut = ::SendMessageW(ui.shortcut, BM_GETCHECK, 0, 0) == BST_CHECKED;
    job.connections = ui.connections;
    job.on_progress = make_progress_observer(ui.main);
    job.proxy.named = ui.proxy.named;
    job.proxy.max_asks = 2;  // refused credentials: the dialog asks once more
    job.proxy.ask = [window = ui.main](const ProxyQuestion& q, ProxyCredentials& out,
                                       const std::atomic<bool>* cancel) {
        return ask_proxy_in_window(window, q, out, cancel);
    };
    begin_progress();

    apply_look(look_when_started());
    // The main button had the focus and is disabled now. The focus goes to the window itself,
    // not to the second button: Enter there would click it and stop the install. From the
    // window, Enter is IDOK (nothing while running) and Esc is IDCANCEL (asks to stop).
    ::SetFocus(ui.main);
    ::SendMessageW(ui.progress, PBM_SETPOS, 0, 0);
    log_line("---- install (window) into " + to_utf8(job.dir));
    std::string no_thread;
    ui.job_ended.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ui.job_ended) {
        no_thread = system_error_text(last_error_code());
    } else {
        try {
            ui.job_thread = std::thread(job_thread_body, &job, ui.main, ui.job_ended.get());
        } catch (const std::system_error& e) {
            no_thread = e.what();
        }
    }
    if (!no_thread.empty()) {
        // No thread, so no msg_finished: the failure is shown here, as the job would have.
        job.ok = false;
        job.cancelled = false;
        job.error = "could not start the install: " + no_thread;
        log_line("FAILED " + job.error);
        show_result();
    }
}

void request_cancel() {
    if (ui.current_job) ui.current_job->cancel.exchange(true);
    wake_proxy_prompt();  // a job thread waiting for the proxy dialog stops waiting
}

// The process is quitting: a job still running is cancelled and waited for, up to wait_ms. A job
// that has not ended by then is left to the end of the process, which comes at once.
void stop_job_for_quit(DWORD wait_ms) {
    if (!ui.job_thread.joinable()) return;
    request_cancel();
    if (::WaitForSingleObject(ui.job_ended.get(), wait_ms) != WAIT_OBJECT_0) {
        log_line("the install did not stop in time: the setup ends without waiting for it");
        ::ExitProcess(0);
    }
    ui.job_thread.join();
}

void on_close() {
    if (ui.closing) return;
    if (close_action(ui.ui_state) == CloseAction::ask_first) {
        // A second close while the question is open (a posted WM_CLOSE) asks nothing more.
        if (ui.asking_to_close) return;
        ui.asking_to_close = true;
        int answer = ::MessageBoxW(ui.main, ui_text("busy_quit"), ui_text("title"), MB_YESNO | MB_ICONQUESTION);
        ui.asking_to_close = false;
        if (answer != IDYES) return;
        // The job may have ended while the question was open (show_result joined it then).
        if (ui.job_thread.joinable()) {
            // The window keeps answering until the job thread reports its end (msg_finished),
            // which the cancel brings within QUIT_WAIT_MS; the timer ends the wait after that.
            ui.closing = true;
            request_cancel();
            ::SetTimer(ui.main, QUIT_TIMER, QUIT_WAIT_MS, nullptr);
            return;
        }
    }
    ::DestroyWindow(ui.main);
}

LRESULT on_command(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (LOWORD(wparam)) {
        case IDOK:
        case id_install:
            switch (main_action(ui.ui_state)) {
                case MainAction::start_install: start_install(); break;
                case MainAction::launch_and_close:
                    if (ui.current_job) launch_app(*ui.current_job);
                    ::DestroyWindow(hwnd);
                    break;
                case MainAction::nothing: break;
            }
            return 0;
        case IDCANCEL:
        case id_cancel:
            if (second_action(ui.ui_state) == SecondAction::request_cancel) {
                request_cancel();
            } else {
                ::DestroyWindow(hwnd);
            }
            return 0;
        case id_browse: pick_folder(); return 0;
        default: return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (is_taskbar_button_message(msg)) {
        on_taskbar_button_created(hwnd);
        return 0;
    }
    switch (msg) {
        case WM_CTLCOLORSTATIC: return static_colors(reinterpret_cast<HDC>(wparam));
        case WM_COMMAND: return on_command(hwnd, msg, wparam, lparam);
        case WM_CLOSE: on_close(); return 0;
        case WM_DESTROY: ::PostQuitMessage(0); return 0;
        case WM_QUERYENDSESSION: return TRUE;
        case WM_ENDSESSION:
            // The session ends: the process may be ended any moment after this returns.
            if (wparam) {
                stop_job_for_quit(QUIT_WAIT_MS);
                ::DestroyWindow(hwnd);
            }
            return 0;
        case WM_TIMER:
            if (wparam == timer_progress) {
                show_progress();
                return 0;
            }
            if (wparam != QUIT_TIMER) return ::DefWindowProcW(hwnd, msg, wparam, lparam);
            ::KillTimer(hwnd, QUIT_TIMER);
            stop_job_for_quit(0);
            ::DestroyWindow(hwnd);
            return 0;
        case msg_progress: show_progress(); return 0;
        case msg_finished:
            close_proxy_dialog();
            show_result();
            if (ui.closing) ::DestroyWindow(hwnd);
            return 0;
        case msg_ask_proxy: open_proxy_dialog(); return 0;
        case msg_withdraw_proxy: withdraw_proxy_dialog(); return 0;
        default: return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

}  // namespace

int scaled(int v) { return ::MulDiv(v, ui.ui_dpi, 96); }

HWND make_child(HWND parent, const wchar_t* class_name, const wchar_t* text, DWORD style, int x, int y, int width,
                int height, int id) {
    HWND h = ::CreateWindowExW(0, class_name, text, WS_CHILD | WS_VISIBLE | style, scaled(x), scaled(y), scaled(width),
                               scaled(height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(ui.body_font.get()), TRUE);
    return h;
}

LRESULT static_colors(HDC dc) {
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
}

int run_window(const std::wstring& initial_folder, const ProxySettings& proxy, const std::string& refusal,
               int connections) {
    ui.connections = connections;
    ui.proxy.named = proxy.named;
    ui.refusal = refusal;
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&icc);

    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    ui.large_icon.reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                        ::GetSystemMetrics(SM_CXICON),
                                                        ::GetSystemMetrics(SM_CYICON), 0)));
    ui.small_icon.reset(static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                        ::GetSystemMetrics(SM_CXSMICON),
                                                        ::GetSystemMetrics(SM_CYSMICON), 0)));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hIcon = ui.large_icon.get();
    wc.hIconSm = ui.small_icon.get();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = CLASS_NAME;
    ::RegisterClassExW(&wc);

    {
        UniqueScreenDc screen(::GetDC(nullptr));
        ui.ui_dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
        if (ui.ui_dpi <= 0) ui.ui_dpi = 96;
    }
    RECT rect{0, 0, scaled(480), scaled(240)};
    ::AdjustWindowRect(&rect, WINDOW_STYLE, FALSE);
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    ui.main = ::CreateWindowExW(0, CLASS_NAME, ui_text("title"), WINDOW_STYLE, x, y, width, height, nullptr, nullptr,
                                instance, nullptr);
    if (!ui.main) return 1;
    prepare_taskbar(ui.main);

    create_controls(initial_folder);
    if (!ui.refusal.empty()) {
        show_refusal();
        ::EnableWindow(ui.install, FALSE);
    }
    ::ShowWindow(ui.main, SW_SHOWNORMAL);
    ::SetFocus(ui.install);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (HWND d = proxy_dialog(); d && ::IsDialogMessageW(d, &msg)) continue;
        if (!::IsDialogMessageW(ui.main, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    // The loop can end with a job still running (a quit message from outside): stop it first.
    stop_job_for_quit(QUIT_WAIT_MS);
    close_proxy_dialog();
    if (::IsWindow(ui.main)) ::DestroyWindow(ui.main);
    release_taskbar();
    ui.current_job.reset();
    ui.main = nullptr;
    return 0;
}

}  // namespace df::setup
