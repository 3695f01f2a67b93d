#include "ui/window.h"

namespace df::setup {

// Placeholder until the setup window lands.
int run_window(const std::wstring&) { return 0; }

}  // namespace df::setup
