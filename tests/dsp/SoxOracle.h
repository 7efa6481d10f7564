#pragma once
// sox as an independent oracle, and small file helpers for the signal and file-processing tests.
#include <string>
#include <vector>

namespace quorvel {

using Channels = std::vector<std::vector<float>>;

// Runs `sox <arguments>`; true when it exits 0 (a test failure otherwise).
bool runSox(const std::string& arguments);
// A whole file through the platform reader (empty on failure, with a test failure recorded).
Channels readChannels(const std::string& path, double* sampleRate = nullptr);
// A float WAV or CAF through the platform writer.
void writeChannels(const std::string& path, double sampleRate, const Channels& channels);
// Regular files directly in a folder.
int fileCount(const std::string& dir);

}  // namespace quorvel
