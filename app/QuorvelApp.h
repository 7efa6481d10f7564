#pragma once
// The process entry: the application object and its one window, always in the workspace's dark look and
// never smaller than 840 × 680. No menus, no second window, and no command line: arguments are not read.

namespace quorvel {
namespace QuorvelApp {

// Runs the application until its window closes; returns the exit status. Without a display (no DISPLAY
// or WAYLAND_DISPLAY and no Qt platform chosen) it says so on standard error, names the headless way to
// run it, and returns 1. Main thread only.
int run(int argc, char** argv);

// True when the environment names a display or a Qt platform to show the window on.
bool hasDisplay();

}  // namespace QuorvelApp

}  // namespace quorvel
