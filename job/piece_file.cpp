#include "job/piece_file.h"

#include "app/last_error.h"
#include "app/log.h"
#include "net/error_text.h"

#include <algorithm>

namespace df::setup {
namespace {

std::optional<std::string> read_small_file(const std::wstring& path) {
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return std::nullopt;
    std::string text(64 * 1024, '\0');
    DWORD got = 0;
    if (!::ReadFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return std::string();
    text.resize(got);
    return text;
}

// Writes n bytes at offset through a handle opened for writing; 0 or the system's error code.
DWORD write_at(HANDLE f, std::uint64_t offset, const char* data, std::size_t n) {
    while (n > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
        DWORD wrote = 0;
        if (!::WriteFile(f, data, chunk, &wrote, &at)) return last_error_code();
        if (wrote != chunk) return ERROR_DISK_FULL;
        offset += chunk;
        data += chunk;
        n -= chunk;
    }
    return 0;
}

std::uint64_t file_size(HANDLE f) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(f, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool cut_to(HANDLE f, std::uint64_t size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(f, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(f);
}

}  // namespace

std::unique_ptr<PieceFile> PieceFile::open(const std::wstring& part, const std::wstring& record, std::uint64_t size,
                                           const std::string& sha256, std::optional<Failure>& failure) {
    UniqueFile file(::CreateFileW(part.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = last_error_code();
        failure = Failure{FailureKind::local_fault, "cannot write " + to_utf8(part) + ": " + system_error_text(code)};
        return nullptr;
    }
    const std::uint64_t have = file_size(file.get());
    PieceRecord start{size, sha256, piece_size_for(size), {}};
    const std::optional<std::string> text = read_small_file(record);
    std::optional<PieceRecord> kept = text ? read_record(*text, size, sha256) : std::nullopt;
    if (kept) {
        // The part file must hold every byte the record claims.
        const PieceLayout l = kept->layout();
        for (std::size_t i = 0; i < l.count() && kept; ++i) {
            if (kept->done[i] > 0 && l.first(i) + kept->done[i] > have) kept.reset();
        }
    }
    if (kept) {
        start = std::move(*kept);
    } else {
        const PieceLayout l = start.layout();
        start.done.assign(l.count(), 0);
        // A part file without a record holds what a transfer of the whole file left: its first
        // bytes. Beside a record that does not count, nothing it holds does.
        const std::uint64_t prefix = (!text && have < size) ? have : 0;
        if (prefix < have) cut_to(file.get(), prefix);
        for (std::size_t i = 0; i < l.count(); ++i) {
            start.done[i] = prefix > l.first(i) ? std::min(prefix - l.first(i), l.length(i)) : 0;
        }
    }
    std::unique_ptr<PieceFile> pf(new PieceFile(part, record, std::move(start), std::move(file)));
    pf->save();
    return pf;
}

PieceFile::PieceFile(std::wstring part, std::wstring record, PieceRecord start, UniqueFile file)
    : part_(std::move(part)),
      record_path_(std::move(record)),
      layout_(start.layout()),
      record_(std::move(start)),
      file_(std::move(file)) {}

PieceFile::~PieceFile() {
    if (file_) save();
}

std::vector<std::uint64_t> PieceFile::done() const {
    std::lock_guard lock(mutex_);
    return record_.done;
}

std::uint64_t PieceFile::held() const {
    std::lock_guard lock(mutex_);
    std::uint64_t n = 0;
    for (std::uint64_t d : record_.done) n += d;
    return n;
}

unsigned long PieceFile::write(std::size_t i, std::uint64_t offset, const char* data, std::size_t n) {
    if (DWORD code = write_at(file_.get(), offset, data, n); code != 0) return code;
    std::lock_guard lock(mutex_);
    record_.done[i] = std::max(record_.done[i], offset + n - layout_.first(i));
    if (::GetTickCount64() - saved_at_ >= RECORD_EVERY_MS) save_locked();
    return 0;
}

void PieceFile::save() {
    std::lock_guard lock(mutex_);
    save_locked();
}

void PieceFile::save_locked() {
    saved_at_ = ::GetTickCount64();
    // One write over the old record; a shorter text leaves the old tail after its check line.
    UniqueFile f(::CreateFileW(record_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return;  // the pieces stay; a later save or the next run's reading decides
    const std::string text = record_text(record_);
    if (write_at(f.get(), 0, text.data(), text.size()) == 0) cut_to(f.get(), text.size());
}

unsigned long PieceFile::finish(bool flush) {
    std::lock_guard lock(mutex_);
    DWORD code = (!flush || ::FlushFileBuffers(file_.get())) ? 0 : last_error_code();
    file_.reset();
    ::DeleteFileW(record_path_.c_str());
    return code;
}

void PieceFile::discard() {
    std::lock_guard lock(mutex_);
    cut_to(file_.get(), 0);
    file_.reset();
    ::DeleteFileW(record_path_.c_str());
}

void keep_whole_prefix(const std::wstring& part, const std::wstring& record, std::uint64_t size,
                       const std::string& sha256) {
    const std::optional<std::string> text = read_small_file(record);
    const std::optional<PieceRecord> r = text ? read_record(*text, size, sha256) : std::nullopt;
    if (!r) return;  // none, or another transfer's (the packed copy's or the raw bytes'), or damaged
    std::uint64_t prefix = 0;
    const PieceLayout l = r->layout();
    for (std::size_t i = 0; i < l.count(); ++i) {
        prefix += r->done[i];
        if (r->done[i] < l.length(i)) break;
    }
    UniqueFile f(::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (f && file_size(f.get()) > prefix) cut_to(f.get(), prefix);
    f.reset();
    ::DeleteFileW(record.c_str());
}

}  // namespace df::setup
