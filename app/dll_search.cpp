// The setup's import table names only KnownDLLs, which Windows always takes from the system
// folder. WinHTTP and CNG are delay-loaded (app/CMakeLists.txt): the first call of one of their
// functions loads the DLL through the delay-load helper, which asks LoadLibrary and so follows
// the search setting made here. The common controls come through the manifest (side by side).
#include "app/dll_search.h"

#include <windows.h>
#include <delayimp.h>

#include <cstring>

namespace df::setup {
namespace {

// Stand-ins for the functions of a delay-loaded DLL that cannot be loaded (or that lacks a
// function): each fails the way its real counterpart fails, so the caller reports the DLL as
// missing ("WinHTTP is not available") where the delay-load helper would raise an exception and
// end the process. x64 callers clean up their own arguments, so one stand-in fits every function.

// WinHTTP's functions fail with FALSE or a null handle and set the last error.
INT_PTR WINAPI winhttp_unavailable() {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

// CNG's functions return an NTSTATUS, where 0 would mean success: STATUS_DLL_NOT_FOUND.
INT_PTR WINAPI cng_unavailable() { return static_cast<LONG>(0xC0000135u); }

struct DelayLoaded {
    const char* dll;
    FARPROC stand_in;
};
const DelayLoaded delay_loaded[] = {{"winhttp.dll", winhttp_unavailable}, {"bcrypt.dll", cng_unavailable}};

// The delay-load helper's failure hook. A DLL that does not load gets the setup's own module in
// its place: it exports nothing, so every function then comes here again and gets its stand-in.
// The module is counted (GetModuleHandleExW), as the helper may free a module it got twice.
FARPROC WINAPI on_delay_load_failure(unsigned notice, PDelayLoadInfo info) {
    for (const DelayLoaded& d : delay_loaded) {
        if (!info || !info->szDll || _stricmp(info->szDll, d.dll) != 0) continue;
        if (notice == dliFailGetProc) return d.stand_in;
        if (notice != dliFailLoadLib) return nullptr;
        HMODULE self = nullptr;
        if (!::GetModuleHandleExW(0, nullptr, &self)) return nullptr;
        return reinterpret_cast<FARPROC>(self);
    }
    return nullptr;  // any other DLL: the helper raises its exception, as documented
}

}  // namespace

bool keep_dll_loads_in_system_folder() {
    // Looked up, not imported: a Windows without the call would not start the setup at all, and
    // so could not say why.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (!found) return false;
    auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(found));
    return set_default(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

}  // namespace df::setup

// The delay-load helper (mingw-w64's libmingwex) reads this hook (declared extern "C" in
// delayimp.h); defining it here keeps the library's empty one out of the link.
PfnDliHook __pfnDliFailureHook2 = df::setup::on_delay_load_failure;
