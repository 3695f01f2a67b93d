#include "job/finish.h"

#include "app/files.h"
#include "app/handle.h"
#include "app/log.h"
#include "folder/known_folder.h"
#include "net/error_text.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace df::setup {

std::optional<Failure> create_data_folder(const std::wstring& dir) {
    std::uint32_t code = create_folders(join_path(dir, L"data"));
    if (code == 0) return std::nullopt;
    return failed("cannot create data\\: " + system_error_message(code));
}

void create_shortcut(const std::wstring& dir) {
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(link.put())))) {
        return;
    }
    const std::wstring exe = join_path(dir, L"duskfern-overlay.exe");
    link.get()->SetPath(exe.c_str());
    link.get()->SetWorkingDirectory(dir.c_str());
    link.get()->SetIconLocation(exe.c_str(), 0);
    link.get()->SetDescription(L"duskfern");
    ComPtr<IPersistFile> file;
    if (FAILED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) return;

    // Without a desktop folder the save would land in the current directory: skip it instead.
    std::wstring desktop = known_folder_path(FOLDERID_Desktop);
    if (desktop.empty()) {
        log_line("shortcut duskfern.lnk failed");
        return;
    }
    std::wstring path = join_path(desktop, L"duskfern.lnk");
    HRESULT saved = file.get()->Save(path.c_str(), TRUE);
    log_line("shortcut " + to_utf8(path) + (SUCCEEDED(saved) ? " ok" : " failed"));
    file.reset();  // IPersistFile first, then the link
}

}  // namespace df::setup
