#pragma once
// The part file of a transfer fetched in pieces, written at any offset by several transfers at
// once, and the record of its pieces kept beside it (Windows).
#include "app/handle.h"
#include "job/failure.h"
#include "job/pieces.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace df::setup {

class PieceFile {
public:
    // The part file part (created when missing) and the record beside it. The record counts when
    // it is whole, describes a transfer of size bytes with digest sha256 and the part file holds
    // every byte it claims; a record that does not is no record, and the part file starts empty.
    // Without a record file, a part file shorter than size keeps its first bytes (what a transfer
    // of the whole file left there). Nothing, with the failure (local_fault, "cannot write "
    // + part), when the part file cannot be opened for writing.
    static std::unique_ptr<PieceFile> open(const std::wstring& part, const std::wstring& record, std::uint64_t size,
                                           const std::string& sha256, std::optional<Failure>& failure);

    PieceFile(const PieceFile&) = delete;
    PieceFile& operator=(const PieceFile&) = delete;
    ~PieceFile();

    const PieceLayout& layout() const { return layout_; }
    // The bytes each piece holds from its first byte, now.
    std::vector<std::uint64_t> done() const;
    // The bytes held in all, now.
    std::uint64_t held() const;

    // Writes n bytes at offset, which lies in piece i just past what it holds; the piece then
    // holds them too, and the record follows within RECORD_EVERY_MS. 0, or the system's error code.
    unsigned long write(std::size_t i, std::uint64_t offset, const char* data, std::size_t n);
    // Writes the record now (a transfer of a piece ended or stopped).
    void save();
    // Every piece whole: flushes the part file to disk (when flush is set), closes it and removes
    // the record. 0, or the system's error code of the flush.
    unsigned long finish(bool flush);
    // Forgets the pieces: the part file is cut to no bytes and the record removed (the transfer
    // starts over, or goes another way).
    void discard();

    // How often a record is written while pieces arrive, at most.
    static constexpr std::uint64_t RECORD_EVERY_MS = 500;

private:
    PieceFile(std::wstring part, std::wstring record, PieceRecord start, UniqueFile file);
    void save_locked();

    const std::wstring part_;
    const std::wstring record_path_;
    const PieceLayout layout_;
    // Writes at distinct offsets need no lock; mutex_ guards record_ and the writes of the record.
    mutable std::mutex mutex_;
    PieceRecord record_;
    UniqueFile file_;
    std::uint64_t saved_at_ = 0;  // GetTickCount64 of the last record written
};

// Before a transfer of the whole file where pieces may have been: the part file cut to the bytes
// that its record shows held from the first byte without a gap, and the record removed. Nothing
// happens without a record of this transfer (a damaged one shows at verification).
void keep_whole_prefix(const std::wstring& part, const std::wstring& record, std::uint64_t size,
                       const std::string& sha256);

}  // namespace df::setup
