// Sample application for demo and test releases: when started it appends one line to
// "overlay-ran.txt" in its current folder, so a test can see that (and where) it was launched.
// With "--stay" it writes nothing and keeps running (for a minute, or until it is ended), as an
// application that an upgrade finds in use.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
    if (arguments && std::wcscmp(arguments, L"--stay") == 0) {
        ::Sleep(60000);
        return 0;
    }
    HANDLE f = ::CreateFileW(L"overlay-ran.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    const char line[] = "duskfern-overlay ran\r\n";
    DWORD written = 0;
    ::WriteFile(f, line, sizeof line - 1, &written, nullptr);
    ::CloseHandle(f);
    return 0;
}
