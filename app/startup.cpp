#include "app/startup.h"

#include "app/command_line.h"
#include "app/dll_search.h"
#include "app/handle.h"
#include "app/log.h"
#include "app/progress_log.h"
#include "app/proxy_options.h"
#include "folder/folder.h"
#include "folder/known_folder.h"
#include "job/job.h"
#include "ui/text.h"
#include "ui/window.h"

#include <shellapi.h>
#include <shlobj.h>

#include <vector>

namespace df::setup {
namespace {

std::vector<std::wstring> program_arguments() {
    int argc = 0;
    UniqueHandle<LocalMemTraits<LPWSTR*>> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    std::vector<std::wstring> args;
    if (!argv) return args;  // no option applies
    for (int i = 1; i < argc; ++i) args.emplace_back(argv.get()[i]);
    return args;
}

std::wstring default_log_path() {
    wchar_t buffer[261] = {};
    DWORD n = ::GetTempPathW(261, buffer);
    std::wstring folder = (n == 0 || n > 260) ? std::wstring(L".") : std::wstring(buffer, n);
    if (folder.back() != L'\\') folder += L'\\';
    return folder + L"duskfern-setup.log";
}

std::wstring default_folder() { return default_install_folder(known_folder_path(FOLDERID_Profile)); }

int run_silent(const Options& o) {
    if (o.source != L"mirror" && o.source != L"github") {
        log_line("bad --source");
        return 2;
    }
    std::optional<int> connections = o.connections ? connections_value(*o.connections) : DEFAULT_CONNECTIONS;
    if (!connections) {
        log_line("bad --connections");
        return 2;
    }
    std::string bad_proxy;
    ProxySettings proxy = proxy_settings(o, bad_proxy);
    if (!bad_proxy.empty()) return 2;
    std::wstring folder = o.dir ? *o.dir : default_folder();
    std::wstring problem = check_install_folder(folder);
    if (!problem.empty()) {
        log_line("folder problem: " + to_utf8(problem));
        return 2;
    }
    Job job;
    job.dir = folder;
    job.source = o.source == L"github" ? Source::github : Source::mirror;
    job.shortcut = o.shortcut;
    job.connections = *connections;
    job.proxy = std::move(proxy);
    job.on_progress = make_progress_log();
    log_line("---- install (silent) into " + to_utf8(folder));
    run_job(job);
    if (job.ok) return 0;
    return job.cancelled ? 3 : 1;
}

int run_window_flow(const Options& o) {
    std::string bad_proxy;
    ProxySettings proxy = proxy_settings(o, bad_proxy);
    // The window ignores a bad --connections, as it ignores --source.
    const int connections = o.connections ? connections_value(*o.connections).value_or(DEFAULT_CONNECTIONS)
                                          : DEFAULT_CONNECTIONS;
    return run_window(o.dir ? *o.dir : default_folder(), proxy, bad_proxy, connections);
}

// The setup stops when it cannot keep DLL loads out of its own folder: a DLL planted there
// would run inside it. Nothing else has run yet but the log and the command line (kernel32 and
// shell32, both loaded with the process).
int refuse_unsafe_dll_search(bool silent) {
    const char* problem = "this Windows cannot keep DLL loads to the system folder (SetDefaultDllDirectories); "
                          "update Windows and run the setup again";
    log_line(std::string("FAILED ") + problem);
    if (!silent) ::MessageBoxW(nullptr, from_utf8(problem).c_str(), L"duskfern setup", MB_OK | MB_ICONERROR);
    return 1;
}

}  // namespace

int run_setup() {
    // First, before anything can load a DLL by name: only from the system folder.
    const bool dll_search_safe = keep_dll_loads_in_system_folder();
    use_chinese = is_chinese_ui_language(::GetUserDefaultUILanguage());
    HRESULT com = dll_search_safe ? ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) : E_ABORT;
    set_log_path(default_log_path());

    Options o = parse_command_line(program_arguments());
    if (o.log) set_log_path(*o.log);
    if (o.lang) use_chinese = lang_value_selects_chinese(*o.lang);
    log_line(header_line(::GetCurrentProcessId(), o.silent, use_chinese));

    int code = 0;
    if (!dll_search_safe) {
        code = refuse_unsafe_dll_search(o.silent);
    } else {
        code = o.silent ? run_silent(o) : run_window_flow(o);
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return code;
}

}  // namespace df::setup
