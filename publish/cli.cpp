#include "publish/cli.h"

#include "publish/checks.h"
#include "publish/key_file.h"
#include "publish/release_writer.h"
#include "release/version.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>

namespace df::publish {
namespace fs = std::filesystem;
namespace {

constexpr const char* USAGE =
    "usage: duskfern-publish release --from BUILD_DIR --tag TAG --out OUT_DIR [--version VERSION] [--key KEYFILE]\n"
    "                                [--replace] [--no-packed]\n"
    "       duskfern-publish new-key KEYFILE\n"
    "       duskfern-publish --help\n";

constexpr const char* HELP =
    "duskfern-publish turns the application's build folder into a release for both sources of the setup.\n"
    "\n"
    "release  reads every file below BUILD_DIR and, when the setup's own rules accept them all, writes\n"
    "  OUT_DIR/mirror/        latest.json, TAG/manifest.json and TAG/files/<asset name>:\n"
    "                         copy it to the mirror's base with tools/copy-release, which keeps the order\n"
    "  OUT_DIR/github/TAG/    every file under its asset name, and manifest.json:\n"
    "                         upload them to the GitHub release named TAG, manifest.json and\n"
    "                         manifest.json.sig last (see the README)\n"
    "  --version VERSION      the manifest's version (default: TAG without its leading v)\n"
    "  --key KEYFILE          signs manifest.json with the key, in both trees: manifest.json.<16 hex digits of\n"
    "                         its SHA-256>.sig, which goes live before the manifest, and manifest.json.sig\n"
    "                         (read by older setups), which follows it\n"
    "  --replace              replaces TAG when OUT_DIR holds it with other files (without it: refused)\n"
    "  --no-packed            publishes the raw files only. Without it each file also gets a packed copy\n"
    "                         (<asset name>.gz, gzip made with zlib at level 9) beside it when that saves at\n"
    "                         least an eighth of its bytes, listed in its manifest entry as \"packed\": random\n"
    "                         or already compressed files stay raw only. The raw files are always published,\n"
    "                         and setups that do not know packed copies install them as before.\n"
    "\n"
    "new-key  writes a new signing key (ECDSA P-256) to KEYFILE, readable only by you, and prints the\n"
    "  build option that pins its public key into a setup. It never replaces an existing file. Keep the\n"
    "  key offline; a setup built with the option installs only manifests that the key signed.\n"
    "\n"
    "Refused, with one line per path on stderr and nothing written: a path the setup would not install\n"
    "(unsafe, not writable on Windows, preserved such as data/... or update.log), paths that name the\n"
    "same file on Windows, asset names that are the same with letter case ignored, special files, links\n"
    "that lead nowhere or outside BUILD_DIR, names that are not UTF-8, no duskfern-overlay.exe at the\n"
    "top of BUILD_DIR, a TAG or VERSION that is not UTF-8 (and nothing else is checked then), a TAG that\n"
    "is no version, a VERSION that does not match TAG, a packed copy's name that breaks the asset name\n"
    "rules, documents or packed copies that the setup would not read back as written (packed copies\n"
    "through its own inflater), a TAG already published with other files (without --replace).\n"
    "\n"
    "Every output file is written through a temporary name. A second run of TAG with the same files\n"
    "changes nothing (a published file counts as the same by its SHA-256). With --replace, files whose\n"
    "bytes changed get new asset names (their digest in front, and so do their packed copies), so a\n"
    "manifest that a running install holds stays true to the files until the next replacement; see the\n"
    "README. latest.json's publication time is the time of the run, or\n"
    "SOURCE_DATE_EPOCH (seconds since 1970, UTC) when set, for a reproducible release.\n"
    "\n"
    "Exit codes: 0 published, 1 refused or failed, 2 usage error.\n";

int usage_error(std::ostream& err, const std::string& problem) {
    err << "duskfern-publish: " << problem << "\n" << USAGE;
    return 2;
}

// The publication time: SOURCE_DATE_EPOCH when set, otherwise now; a failure when it is set
// to something other than a number of seconds.
Result<std::string> publication_time() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch) {
        auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
        return utc_text(now.time_since_epoch().count());
    }
    std::string text = epoch;
    if (text.empty() || text.size() > 11 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return Failure{"SOURCE_DATE_EPOCH must be a number of seconds"};
    }
    return utc_text(std::stoll(text));
}

int refused(const std::vector<Refusal>& refusals, std::ostream& err) {
    for (const Refusal& r : refusals) err << r.line() << "\n";
    err << "duskfern-publish: refused, nothing was written\n";
    return 1;
}

