#include "net/error_text.h"

#include "app/handle.h"
#include "app/log.h"

namespace df::setup {

std::string system_error_text(std::uint32_t code) {
    wchar_t* raw = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                               reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
    UniqueHandle<LocalMemTraits<wchar_t*>> buffer(raw);
    std::wstring description;
    if (n != 0 && buffer) description.assign(buffer.get(), n);
    while (!description.empty()) {
        wchar_t c = description.back();
        if (c != L'\r' && c != L'\n' && c != L' ' && c != L'.') break;
        description.pop_back();
    }
    std::string text = "error " + std::to_string(code);
    if (!description.empty()) text += ": " + to_utf8(description);
    return text;
}

}  // namespace df::setup
