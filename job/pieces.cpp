#include "job/pieces.h"

#include <zlib.h>

#include <charconv>
#include <cstdio>

namespace df::setup {
namespace {

constexpr std::string_view HEADER = "duskfern pieces 1\n";
constexpr std::uint64_t MIN_PIECE = 1u << 20;
constexpr std::uint64_t MAX_PIECE = 8u << 20;
constexpr std::uint64_t MOST_PIECES = 64;

std::string check_of(std::string_view text) {
    const auto crc = ::crc32(0L, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc));
    return hex;
}

// The next line of text (without its line feed) after "name "; nothing when it is another line
// (and from then on, since text is left empty).
std::optional<std::string_view> field(std::string_view& text, std::string_view name) {
    const std::size_t end = text.find('\n');
    std::string_view line = end == std::string_view::npos ? std::string_view() : text.substr(0, end);
    if (line.size() < name.size() + 1 || line.substr(0, name.size()) != name || line[name.size()] != ' ') {
        text = {};
        return std::nullopt;
    }
    text.remove_prefix(end + 1);
    return line.substr(name.size() + 1);
}

// One decimal number that fills text; nothing otherwise.
std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t v = 0;
    if (text.empty() || text.size() > 20) return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return v;
}

}  // namespace

std::uint64_t piece_size_for(std::uint64_t size) {
    std::uint64_t piece = (size + MOST_PIECES - 1) / MOST_PIECES;
    return piece < MIN_PIECE ? MIN_PIECE : piece > MAX_PIECE ? MAX_PIECE : piece;
}

std::string record_text(const PieceRecord& record) {
    std::string text(HEADER);
    text += "size " + std::to_string(record.size) + "\n";
    text += "sha256 " + record.sha256 + "\n";
    text += "piece " + std::to_string(record.piece) + "\n";
    text += "done";
    for (std::uint64_t d : record.done) text += " " + std::to_string(d);
    text += "\n";
    text += "check " + check_of(text) + "\n";
    return text;
}

std::optional<PieceRecord> read_record(std::string_view text, std::uint64_t size, std::string_view sha256) {
    if (text.substr(0, HEADER.size()) != HEADER || size == 0) return std::nullopt;
    std::string_view rest = text.substr(HEADER.size());
    auto read_size = field(rest, "size");
    auto read_sha = field(rest, "sha256");
    auto read_piece = field(rest, "piece");
    auto read_done = field(rest, "done");
    const std::string_view body = text.substr(0, text.size() - rest.size());
    // A record rewritten shorter may keep the tail of a longer one after its check line.
    if (!read_done || rest.substr(0, 6 + 8 + 1) != "check " + check_of(body) + "\n") return std::nullopt;
    auto n = number(*read_size);
    auto piece = number(*read_piece);
    if (!n || *n != size || *read_sha != sha256 || !piece || *piece == 0) return std::nullopt;
    PieceRecord r{size, std::string(sha256), *piece, {}};
    const PieceLayout layout = r.layout();
    for (std::string_view list = *read_done;;) {
        const std::size_t space = list.find(' ');
        auto d = number(list.substr(0, space));
        if (!d || r.done.size() >= layout.count() || *d > layout.length(r.done.size())) return std::nullopt;
        r.done.push_back(*d);
        if (space == std::string_view::npos) break;
        list.remove_prefix(space + 1);
    }
    if (r.done.size() != layout.count()) return std::nullopt;
    return r;
}

}  // namespace df::setup
