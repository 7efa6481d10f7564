#pragma once
// The system temporary folder and the names of the renders kept there.
#include <string>

namespace quorvel {

namespace TempFiles {
// $TMPDIR if set and non-empty, else /tmp; no trailing slash.
std::string directory();
// directory() + "/" + prefix + "-" + <fresh upper-case UUID> + "." + extension, e.g. signal-<UUID>.wav.
std::string freshPath(const std::string& prefix, const std::string& extension);
// Removes a file if it exists; errors are ignored (the file may already be gone). Any thread.
void removeQuietly(const std::string& path);
}  // namespace TempFiles

}  // namespace quorvel
