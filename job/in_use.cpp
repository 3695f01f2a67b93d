#include "job/in_use.h"

#include "app/handle.h"
#include "app/last_error.h"
#include "app/log.h"
#include "net/error_text.h"

#include <restartmanager.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace df::setup {
namespace {

using RmStartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using RmGetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);

// The Restart Manager, loaded from System32 at run time: the setup imports only KnownDLLs,
// and rstrtmgr.dll is none.
class RestartManager {
public:
    RestartManager() : dll_(::LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        if (!dll_) return;
        start = proc<RmStartSessionFn>("RmStartSession");
        register_resources = proc<RmRegisterResourcesFn>("RmRegisterResources");
        get_list = proc<RmGetListFn>("RmGetList");
        end = proc<RmEndSessionFn>("RmEndSession");
    }
    bool usable() const { return start && register_resources && get_list && end; }

    RmStartSessionFn start = nullptr;
    RmRegisterResourcesFn register_resources = nullptr;
    RmGetListFn get_list = nullptr;
    RmEndSessionFn end = nullptr;

private:
    // The export name as a function of type F (through void*, as GetProcAddress's type is generic).
    template <class F>
    F proc(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(dll_.get(), name)));
    }
    UniqueModule dll_;
};

// One Restart Manager session, ended with the manager's own call.
class RestartSession {
public:
    explicit RestartSession(const RestartManager& rm) : end_(rm.end) {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        open_ = rm.start(&id_, 0, key) == ERROR_SUCCESS;
    }
    ~RestartSession() {
        if (open_) end_(id_);
    }
    RestartSession(const RestartSession&) = delete;
    RestartSession& operator=(const RestartSession&) = delete;
    bool open() const { return open_; }
    DWORD id() const { return id_; }

private:
    RmEndSessionFn end_;
    DWORD id_ = 0;
    bool open_ = false;
};

// What stands in the way of replacing one file.
enum class Obstacle { none, in_use, refused };

// Whether path can be replaced now; *reason gets the system's text of any other refusal.
Obstacle obstacle_to_replace(const std::wstring& path, std::string* reason) {
    // A replace deletes the old file. Windows refuses this open with ERROR_SHARING_VIOLATION when
    // another process holds the file without delete sharing (the DELETE access) or runs it as a
    // program or DLL image (the write access: a mapped image cannot be opened for writing).
    // Nothing is written. Wine answers both cases the same way. A move onto such a file fails
    // with ERROR_ACCESS_DENIED on both systems, the same code as for a read-only file or a
    // folder, which is why the move itself cannot tell the user to close a program. (A read-only
    // file is refused here with ERROR_ACCESS_DENIED on Windows; Wine running as root opens it.)
    UniqueFile file(::CreateFileW(path.c_str(), DELETE | FILE_WRITE_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file) return Obstacle::none;
    const DWORD code = last_error_code();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Obstacle::none;
    if (code == ERROR_SHARING_VIOLATION) return Obstacle::in_use;
    *reason = system_error_text(code);
    return Obstacle::refused;
}

}  // namespace

// Wine's Restart Manager starts sessions but lists no process for any file, so under Wine the
// in-use message is the path alone.
std::vector<std::string> programs_using(const std::wstring& path) {
    RestartManager rm;
    if (!rm.usable()) return {};
    RestartSession session(rm);
    if (!session.open()) return {};
    LPCWSTR files[] = {path.c_str()};
    if (rm.register_resources(session.id(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) return {};
    std::vector<RM_PROCESS_INFO> list;
    DWORD result = ERROR_MORE_DATA;
    // The list can grow between the two calls; a few rounds settle it.
    for (int round = 0; round < 3 && result == ERROR_MORE_DATA; ++round) {
        UINT needed = 0, count = static_cast<UINT>(list.size());
        DWORD reasons = 0;
        result = rm.get_list(session.id(), &needed, &count, list.empty() ? nullptr : list.data(), &reasons);
        if (result == ERROR_MORE_DATA) list.resize(needed);
        else if (result == ERROR_SUCCESS) list.resize(count);
    }
    std::vector<std::string> names;
    if (result != ERROR_SUCCESS) return names;
    for (const RM_PROCESS_INFO& p : list) {
        std::string name = to_utf8(std::wstring_view(p.strAppName, ::wcsnlen(p.strAppName, CCH_RM_MAX_APP_NAME)));
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

std::optional<Failure> replace_problem(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& held) {
    std::vector<const std::wstring*> in_use;
    std::string refused;
    for (const std::wstring& path : paths) {
        std::string reason;
        switch (obstacle_to_replace(path, &reason)) {
            case Obstacle::none:
                break;
            case Obstacle::in_use:
                in_use.push_back(&path);
                break;
            case Obstacle::refused:
                refused += "; cannot replace " + to_utf8(path) + ": " + reason;
                break;
        }
    }
    for (const std::wstring& path : held) in_use.push_back(&path);
    if (in_use.empty() && refused.empty()) return std::nullopt;
    if (in_use.empty()) return Failure{FailureKind::local_fault, refused.substr(2)};
    std::string message;
    for (const std::wstring* path : in_use) {
        std::string names;
        for (const std::string& name : programs_using(*path)) names += (names.empty() ? " (" : ", ") + name;
        if (!names.empty()) names += ")";
        message += (message.empty() ? "" : ", ") + to_utf8(*path) + names;
    }
    message += in_use.size() == 1 ? " is in use by another program" : " are in use by other programs";
    return Failure{FailureKind::local_fault, message + " (close duskfern and try again)" + refused};
}

}  // namespace df::setup
