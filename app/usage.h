#pragma once
// The text of --help and --version.

namespace app {

int printUsage();
int printVersion();

}  // namespace app
