// publish-release --files DIR --root DIR --base URL [--tag TAG]
// Publishes the files of DIR as a release under the server root DIR (both layouts).
#include "app/log.h"
#include "tools/publisher/publisher.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    std::wstring files, root, base, tag = L"v1.4.0";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::wstring name = argv[i];
        if (name == L"--files") files = argv[i + 1];
        else if (name == L"--root") root = argv[i + 1];
        else if (name == L"--base") base = argv[i + 1];
        else if (name == L"--tag") tag = argv[i + 1];
    }
    if (files.empty() || root.empty() || base.empty()) {
        std::fprintf(stderr, "usage: publish-release --files DIR --root DIR --base URL [--tag TAG]\n");
        return 2;
    }
    df::tools::ReleaseSpec release;
    release.tag = df::setup::to_utf8(tag);
    release.files = df::tools::files_of_folder(files);
    if (!df::tools::publish_release(root, df::setup::to_utf8(base), release)) {
        std::fprintf(stderr, "publish-release: could not write the release\n");
        return 1;
    }
    std::printf("published %s with %zu files\n", release.tag.c_str(), release.files.size());
    return 0;
}
