#pragma once
// printf-style formatting of the window's texts. Portable.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace df::setup {

// The formatted text never holds more than this many UTF-16 units (a 1024-unit buffer).
inline constexpr std::size_t FORMAT_MAX_UNITS = 1023;

// One argument of format_text: a 32-bit integer, a double or a UTF-16 text (not owned).
struct FormatArg {
    enum class Kind { integer, real, text };
    Kind kind;
    std::int32_t integer = 0;
    double real = 0.0;
    std::wstring_view text;

    FormatArg(std::int32_t v) : kind(Kind::integer), integer(v) {}
    FormatArg(double v) : kind(Kind::real), real(v) {}
    FormatArg(std::wstring_view v) : kind(Kind::text), text(v) {}
    FormatArg(const std::wstring& v) : kind(Kind::text), text(v) {}
    FormatArg(const wchar_t* v) : kind(Kind::text), text(v ? std::wstring_view(v) : std::wstring_view()) {}
};

// Fills the slots of format in order: "%d" an integer, "%.Nf" (N 0 to 9) or "%f" a double in
// fixed notation with N (6) decimals, "%s" or "%ls" a UTF-16 text, "%%" a percent sign. A slot
// whose argument is missing or of another kind yields nothing; any other "%" sequence is copied
// as it stands. The result is cut to FORMAT_MAX_UNITS units, never splitting a surrogate pair.
std::wstring format_text(std::wstring_view format, std::initializer_list<FormatArg> args);

// A download speed as shown: whole kilobytes (1024 bytes) per second below 1000 of them
// ("speed_kb"), else megabytes per second with one decimal ("speed_mb").
std::wstring speed_text(double bytes_per_second, bool chinese);

// The time left as shown: whole seconds under a minute (at least 1, "left_s"), the nearest
// minute under two hours ("left_min"), else the nearest hour ("left_h"); nothing beyond 99 hours,
// which says no more than an unknown time.
std::optional<std::wstring> time_left_text(std::uint64_t seconds, bool chinese);

}  // namespace df::setup
