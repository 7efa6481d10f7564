#pragma once
// What the benches that time the window's main thread share: the thread's own CPU time, a median, and
// their command line (a number of openings, and the filter scripts/bench passes to every program).
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace quorvel::bench {

// The calling thread's own CPU time in ms, which other processes on a loaded machine do not inflate.
inline double threadMS() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Reads --openings=N (at least 1) into `openings`. False, after saying so, when a --benchmark_filter
// does not match `name`: the program is to be skipped.
inline bool readOpenings(int argc, char** argv, const char* name, int& openings) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--openings=", 0) == 0) openings = std::max(1, std::stoi(arg.substr(11)));
        if (arg.rfind("--benchmark_filter=", 0) == 0 &&
            !std::regex_search(name, std::regex(arg.substr(19)))) {
            const std::string program = argv[0];
            std::printf("%s: skipped by the filter\n", program.substr(program.rfind('/') + 1).c_str());
            return false;
        }
    }
    return true;
}

}  // namespace quorvel::bench
