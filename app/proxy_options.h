#pragma once
// The run's proxy from the command line: "--proxy", and in the silent flow the credentials of
// "--proxy-user" and DUSKFERN_PROXY_PASSWORD (Windows).
#include "app/command_line.h"
#include "net/proxy.h"

#include <string>

namespace df::setup {

// The proxy settings of the options: named when "--proxy" is given; the silent flow's
// credential source. Empty error when accepted; else "bad --proxy", after logging
// "--proxy refused: " + why, then "bad --proxy".
ProxySettings proxy_settings(const Options& o, std::string& error);

}  // namespace df::setup
