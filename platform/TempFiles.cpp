#include "platform/TempFiles.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Uuid.h"

namespace quorvel {

namespace TempFiles {
std::string directory() {
    const char* dir = std::getenv("TMPDIR");
    std::string d = (dir && *dir) ? dir : "/tmp";
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

std::string freshPath(const std::string& prefix, const std::string& extension) {
    return directory() + "/" + prefix + "-" + Uuid::generate().toString() + "." + extension;
}

void removeQuietly(const std::string& path) {
    if (!path.empty()) std::remove(path.c_str());
}
}  // namespace TempFiles

}  // namespace quorvel
