// A stand-in for the installed application: started by the setup's Launch button, it writes
// "launched.txt" (UTF-16) into its current folder: its command line, then its current folder.
#include "app/handle.h"

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t cwd[1024] = {};
    ::GetCurrentDirectoryW(1024, cwd);
    std::wstring text = std::wstring(::GetCommandLineW()) + L"\n" + cwd + L"\n";
    df::setup::UniqueFile f(::CreateFileW(L"launched.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!f) return 1;
    DWORD wrote = 0;
    ::WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &wrote, nullptr);
    return 0;
}
