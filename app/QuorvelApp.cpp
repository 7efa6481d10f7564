#include "QuorvelApp.h"

#include <cstdio>

namespace QuorvelApp {
int run(int, char**) {
    std::puts("Quorvel: the application window is not built yet; the analysis core and its tests are.");
    return 0;
}
}  // namespace QuorvelApp
