#include "platform/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorvel {

namespace TempFiles {
std::string directory() {
    const char* dir = std::getenv("TMPDIR");
    std::string d = (dir && *dir) ? dir : "/tmp";
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

Status createExclusive(const std::string& path) {
    // O_EXCL fails on any existing name, links included, and O_NOFOLLOW says so twice.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Error{"posix", errno, std::strerror(errno)};
    ::close(fd);
    return {};
}

Result<std::string> create(const std::string& prefix, const std::string& extension) {
    return create(prefix, extension, Uuid::generate);
}

Result<std::string> create(const std::string& prefix, const std::string& extension,
                           const std::function<Uuid()>& fresh) {
    // A fresh UUID is never taken by chance; a name that is taken was made on purpose, so try a few more.
    Error last;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string path = directory() + "/" + prefix + "-" + fresh().toString() + "." + extension;
        Status created = createExclusive(path);
        if (created) return path;
        last = created.error();
        if (last.code != EEXIST) break;
    }
    return last;
}

void removeQuietly(const std::string& path) {
    if (!path.empty()) std::remove(path.c_str());
}
}  // namespace TempFiles

}  // namespace quorvel
