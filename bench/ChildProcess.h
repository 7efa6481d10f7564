#pragma once
// What the store benchmarks share: each measurement runs in a child process of its own (this program,
// started again with other arguments), so that memory figures start from a fresh process.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace quorvel::bench {

// A line of /proc/self/status in kB ("VmRSS", "VmHWM"); 0 when it is missing.
inline double statusKB(const char* key) {
    std::ifstream status("/proc/self/status");
    const std::string name = key;
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(name, 0) == 0 && line.size() > name.size() && line[name.size()] == ':')
            return std::atof(line.c_str() + name.size() + 1);
    return 0;
}

// The path of this program, to start it again.
inline std::string executablePath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return std::string(buffer, std::size_t(n > 0 ? n : 0));
}

// Runs the program `self` with `arguments` (under an address-space limit of `limit` bytes unless it is 0)
// and returns what it printed.
inline std::string runChild(const std::string& self, const std::vector<std::string>& arguments,
                            rlim_t limit = 0) {
    int ends[2];
    if (pipe(ends) != 0) std::abort();
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], 1);
        close(ends[0]);
        if (limit) {
            const rlimit bound{limit, limit};
            setrlimit(RLIMIT_AS, &bound);
        }
        std::vector<char*> argv{const_cast<char*>(self.c_str())};
        for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(self.c_str(), argv.data());
        _exit(127);
    }
    close(ends[1]);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) > 0;) out.append(buffer, std::size_t(n));
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return out;
}

}  // namespace quorvel::bench
