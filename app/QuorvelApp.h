#pragma once
// The process entry: the application object and its one window, always in the workspace's dark look and
// never smaller than 840 × 680. No menus, no second window, and no command line: arguments are not read.
// One Quorvel at a time uses a data folder: each store rewrites its whole file from memory, so a second
// process would erase the first one's changes.
#include <memory>

class QLockFile;
class QRect;
class QSize;
class QTemporaryDir;

namespace quorvel {
namespace QuorvelApp {

// Runs the application until its window closes; returns the exit status. Without a display (no DISPLAY
// or WAYLAND_DISPLAY and no Qt platform chosen) it says so on standard error, names the headless way to
// run it, and returns 1. Main thread only.
int run(int argc, char** argv);

// True when the environment names a display or a Qt platform to show the window on.
bool hasDisplay();

// Qt keeps the settings in $XDG_CONFIG_HOME/Quorvel/Quorvel.conf and saves that file as a store is
// saved, but it follows a link to anything (a device, a FIFO) and waits for ever to read a FIFO. When that
// file is anything but a regular file, or a link to anything else, this run's settings go to a folder of
// their own instead, which the returned object removes when it goes, the file is left alone and a warning
// goes to quorvel.store; otherwise returns nothing. Before any setting is read; main thread.
std::unique_ptr<QTemporaryDir> keepSettingsOffNonFiles();

enum class Claim { ours, anotherInstance };
// Takes `lock`, a lock file in the storage folder, for as long as it lives. A lock left by a process that
// has died is taken over. A lock file that cannot be made at all (a folder that cannot be written) claims
// nothing but is no reason to stay closed: the stores report that folder's fault themselves.
Claim claimDataFolder(QLockFile& lock);

// With the application object made: claims the storage folder and shows the window until it closes, or,
// when another Quorvel runs for this user, says "Quorvel is already running for this user." on standard
// error and in a message box, and returns 1 without showing anything else.
int start();

// The window's first size for a screen whose available area (the screen less its panels) is `available`:
// the default size, made smaller where that area, less room for the window manager's title bar and
// borders, is smaller; never below the smallest size.
QSize firstWindowSize(const QRect& available);

}  // namespace QuorvelApp

}  // namespace quorvel
