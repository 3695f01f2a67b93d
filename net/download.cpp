#include "app/files.h"
#include "net/http.h"

#include "app/last_error.h"
#include "app/log.h"
#include "net/cancel.h"
#include "net/error_text.h"
#include "net/sha256.h"

namespace df::setup {

namespace {

NetError download_failure(std::string message) {
    NetError r;
    r.message = std::move(message);
    return r;
}

// A fault of this computer, not of the source: cannot write, cannot rename.
NetError local_failure(std::string message) {
    NetError r = download_failure(std::move(message));
    r.local_fault = true;
    return r;
}

NetError mismatch(const std::string& url, std::uint64_t got) {
    NetError r = download_failure("hash mismatch for " + url + " (got " + std::to_string(got) + " bytes)");
    r.hash_mismatch = true;
    return r;
}

// Size of a file; 0 when it is absent or a folder.
bool is_plain_file(const std::wstring& path) {
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// The part file opened for writing: appended to when append is set, else created empty.
UniqueFile open_part(const std::wstring& path, bool append) {
    UniqueFile f(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (f && append) {
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(f.get(), zero, nullptr, FILE_END)) f.reset();
    }
    return f;
}

// The calling thread's last error code, never 0: a failure that left none counts as a write fault.
DWORD failure_code() {
    const DWORD code = last_error_code();
    return code != 0 ? code : ERROR_WRITE_FAULT;
}

NetError cancelled_result() {
    NetError r = download_failure("cancelled");
    r.cancelled = true;
    return r;
}

// Rewinds the part file and cuts it to 0 bytes; 0, or the system error code of the failure.
DWORD truncate_part(HANDLE f) {
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(f, zero, nullptr, FILE_BEGIN) || !::SetEndOfFile(f)) return failure_code();
    return 0;
}

// Writes all n bytes; 0, or the system error code of the failed write. A short write that
// reports success (a full volume, a file-size limit) counts as ERROR_DISK_FULL.
DWORD write_all(HANDLE f, const char* data, std::uint64_t n) {
    while (n > 0) {
        DWORD chunk = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
        DWORD wrote = 0;
        if (!::WriteFile(f, data, chunk, &wrote, nullptr)) return failure_code();
        if (wrote != chunk) return ERROR_DISK_FULL;
        data += chunk;
        n -= chunk;
    }
    return 0;
}

}  // namespace

bool holds_digest(const std::wstring& path, const std::string& expected_sha256, const std::atomic<bool>* cancel) {
    if (expected_sha256.empty() || !is_plain_file(path)) return false;
    auto digest = sha256_file(path, nullptr, cancel);
    return digest && digest_equals(*digest, expected_sha256);
}

NetError Http::fetch_verified(const std::string& url, const std::wstring& dest, std::uint64_t expected_size,
                              const std::string& expected_sha256, const std::atomic<bool>* cancel,
                              const ByteProgress& progress, int attempts, bool& already_present) {
    already_present = false;
    if (std::wstring parent = parent_folder(dest); !parent.empty()) {
        create_folders(parent);  // a failure shows at the open
    }
    // A destination that already holds the expected bytes needs no traffic at all.
    if (holds_digest(dest, expected_sha256, cancel)) {
        already_present = true;
        NetError ok;
        ok.ok = true;
        return ok;
    }
    return fetch_part(url, part_path(dest), expected_size, expected_sha256, cancel, progress, attempts);
}

NetError Http::fetch_part(const std::string& url, const std::wstring& part, std::uint64_t expected_size,
                          const std::string& expected_sha256, const std::atomic<bool>* cancel,
                          const ByteProgress& progress, int attempts, bool absent) {
    if (attempts < 1) return download_failure("download failed: " + url);

    NetError last;
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        const bool last_attempt = attempt == attempts;
        if (is_set(cancel)) return cancelled_result();

        std::uint64_t have = absent && attempt == 1 ? 0 : file_size(part).value_or(0);
        bool fresh = false;
        bool complete = false;
        if (expected_size > 0 && have > expected_size) {
            ::DeleteFileW(part.c_str());
            have = 0;
            fresh = true;
        } else {
            fresh = have == 0;
            complete = expected_size > 0 && have == expected_size;
        }

        if (!complete) {
            UniqueFile file = open_part(part, have > 0);
            if (!file) return local_failure("cannot write " + to_utf8(part));

            bool started = false;
            std::uint64_t written = have;
            // Set when the answer would carry the file past its expected size: the sink refuses
            // it, so an endless or oversized body never fills the disk.
            bool oversize = false;
            std::uint64_t received = 0;
            // The code of a failed write or truncation of the part file: a local failure (a
            // full disk, say) that another attempt or source would only repeat.
            DWORD write_error = 0;
            NetError r = request(url, have, cancel, DOWNLOAD_TIMEOUT_MS,
                                 [&](const char* data, std::uint64_t n, int status) {
                                     if (!started) {
                                         started = true;
                                         if (have > 0 && status == 200) {
                                             // The server ignored the range and sends the whole file.
                                             write_error = truncate_part(file.get());
                                             if (write_error != 0) return false;
                                             written = 0;
                                             fresh = true;
                                         }
                                     }
                                     if (expected_size > 0 && n > expected_size - written) {
                                         oversize = true;
                                         received = written + n;
                                         return false;
                                     }
                                     write_error = write_all(file.get(), data, n);
                                     if (write_error != 0) return false;
                                     written += n;
                                     if (progress) progress(written);
                                     return true;
                                 });
            file.reset();  // the outcome of the close is left to verification
            last = r;

            if (write_error != 0) {
                return local_failure("cannot write " + to_utf8(part) + ": " + system_error_text(write_error));
            }
            if (oversize) {
                ::DeleteFileW(part.c_str());
                if (fresh || last_attempt) return mismatch(url, received);
                continue;
            }
            if (r.cancelled) return r;
            if (r.not_found) {
                ::DeleteFileW(part.c_str());
                return r;
            }
            if (!r.ok && r.http_status == 416) {
                ::DeleteFileW(part.c_str());
                continue;
            }
            if (!r.ok) {
                // A body slower than the pace rule is this source's fault, no passing one: no
                // further attempt here, so that another source takes the file at once.
                if (last_attempt || r.too_slow) {
                    r.message = "download failed after " + std::to_string(attempt) + " attempts: " + r.message;
                    return r;
                }
                if (pause_unless_cancelled(retry_pause_ms(attempt), cancel)) return cancelled_result();
                continue;
            }
        }

        // Verification: size and digest of what is now in the part file.
        std::uint64_t n = 0;
        auto digest = sha256_file(part, &n, cancel);
        if (!digest && is_set(cancel)) return cancelled_result();  // unread, not wrong: the part stays
        bool size_ok = expected_size == 0 || n == expected_size;
        bool digest_ok = expected_sha256.empty() || (digest && digest_equals(*digest, expected_sha256));
        if (size_ok && digest_ok) {
            NetError ok;
            ok.ok = true;
            return ok;
        }
        ::DeleteFileW(part.c_str());
        if (fresh || last_attempt) return mismatch(url, n);
    }
    return last;
}

}  // namespace df::setup