int release(const std::map<std::string, std::string>& opt, std::ostream& out, std::ostream& err) {
    for (const char* required : {"--from", "--tag", "--out"}) {
        if (!opt.count(required)) return usage_error(err, std::string("release needs ") + required);
    }
    const std::string tag = opt.at("--tag");
    const std::string version = opt.count("--version") ? opt.at("--version") : df::setup::version_from_tag(tag);
    if (version.empty()) return usage_error(err, "--version must not be empty");
    auto published = publication_time();
    if (!published) return usage_error(err, published.error());

    std::optional<df::setup::EcPrivateKey> key;
    if (opt.count("--key")) {
        Result<df::setup::EcPrivateKey> read = read_key_file(path_from_utf8(opt.at("--key")));
        if (!read) {
            err << "duskfern-publish: " << read.error() << "\n";
            return 1;
        }
        key = *read;
    }

    const fs::path from = path_from_utf8(opt.at("--from"));
    const fs::path out_dir = path_from_utf8(opt.at("--out"));
    std::error_code ec;
    if (!fs::is_directory(from, ec)) {
        err << "duskfern-publish: " << opt.at("--from") << ": not a folder\n";
        return 1;
    }
    fs::path from_canonical = fs::canonical(from, ec);
    fs::path out_canonical = ec ? fs::path() : fs::weakly_canonical(out_dir, ec);
    if (ec) {
        err << "duskfern-publish: cannot resolve the folders: " << ec.message() << "\n";
        return 1;
    }

    std::vector<Refusal> refusals = check_tag(tag, version);
    if (lies_within(out_canonical, from_canonical)) {
        refusals.push_back({"--out " + opt.at("--out"), "lies inside the build folder, so a later release would publish it"});
    } else if (lies_within(from_canonical, out_canonical)) {
        refusals.push_back({"--from " + opt.at("--from"), "lies inside the output folder, which the tool rewrites"});
    }
    if (!refusals.empty()) return refused(refusals, err);  // nothing later runs on a refused tag
    const BuildFolder build = read_build_folder(from);
    std::vector<Refusal> found = check_files(build, version);
    refusals.insert(refusals.end(), found.begin(), found.end());
    if (!refusals.empty()) return refused(refusals, err);

    Trees trees{out_dir / "mirror", out_dir / "github" / path_from_utf8(tag)};
    WriteOptions options{key ? &*key : nullptr, opt.count("--replace") > 0, {}, true, opt.count("--no-packed") == 0};
    Result<Written> written = write_release(build.files, tag, version, *published, trees, options);
    if (!written) {
        err << "duskfern-publish: " << written.error() << "\n";
        return 1;
    }
    if (!written->refusals.empty()) return refused(written->refusals, err);
    out << "published " << tag << " (version " << version << "): " << written->files.size() << " files, "
        << written->bytes << " bytes" << (key ? ", manifest signed" : "");
    if (written->packed_size > 0) {
        out << "; packed copies: " << written->packed_bytes << " bytes as " << written->packed_size;
    }
    out << (written->changed ? "" : "; published so already, nothing changed") << "\n"
        << "mirror tree:  " << shown_path(trees.mirror) << "  (copy it to the mirror's base with tools/copy-release)\n"
        << "GitHub files: " << shown_path(trees.github) << "  (upload them to the release named " << tag
        << ", manifest.json and manifest.json.sig last)\n";
    return 0;
}

int new_key(const std::string& file, std::ostream& out, std::ostream& err) {
    const fs::path path = path_from_utf8(file);
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
        err << "duskfern-publish: " << file << ": already exists; the tool never replaces a key file\n";
        return 1;
    }
    auto key = df::setup::ecdsa_p256_generate();
    Result<> made = key ? create_private_file(path, key_file_text(*key)) : Result<>(Failure{"the system cannot make a key"});
    if (!made) {
        err << "duskfern-publish: " << file << ": " << made.error() << "\n";
        return 1;
    }
    out << "wrote the private key to " << file << " (readable only by you; keep it offline, never in the repository)\n"
        << "build the setup that pins its public key with\n"
        << "  " << public_key_option(key->xy) << "\n";
    return 0;
}

}  // namespace

int run_cli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (std::find_if(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; }) !=
        args.end()) {
        out << HELP << "\n" << USAGE;
        return 0;
    }
    if (args.empty()) return usage_error(err, "no command given");
    if (args[0] == "new-key") {
        if (args.size() != 2) return usage_error(err, "new-key needs exactly one KEYFILE");
        return new_key(args[1], out, err);
    }
    if (args[0] != "release") return usage_error(err, "unknown command " + args[0]);
    std::map<std::string, std::string> opt;
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (name == "--replace" || name == "--no-packed") {  // the options without a value
            if (!opt.emplace(name, "").second) return usage_error(err, name + " given twice");
            --i;
            continue;
        }
        if (name != "--from" && name != "--tag" && name != "--out" && name != "--version" && name != "--key") {
            return usage_error(err, "unknown option " + name);
        }
        if (i + 1 >= args.size()) return usage_error(err, name + " needs a value");
        if (!opt.emplace(name, args[i + 1]).second) return usage_error(err, name + " given twice");
    }
    return release(opt, out, err);
}

}  // namespace df::publish
