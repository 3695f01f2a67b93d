#pragma once
// Driving another process's windows as a person would: finding them, reading and writing
// their controls, clicking, typing, and photographing the screen. Windows test executables
// only; the windows need an X server (the tests run inside xvfb-run).
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace df::test {

// Calls done every 20 ms until it answers true or timeout_ms have passed; its last answer.
bool wait_until(const std::function<bool()>& done, unsigned long timeout_ms);

// A visible top-level window of class_name that belongs to process pid, or null.
HWND find_process_window(const wchar_t* class_name, unsigned long pid);
// The same, waiting up to timeout_ms for it to appear.
HWND wait_for_process_window(const wchar_t* class_name, unsigned long pid, unsigned long timeout_ms);

// The window's text through WM_GETTEXT (empty when it does not answer within 5 s).
std::wstring text_of(HWND window);
// Replaces the window's text through WM_SETTEXT.
void set_text_of(HWND window, const std::wstring& text);
std::wstring class_of(HWND window);
// The direct children of parent in Z order (their creation order unless one was moved).
std::vector<HWND> children_of(HWND parent);
// The child's rectangle in the client coordinates of its parent.
RECT rect_in_parent(HWND child);
// The client rectangle's size.
SIZE client_size(HWND window);
// The child of parent with the control id, or null.
HWND control(HWND parent, int id);

// Posts BM_CLICK to a button: the test goes on while the owner handles the click (which may
// open a modal box).
void click(HWND button);
// Posts one key press (WM_KEYDOWN, then WM_KEYUP) to the window, as the keyboard would.
void press_key(HWND window, UINT virtual_key);
// The window that has the keyboard focus in the thread that owns window, or null.
HWND focus_of(HWND window);

// The screen's horizontal DPI (LOGPIXELSX of the screen), as the setup reads it.
int screen_dpi();

// Saves a PNG of the X screen (ImageMagick import, run as a Unix program) to the Unix path
// png, cut to the rectangle (screen coordinates) when it is not empty; true once it exists.
bool save_screenshot(const std::string& png, const RECT& crop);

}  // namespace df::test
