#include "job/job.h"

#include "app/log.h"
#include "job/commit.h"
#include "job/delivery.h"
#include "job/finish.h"
#include "job/plan.h"
#include "job/unfinished.h"
#include "net/ecdsa.h"
#include "net/sha256.h"
#include "net/http.h"
#include "release/release_key.h"
#include "release/resolve.h"
#include "release/signature.h"
#include "release/version.h"

#include <windows.h>

namespace df::setup {
namespace {

constexpr std::uint64_t MANIFEST_LIMIT = 8388608;  // 8 MiB

// An environment value as UTF-8; missing, empty or 2048 characters and longer count as empty.
std::string environment_value(const wchar_t* name) {
    wchar_t buffer[2048];
    DWORD n = ::GetEnvironmentVariableW(name, buffer, 2048);
    if (n == 0 || n >= 2048) return {};
    return to_utf8(std::wstring_view(buffer, n));
}

class Run {
public:
    explicit Run(Job& job) : job_(job) {}

    void run() {
        SourceConfig config =
            make_source_config(environment_value(L"DUSKFERN_UPDATE_BASE"), environment_value(L"DUSKFERN_UPDATE_MIRROR"));
        log_line("sources mirror=" + mirror_latest_url(config) + " github=" + config.github_latest_url +
                 " prefer=" + source_name(job_.source));
        Http http(job_.proxy);
        if (!http.is_open()) return fail("WinHTTP is not available");
        if (!Sha256().usable()) return fail("CNG (bcrypt.dll) is not available");
        report(L"checking");

        // Latest release: the preferred source, then the other one.
        Source order[2] = {job_.source, job_.source == Source::github ? Source::mirror : Source::github};
        std::optional<ReleaseInfo> release;
        std::string combined;
        for (Source s : order) {
            std::string error;
            release = resolve_latest(http, s, config, &job_.cancel, &error);
            if (release) break;
            if (cancelled()) return fail("cancelled");
            if (std::string m = http.proxy_failure(); !m.empty()) return fail(m);
            log_line(std::string("latest from ") + source_name(s) + " failed: " + error);
            if (!combined.empty()) combined += "; ";
            combined += std::string(source_name(s)) + ": " + error;
        }
        if (!release) return fail("neither the mirror nor GitHub answered (" + combined + ")");
        job_.source_used = source_name(release->source);
        log_line("latest " + release->tag + " from " + job_.source_used);
        const std::string tag = release->tag;
        Source other = release->source == Source::github ? Source::mirror : Source::github;
        std::vector<ReleaseInfo> candidates;
        candidates.push_back(std::move(*release));
        candidates.push_back(alternate_release(other, tag, config));

        report(L"manifest");
        std::optional<Manifest> manifest;
        for (const ReleaseInfo& c : candidates) {
            std::string body, error;
            const int timeout = c.patient ? 15000 : 8000;
            NetError r = http.get_text(c.manifest_url, body, &job_.cancel, timeout, MANIFEST_LIMIT);
            if (cancelled()) return fail("cancelled");
            if (r.ok) {
                error = signature_problem(http, c, body, timeout);  // a manifest is checked before it is read
                if (cancelled()) return fail("cancelled");
            } else {
                error = r.message;
            }
            if (std::string m = http.proxy_failure(); !m.empty()) return fail(m);
            if (error.empty()) {
                if (auto m = parse_manifest(body, &error)) {
                    if (manifest_accepted(m->version, tag)) {
                        manifest = std::move(m);
                        log_line(std::string("manifest from ") + source_name(c.source) + ": " +
                                 std::to_string(manifest->files.size()) + " files");
                        break;
                    }
                    error = "manifest is for " + m->version;
                }
            }
            log_line(std::string("manifest from ") + source_name(c.source) + " failed: " + error);
        }
        if (!manifest) return fail("could not fetch manifest.json");
        job_.version = manifest->version.empty() ? version_from_tag(tag) : manifest->version;

        report(L"scanning");
        Plan plan = build_plan(*manifest);
        if (auto clash = conflicting_path(plan)) return fail("manifest lists conflicting paths: " + *clash);

        // Every file is fetched and verified into its part file, then all are committed: until
        // the commit no destination is touched.
        Candidates shared(std::move(candidates));
        if (auto failure = pick_up_unfinished(job_.dir, plan)) return fail(failure->message);
        Delivered delivered = deliver_plan(job_, http, plan, shared);
        if (delivered.failure) return fail(delivered.failure->message);
        if (cancelled()) return fail("cancelled");
        if (auto failure = commit_files(delivered.verified)) return fail(failure->message);

        report(L"finishing");
        if (auto failure = create_data_folder(job_.dir)) return fail(failure->message);
        if (job_.shortcut) create_shortcut(job_.dir);

        job_.ok = true;
        log_line("installed " + job_.version + " into " + to_utf8(job_.dir) +
                 " files=" + std::to_string(plan.files.size()) + " from_mirror=" + std::to_string(job_.from_mirror) +
                 " from_github=" + std::to_string(job_.from_github) + " bytes_received=" +
                 std::to_string(delivered.received) + " bytes_installed=" + std::to_string(plan.bytes_total));
    }

private:
    bool cancelled() const { return job_.cancel.load(); }

    // With a release key built in: empty when the candidate's signature file arrives and verifies
    // over body, else the candidate's error text. Without one: empty, and nothing is fetched. The
    // signature named after body's digest comes first; the older name only when that one is missing.
    std::string signature_problem(Http& http, const ReleaseInfo& c, const std::string& body, int timeout_ms) {
        const std::string_view key = release_public_key();
        if (key.empty()) return {};
        std::string text;
        NetError r;
        for (const std::string& url : signature_urls(c, sha256_hex(body))) {
            r = http.get_text(url, text, &job_.cancel, timeout_ms, SIGNATURE_MAX_BYTES);
            if (!r.not_found) break;
        }
        if (!r.ok) return "manifest signature missing";
        auto point = parse_public_key_text(key);
        auto signature = parse_signature_text(text);
        if (!point || !signature || !ecdsa_p256_verify(*point, body, *signature)) return "manifest signature does not verify";
        return {};
    }

    // The single failure step: records the outcome and writes the closing "FAILED " line.
    void fail(const std::string& message) {
        job_.ok = false;
        job_.cancelled = cancelled();
        job_.error = job_.cancelled ? "cancelled" : message;
        log_line("FAILED " + job_.error);
    }

    void report(const wchar_t* phase, std::int32_t files_done = 0, std::int32_t files_total = 0,
                std::uint64_t bytes_done = 0, std::uint64_t bytes_total = 0) {
        if (!job_.on_progress) return;
        job_.on_progress(Progress{phase, files_done, files_total, bytes_done, bytes_total});
    }

    Job& job_;
};

}  // namespace

void run_job(Job& job) { Run(job).run(); }

}  // namespace df::setup
