#include "release/release_key.h"

#ifndef DF_RELEASE_PUBLIC_KEY_TEXT
#error "release_key.cpp is built with DF_RELEASE_PUBLIC_KEY_TEXT (see release/CMakeLists.txt)"
#endif

namespace df::setup {

std::string_view release_public_key() { return DF_RELEASE_PUBLIC_KEY_TEXT; }

}  // namespace df::setup
