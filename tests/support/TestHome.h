#pragma once
#include <string>

// A private home for one test process: XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR
// and TMPDIR all point below one fresh folder, removed at exit unless QUORVEL_KEEP_TEST_HOME is set.
namespace TestHome {
void install();
// The folder itself.
const std::string& root();
// A fresh empty folder below the home, for one test's files.
std::string freshDir(const std::string& label);
}  // namespace TestHome
