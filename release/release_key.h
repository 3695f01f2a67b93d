#pragma once
// The release signing key pinned into this setup at build time (CMake option
// DF_RELEASE_PUBLIC_KEY): the public point X||Y as 128 lower-case hex characters, or empty when
// manifests are not checked. It lives in a translation unit of its own (release_key.cpp) that
// only the executable links; nothing at run time can supply, replace or switch it off.
#include <string_view>

namespace df::setup {

std::string_view release_public_key();

}  // namespace df::setup
