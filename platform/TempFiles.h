#pragma once
// The system temporary folder and the renders kept there. Any thread.
#include <functional>
#include <string>

#include "platform/Result.h"
#include "platform/Uuid.h"

namespace quorvel {

namespace TempFiles {
// $TMPDIR if set and non-empty, else /tmp; no trailing slash.
std::string directory();

// Creates a new empty file directory() + "/" + prefix + "-" + <fresh upper-case UUID> + "." + extension
// (e.g. signal-<UUID>.wav), readable and writable by the user only, and returns its path. The temporary
// folder is shared with every user: a file or symbolic link that someone made under the name beforehand
// is never opened or followed (another name is tried), and once the file is ours, the folder's sticky
// bit keeps anyone else from swapping it, so the writer may open it again by name.
Result<std::string> create(const std::string& prefix, const std::string& extension);
// The same with each name's UUID drawn from `fresh`.
Result<std::string> create(const std::string& prefix, const std::string& extension,
                           const std::function<Uuid()>& fresh);

// Creates `path` as a new empty file of the user's only, failing (EEXIST) when anything, a dangling
// symbolic link included, already has that name.
Status createExclusive(const std::string& path);

// Removes a file if it exists; errors are ignored (the file may already be gone).
void removeQuietly(const std::string& path);
}  // namespace TempFiles

}  // namespace quorvel
