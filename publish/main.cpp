// duskfern-publish: see publish/cli.h. On Windows the arguments arrive as UTF-16.
#include "publish/build_folder.h"
#include "publish/cli.h"

#include <iostream>

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::wstring_view a(argv[i]);
        auto arg = df::publish::utf8_name(std::u16string(a.begin(), a.end()));
        args.push_back(arg ? *arg : arg.error());
    }
    return df::publish::run_cli(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return df::publish::run_cli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
