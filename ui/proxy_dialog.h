#pragma once
// The proxy sign-in dialog (user name, password, OK, Cancel) and the channel through which the
// job thread asks the window thread for it (Windows).
#include "net/proxy.h"

#include <windows.h>

#include <atomic>

namespace df::setup {

inline constexpr UINT msg_ask_proxy = WM_APP + 3;
inline constexpr UINT msg_withdraw_proxy = WM_APP + 4;
inline constexpr int id_proxy_text = 201;
inline constexpr int id_proxy_user = 202;
inline constexpr int id_proxy_password = 203;

// Any thread of the job: posts msg_ask_proxy to window and waits for the user's answer. False on
// Cancel (which also sets the job's cancel flag: the run ends as cancelled), and within a
// fraction of a second once cancel is set, whoever set it and when; the question is then
// withdrawn (msg_withdraw_proxy).
bool ask_proxy_in_window(HWND window, const ProxyQuestion& question, ProxyCredentials& out,
                         const std::atomic<bool>* cancel);

// Window thread, on msg_ask_proxy: opens the dialog over the disabled main window.
void open_proxy_dialog();
// Window thread, on msg_withdraw_proxy: closes the dialog unless it shows the question still
// waiting for an answer.
void withdraw_proxy_dialog();
// Window thread: closes the dialog if it is open (its question is then unanswered) and
// enables the main window again.
void close_proxy_dialog();
// Any thread, after setting the run's cancel flag: ends a job thread's wait for an answer.
void wake_proxy_prompt();
// The open dialog, or null (for the message loop's keyboard handling).
HWND proxy_dialog();

}  // namespace df::setup
