#include "ui/format.h"

#include "ui/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace df::setup {
namespace {

// Appends to out without ever letting it grow past FORMAT_MAX_UNITS; false once full.
class BoundedText {
public:
    bool full() const { return full_; }
    void append(std::wstring_view s) {
        if (full_) return;
        std::size_t room = FORMAT_MAX_UNITS - out_.size();
        if (s.size() <= room) {
            out_.append(s);
            return;
        }
        out_.append(s.substr(0, room));
        full_ = true;
    }
    void append_ascii(std::string_view s) {
        for (char c : s) {
            wchar_t w = static_cast<wchar_t>(static_cast<unsigned char>(c));
            append(std::wstring_view(&w, 1));
        }
    }
    std::wstring take() {
        // A cut between the halves of a surrogate pair would leave half a character.
        if (full_ && !out_.empty() && out_.back() >= 0xD800 && out_.back() <= 0xDBFF) out_.pop_back();
        return std::move(out_);
    }

private:
    std::wstring out_;
    bool full_ = false;
};

void append_integer(BoundedText& out, std::int32_t v) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append_ascii(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
}

void append_real(BoundedText& out, double v, int decimals) {
    // Fixed notation of the largest double takes 309 digits plus the decimals. The C library's
    // "%.*f" rounds the exact binary value as std::to_chars does, and the program never sets
    // a locale, so the point is always "."; the library's floating-point to_chars would add
    // about 170 KB to the executable.
    char buf[400];
    int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return;
    out.append_ascii(std::string_view(buf, static_cast<std::size_t>(n)));
}

}  // namespace

std::wstring format_text(std::wstring_view format, std::initializer_list<FormatArg> args) {
    BoundedText out;
    const FormatArg* next = args.begin();
    auto take_arg = [&](FormatArg::Kind kind) -> const FormatArg* {
        if (next == args.end()) return nullptr;
        const FormatArg* a = next++;
        return a->kind == kind ? a : nullptr;
    };
    std::size_t i = 0;
    while (i < format.size() && !out.full()) {
        std::size_t pct = format.find(L'%', i);
        if (pct == std::wstring_view::npos) {
            out.append(format.substr(i));
            break;
        }
        out.append(format.substr(i, pct - i));
        std::wstring_view rest = format.substr(pct);
        if (rest.starts_with(L"%%")) {
            out.append(L"%");
            i = pct + 2;
        } else if (rest.starts_with(L"%d")) {
            if (const FormatArg* a = take_arg(FormatArg::Kind::integer)) append_integer(out, a->integer);
            i = pct + 2;
        } else if (rest.starts_with(L"%s")) {
            if (const FormatArg* a = take_arg(FormatArg::Kind::text)) out.append(a->text);
            i = pct + 2;
        } else if (rest.starts_with(L"%ls")) {
            if (const FormatArg* a = take_arg(FormatArg::Kind::text)) out.append(a->text);
            i = pct + 3;
        } else if (rest.starts_with(L"%f")) {
            if (const FormatArg* a = take_arg(FormatArg::Kind::real)) append_real(out, a->real, 6);
            i = pct + 2;
        } else if (rest.size() >= 4 && rest[1] == L'.' && rest[2] >= L'0' && rest[2] <= L'9' && rest[3] == L'f') {
            if (const FormatArg* a = take_arg(FormatArg::Kind::real)) append_real(out, a->real, rest[2] - L'0');
            i = pct + 4;
        } else {
            out.append(L"%");
            i = pct + 1;
        }
    }
    return out.take();
}

std::wstring speed_text(double bytes_per_second, bool chinese) {
    const double bytes = bytes_per_second > 0.0 ? bytes_per_second : 0.0;  // also NaN
    const double kilobytes = std::round(bytes / 1024.0);
    if (kilobytes < 1000.0) return format_text(get_text("speed_kb", chinese), {static_cast<std::int32_t>(kilobytes)});
    return format_text(get_text("speed_mb", chinese), {bytes / 1048576.0});
}

std::optional<std::wstring> time_left_text(std::uint64_t seconds, bool chinese) {
    constexpr std::uint64_t MINUTE = 60, HOUR = 3600, MOST_HOURS = 99;
    if (seconds < MINUTE) {
        return format_text(get_text("left_s", chinese), {static_cast<std::int32_t>(seconds > 0 ? seconds : 1)});
    }
    if (seconds >= (MOST_HOURS + 1) * HOUR - HOUR / 2) return std::nullopt;
    const std::uint64_t minutes = (seconds + MINUTE / 2) / MINUTE;
    if (minutes < 2 * 60) return format_text(get_text("left_min", chinese), {static_cast<std::int32_t>(minutes)});
    const std::uint64_t hours = (seconds + HOUR / 2) / HOUR;
    return format_text(get_text("left_h", chinese), {static_cast<std::int32_t>(hours)});
}

}  // namespace df::setup
