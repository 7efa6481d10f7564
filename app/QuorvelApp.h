#pragma once

// The process entry: the application object and its one window.
namespace QuorvelApp {
int run(int argc, char** argv);
}
