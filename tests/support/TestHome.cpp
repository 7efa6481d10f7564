#include "TestHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
std::string g_root;
int g_counter = 0;

void removeRoot() {
    if (!g_root.empty() && !std::getenv("QUORVEL_KEEP_TEST_HOME")) {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    }
}
}  // namespace

namespace TestHome {
void install() {
    if (!g_root.empty()) return;
    std::string pattern = (fs::temp_directory_path() / "quorvel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create test home");
    g_root = pattern;
    for (const char* sub : {"data", "config", "cache", "runtime", "tmp"})
        fs::create_directories(g_root + "/" + sub);
    fs::permissions(g_root + "/runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("XDG_DATA_HOME", (g_root + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_root + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (g_root + "/cache").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (g_root + "/runtime").c_str(), 1);
    setenv("TMPDIR", (g_root + "/tmp").c_str(), 1);
    std::atexit(removeRoot);
}

const std::string& root() { return g_root; }

std::string freshDir(const std::string& label) {
    std::string dir = g_root + "/t" + std::to_string(++g_counter) + "-" + label;
    fs::create_directories(dir);
    return dir;
}
}  // namespace TestHome
