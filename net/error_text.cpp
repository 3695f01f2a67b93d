#include "net/error_text.h"

#include "app/handle.h"
#include "app/log.h"

#include <string_view>

namespace df::setup {
namespace {

// The system's description of code as FormatMessageW gives it (empty when it has none),
// without any of the characters of trailing at its end.
std::wstring description_of(std::uint32_t code, std::wstring_view trailing) {
    wchar_t* raw = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                               reinterpret_cast<LPWSTR>(&raw), 0, nullptr);
    UniqueHandle<LocalMemTraits<wchar_t*>> buffer(raw);
    std::wstring description;
    if (n != 0 && buffer) description.assign(buffer.get(), n);
    while (!description.empty() && trailing.find(description.back()) != std::wstring_view::npos) {
        description.pop_back();
    }
    return description;
}

}  // namespace

std::string system_error_text(std::uint32_t code) {
    std::wstring description = description_of(code, L"\r\n .");
    std::string text = "error " + std::to_string(code);
    if (!description.empty()) text += ": " + to_utf8(description);
    return text;
}

std::string system_error_message(std::uint32_t code) {
    std::wstring description = description_of(code, L"\r\n");
    return description.empty() ? std::string("unknown error") : to_utf8(description);
}

}  // namespace df::setup
