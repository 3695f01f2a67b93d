#include "publish/checks.h"

#include "folder/folder_rules.h"
#include "job/plan.h"
#include "publish/release_writer.h"
#include "release/manifest.h"
#include "release/version.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace df::publish {
namespace {


std::string folded_ascii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Why the setup would not install path, or empty when it would: the plan's reason in words.
std::string install_problem(const std::string& path) {
    using df::setup::PathProblem;
    if (!is_valid_utf8(path)) return "a name that is not valid Unicode text";
    using df::setup::UnsafePath;
    switch (df::setup::path_problem(path)) {
        case PathProblem::unsafe:
            switch (df::setup::unsafe_path(path)) {
                case UnsafePath::length:
                    return "a path longer than the " + std::to_string(df::setup::MAX_RELATIVE_PATH_BYTES) +
                           " bytes the setup accepts";
                case UnsafePath::segment:  // names from a folder walk are never empty, "." or ".."
                    return "a path with an empty, \".\" or \"..\" segment, which the setup refuses";
                case UnsafePath::character:
                case UnsafePath::none:
                    break;
            }
            return "holds a character the setup refuses in a path (\\ : * ? \" < > | or a control character)";
        case PathProblem::trailing_dot_or_space:
            return "a name that ends in a dot or a space, which Windows drops";
        case PathProblem::reserved_name:
            return "a reserved device name on Windows (such as CON, NUL, COM1 or LPT1)";
        case PathProblem::preserved:
            return "a preserved path, which the setup never writes";
        case PathProblem::none:
            break;
    }
    return {};
}

// A clash of two paths in words, for the later one.
std::string conflict_reason(const df::setup::PathConflict& c) {
    switch (c.kind) {
        case df::setup::ConflictKind::part_file_of_earlier:
            return "the name of the part file through which the setup downloads " + printable_path(c.earlier);
        case df::setup::ConflictKind::earlier_is_part_file:
            return "the setup downloads it through a part file named " + printable_path(c.earlier) +
                   ", which the release also holds";
        case df::setup::ConflictKind::same_file:
            break;
    }
    return "names the same file on Windows as " + printable_path(c.earlier);
}

bool is_tag_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '+' || c == '-';
}

}  // namespace

std::vector<Refusal> check_tag(const std::string& tag, const std::string& version) {
    std::vector<Refusal> out;
    // Both go into the documents, which are UTF-8 text; the tag's refusal says all when both fail.
    for (const auto& [option, text] : {std::pair{"--tag ", &tag}, std::pair{"--version ", &version}}) {
        if (!is_valid_utf8(*text)) {
            out.push_back({option + printable_path(*text), "not valid UTF-8 text"});
            return out;
        }
    }
    const std::string shown = "--tag " + printable_path(tag);
    if (!df::setup::parse_version(tag)) {
        out.push_back({shown, "not a version the setup accepts (such as v1.4.0)"});
    } else if (!std::all_of(tag.begin(), tag.end(), is_tag_character)) {
        out.push_back({shown, "a tag names folders and URLs, so it may hold only letters, digits and . _ + -"});
    } else if (!df::setup::manifest_accepted(version, tag)) {
        out.push_back({"--version " + printable_path(version),
                       "does not match the tag " + tag + ", so the setup would refuse the manifest"});
    }
    return out;
}

std::vector<Refusal> check_files(const BuildFolder& build, const std::string& version) {
    std::vector<Refusal> out = build.refusals;
    std::vector<std::string> installable;
    std::vector<std::wstring> top_names;
    std::vector<PublishedFile> estimate;
    for (const SourceFile& f : build.files) {
        std::string problem = install_problem(f.path);
        if (!problem.empty()) {
            out.push_back({printable_path(f.path), problem});
            continue;
        }
        installable.push_back(f.path);
        // The executable's name is ASCII: widening byte by byte never makes another name match it.
        if (f.path.find('/') == std::string::npos) top_names.emplace_back(f.path.begin(), f.path.end());
        std::error_code ec;
        std::uint64_t size = std::filesystem::file_size(f.source, ec);
        estimate.push_back({f.path, ec ? 0 : size, std::string(64, '0'), df::setup::default_asset_name(f.path), std::nullopt});
    }

    for (const df::setup::PathConflict& c : df::setup::path_conflicts(installable)) {
        out.push_back({printable_path(c.later), conflict_reason(c)});
    }

    for (Refusal& r : check_asset_names(estimate)) out.push_back(std::move(r));
    std::stable_sort(out.begin(), out.end(), [](const Refusal& a, const Refusal& b) { return a.path < b.path; });

    if (df::setup::classify_contents(top_names) != df::setup::FolderContents::has_app) {
        out.push_back({"duskfern-overlay.exe",
                       "missing at the top of the build folder; without it a second run of the setup installs "
                       "into a Duskfern subfolder"});
    }
    std::size_t manifest_bytes = manifest_text(version, estimate).size();
    if (manifest_bytes > df::setup::MANIFEST_MAX_BYTES) {
        out.push_back({"manifest.json", "would be " + std::to_string(manifest_bytes) + " bytes, more than the " +
                                            std::to_string(df::setup::MANIFEST_MAX_BYTES) +
                                            " bytes the setup fetches"});
    }
    return out;
}

std::vector<Refusal> check_asset_names(const std::vector<PublishedFile>& files) {
    std::vector<Refusal> out;
    // Who holds each name, folded to lower case.
    std::map<std::string, std::string> owners = {{"manifest.json", "manifest.json"},
                                                 {"manifest.json.sig", "manifest.json.sig"}};
    auto check = [&](const std::string& path, const std::string& as, const std::string& name, std::string owner) {
        if (name.size() > df::setup::MAX_ASSET_NAME_BYTES) {
            out.push_back({printable_path(path), as + name + ", an asset name longer than the " +
                                                     std::to_string(df::setup::MAX_ASSET_NAME_BYTES) +
                                                     " bytes a file name may have"});
        } else if (auto [it, fresh] = owners.emplace(folded_ascii(name), std::move(owner)); !fresh) {
            out.push_back({printable_path(path), as + name + ", the asset name of " + it->second +
                                                     " when letter case is ignored"});
        }
    };
    for (const PublishedFile& f : files) {
        check(f.path, "published as ", f.asset, printable_path(f.path));
        if (f.packed) check(f.path, "packed as ", f.packed->asset, "the packed copy of " + printable_path(f.path));
    }
    return out;
}

}  // namespace df::publish
