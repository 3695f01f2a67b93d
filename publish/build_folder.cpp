#include "publish/build_folder.h"

#include "release/manifest.h"
#include "release/utf8.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

namespace df::publish {
namespace fs = std::filesystem;
using df::setup::append_utf8;
using df::setup::utf16_code_point;
using df::setup::utf16_sequence;
using df::setup::utf8_sequence;

namespace {

std::string escaped(const char* form, unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, form, value);
    return buf;
}

// text as UTF-8: each valid sequence (sequence gives its length) appended, each unit that starts
// none shown in form; a failure when there was one.
template <typename View, typename Sequence, typename Append>
Result<std::string> converted(View text, const char* form, Sequence sequence, Append append) {
    std::string out;
    bool ok = true;
    while (!text.empty()) {
        std::size_t n = sequence(text);
        if (n == 0) {
            ok = false;
            out += escaped(form, static_cast<unsigned>(static_cast<std::make_unsigned_t<typename View::value_type>>(text[0])));
            n = 1;
        } else {
            append(out, text, n);
        }
        text.remove_prefix(n);
    }
    if (!ok) return Failure{out};
    return out;
}

// One folder still to walk: where it is, its path prefix, and the canonical folders it lies in
// (itself included), so a link back to any of them is seen as a loop.
struct Pending {
    fs::path dir;
    std::string prefix;
    std::vector<fs::path> chain;
};

}  // namespace

bool lies_within(const fs::path& p, const fs::path& root) {
    return std::mismatch(root.begin(), root.end(), p.begin(), p.end()).first == root.end();
}

bool is_valid_utf8(std::string_view text) {
    while (!text.empty()) {
        std::size_t n = utf8_sequence(text);
        if (n == 0) return false;
        text.remove_prefix(n);
    }
    return true;
}

Result<std::string> utf8_name(std::string_view bytes) {
    return converted(bytes, "\\x%02X", utf8_sequence, [](std::string& out, std::string_view s, std::size_t n) {
        out.append(s.substr(0, n));
    });
}

Result<std::string> utf8_name(std::u16string_view utf16) {
    return converted(utf16, "\\u%04X", utf16_sequence, [](std::string& out, std::u16string_view s, std::size_t n) {
        append_utf8(out, utf16_code_point(s, n));
    });
}

Result<std::string> path_text(const fs::path& p) {
#ifdef _WIN32
    const std::wstring& n = p.native();
    return utf8_name(std::u16string(n.begin(), n.end()));
#else
    return utf8_name(std::string_view(p.native()));
#endif
}

std::string shown_path(const fs::path& p) {
    Result<std::string> text = path_text(p);
    return text ? *text : text.error();
}

fs::path path_from_utf8(const std::string& utf8) {
#ifdef _WIN32
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::path(utf8);
#endif
}

std::string printable_path(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        std::size_t n = utf8_sequence(text);
        auto c = static_cast<unsigned char>(text[0]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            out += escaped("\\x%02X", c);
            n = 1;
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    return out;
}

BuildFolder read_build_folder(const fs::path& root) {
    BuildFolder out;
    auto refuse = [&](const std::string& path, std::string reason) {
        out.refusals.push_back({printable_path(path), std::move(reason)});
    };
    std::error_code ec;
    fs::path root_canonical = fs::canonical(root, ec);
    if (ec) {
        refuse(".", "the build folder cannot be read: " + ec.message());
        return out;
    }
    std::vector<Pending> pending = {{root, "", {root_canonical}}};
    while (!pending.empty()) {
        Pending at = std::move(pending.back());
        pending.pop_back();
        fs::directory_iterator it(at.dir, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const fs::path& entry = it->path();
            Result<std::string> name = path_text(entry.filename());
            std::string rel = at.prefix + (name ? *name : name.error());
            if (!name) {
                refuse(rel, "a name that is not valid Unicode text");
                continue;
            }
            fs::file_status link = it->symlink_status(ec);
            if (ec) break;
            fs::file_status st = link;
            fs::path canonical = at.chain.back() / entry.filename();
            if (fs::is_symlink(link)) {
                canonical = fs::canonical(entry, ec);
                if (ec) {
                    ec.clear();
                    refuse(rel, "a link that leads nowhere");
                    continue;
                }
                if (!lies_within(canonical, root_canonical)) {
                    refuse(rel, "a link that leads outside the build folder");
                    continue;
                }
                st = fs::status(entry, ec);
                if (ec) break;
            }
            if (fs::is_regular_file(st)) {
                out.files.push_back({rel, entry});
            } else if (fs::is_directory(st)) {
                if (std::find(at.chain.begin(), at.chain.end(), canonical) != at.chain.end()) {
                    refuse(rel, "a link to a folder that holds it, which would repeat without end");
                } else if (rel.size() > df::setup::MAX_RELATIVE_PATH_BYTES) {
                    refuse(rel, "a folder nested so deep that its paths are longer than the setup accepts");
                } else {
                    std::vector<fs::path> chain = at.chain;
                    chain.push_back(canonical);
                    pending.push_back({entry, rel + "/", std::move(chain)});
                }
            } else {
                refuse(rel, "a special file (not a regular file, folder or link)");
            }
        }
        if (ec) {
            refuse(at.prefix.empty() ? "." : at.prefix.substr(0, at.prefix.size() - 1),
                   "a folder that cannot be read: " + ec.message());
            ec.clear();
        }
    }
    std::sort(out.files.begin(), out.files.end(), [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    std::stable_sort(out.refusals.begin(), out.refusals.end(),
                     [](const Refusal& a, const Refusal& b) { return a.path < b.path; });
    return out;
}

}  // namespace df::publish
