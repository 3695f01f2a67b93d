#include "job/unpack.h"

#include "app/handle.h"
#include "app/last_error.h"
#include "app/log.h"
#include "net/error_text.h"
#include "net/inflate.h"
#include "net/sha256.h"

namespace df::setup {
namespace {

std::optional<Failure> mismatch(const std::string& what) { return Failure{FailureKind::mismatch, what}; }

}  // namespace

std::optional<Failure> unpack(const std::wstring& packed, const std::wstring& part, std::uint64_t size,
                              const std::string& sha256, const std::string& url, const std::atomic<bool>* cancel) {
    std::optional<Failure> failure;
    {
        UniqueFile in(::CreateFileW(packed.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        const DWORD in_error = in ? 0 : last_error_code();
        UniqueFile out(::CreateFileW(part.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD out_error = out ? 0 : last_error_code();
        Sha256 digest;
        BoundedInflate stream(size);
        DWORD write_error = 0;
        auto sink = [&](const char* data, std::size_t n) {
            DWORD wrote = 0;
            if (!::WriteFile(out.get(), data, static_cast<DWORD>(n), &wrote, nullptr)) {
                write_error = last_error_code();
            } else if (wrote != n) {
                write_error = ERROR_DISK_FULL;
            }
            digest.update(data, n);
            return write_error == 0;
        };
        // The thread's buffer, not a fresh one per file: filling a new block costs more than
        // inflating a small file.
        unsigned char* buffer = in && out ? thread_read_buffer() : nullptr;
        LARGE_INTEGER in_size{};
        if (buffer && !::GetFileSizeEx(in.get(), &in_size)) in_size.QuadPart = 0;
        std::uint64_t left = static_cast<std::uint64_t>(in_size.QuadPart);
        BoundedInflate::State state = BoundedInflate::State::corrupt;
        for (DWORD got = 0; buffer;) {
            if (cancel && cancel->load()) {
                failure = Failure{FailureKind::cancelled, "cancelled"};
                break;
            }
            if (!::ReadFile(in.get(), buffer, thread_read_size(left), &got, nullptr)) break;
            left -= std::min<std::uint64_t>(left, got);
            state = got == 0 ? stream.finish() : stream.feed(buffer, got, sink);
            if (got == 0 || state != BoundedInflate::State::more) break;
        }
        using S = BoundedInflate::State;
        if (failure) {
            // cancelled: the packed copy stays for the next run
        } else if (!in) {
            failure = Failure{FailureKind::local_fault, "cannot read " + to_utf8(packed) + ": " + system_error_text(in_error)};
        } else if (!out) {
            failure = Failure{FailureKind::local_fault, "cannot write " + to_utf8(part) + ": " + system_error_text(out_error)};
        } else if (write_error != 0) {
            failure = Failure{FailureKind::local_fault, "cannot write " + to_utf8(part) + ": " + system_error_text(write_error)};
        } else if (state == S::too_long) {
            failure = mismatch("packed copy inflates past " + std::to_string(size) + " bytes (" + url + ")");
        } else if (state != S::done) {
            failure = mismatch("packed copy does not inflate (" + url + ")");
        } else if (const std::string got = digest.finish(); stream.produced() != size || !digest_equals(got, sha256)) {
            failure = mismatch("hash mismatch for " + url + " (got " + std::to_string(stream.produced()) +
                               " bytes inflated)");
        } else if (!::FlushFileBuffers(out.get())) {
            const DWORD code = last_error_code();
            failure = Failure{FailureKind::local_fault, "cannot write " + to_utf8(part) + ": " + system_error_text(code)};
        }
    }
    // A verified packed copy stays when this computer failed to store its bytes: the next run
    // inflates it again without a request.
    if (!failure || failure->kind == FailureKind::mismatch) ::DeleteFileW(packed.c_str());
    if (failure) ::DeleteFileW(part.c_str());
    return failure;
}

}  // namespace df::setup
