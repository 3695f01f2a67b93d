#pragma once
// A transfer fetched as byte ranges side by side: how its bytes are cut into pieces, and the
// record kept beside its part file of what each piece already holds. A record is read back only
// when it is whole and describes the very transfer it is found beside; anything else is no
// record at all, never proof. Portable.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace df::setup {

// Transfers of at most this many bytes travel whole; larger ones in pieces.
inline constexpr std::uint64_t PIECES_ABOVE = 2u << 20;

// The piece size for a transfer of size bytes: 1 MiB, larger for very large transfers so that
// one has no more than 64 pieces (at most 8 MiB).
std::uint64_t piece_size_for(std::uint64_t size);

// The pieces of a transfer: size bytes cut every piece bytes (the last one may be shorter).
struct PieceLayout {
    std::uint64_t size = 0;
    std::uint64_t piece = 1;

    std::size_t count() const { return static_cast<std::size_t>((size + piece - 1) / piece); }
    std::uint64_t first(std::size_t i) const { return i * piece; }
    // The number of bytes of piece i.
    std::uint64_t length(std::size_t i) const { return i + 1 < count() ? piece : size - first(i); }
};

// What the pieces of one transfer hold: piece i holds done[i] bytes from its first byte.
struct PieceRecord {
    std::uint64_t size = 0;   // the transfer's size
    std::string sha256;       // the transfer's digest, lower-case hex
    std::uint64_t piece = 0;  // the piece size
    std::vector<std::uint64_t> done;

    PieceLayout layout() const { return PieceLayout{size, piece}; }
};

// The record as the text kept beside the part file, closed by a check line (CRC-32 of the text
// before it), so a record cut short or changed reads as none. Bytes after the check line (the
// tail of a longer record it was written over) are no part of it.
std::string record_text(const PieceRecord& record);

// The record text read back when it is whole and describes a transfer of size bytes with digest
// sha256 (pieces of any size from 1 byte); nothing otherwise.
std::optional<PieceRecord> read_record(std::string_view text, std::uint64_t size, std::string_view sha256);

}  // namespace df::setup
