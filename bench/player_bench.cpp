// The stereo file player with a long file: a 60-minute 44.1 kHz FLAC played on a 48 kHz JACK server
// (private, dummy driver). Prints the peak resident memory above the idle process and how long a seek
// takes to answer, i.e. until the first sample of the new position has left the player (the position
// moves on from the target only once it has), next to their targets.
//
// Memory is the process's private resident memory (RssAnon), sampled every 0.2 ms while it plays and
// seeks. The JACK client also maps the server's shared segment (about 100 MB on jackd2 1.9.21): it is the
// server's, the same for any client, and is printed apart.
//
//   player_bench [--seeks=N]     (--benchmark_* arguments of scripts/bench are accepted; a
//                                 --benchmark_filter that does not match "player" skips the run)
//
// The FLAC is made once beside the program (about 40 s) and kept for later runs.
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AudioFilePlayer.h"
#include "platform/LinuxAudioSystem.h"
#include "tests/support/JackTestServer.h"

using namespace quorvel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double peakTargetMB = 64;
constexpr double seekTargetMS = 50;

int fail(const std::string& what) {
    std::fprintf(stderr, "player_bench: %s\n", what.c_str());
    return 1;
}

// A field of /proc/self/status in MB ("VmRSS", "RssAnon", "VmHWM").
double statusMB(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
    return 0;
}

// 60 minutes of a slow 16-bit sweep with a little noise: compresses like music, not like silence.
bool makeFlac(const std::string& path) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open((path + ".part").c_str(), SFM_WRITE, &info);
    if (!f) return false;
    std::vector<float> block(2 * 65536);
    std::minstd_rand random(7);
    std::uniform_real_distribution<float> noise(-0.01f, 0.01f);
    double phase = 0;
    const std::int64_t frames = 3600LL * 44100;
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t n = std::min<std::int64_t>(65536, frames - done);
        for (std::int64_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / 44100;
            phase += 2 * std::numbers::pi * (200 + 150 * std::sin(t / 10)) / 44100;
            const auto v = static_cast<float>(0.3 * std::sin(phase));
            block[static_cast<std::size_t>(2 * i)] = v + noise(random);
            block[static_cast<std::size_t>(2 * i + 1)] = v + noise(random);
        }
        if (sf_writef_float(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
        done += n;
    }
    if (sf_close(f) != 0) return false;
    std::filesystem::rename(path + ".part", path);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int seeks = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--seeks=", 0) == 0) seeks = std::stoi(arg.substr(8));
        if (arg.rfind("--benchmark_filter=", 0) == 0 &&
            !std::regex_search("player", std::regex(arg.substr(19)))) {
            std::printf("player_bench: skipped by the filter\n");
            return 0;
        }
    }
    const std::string flac =
        (std::filesystem::canonical("/proc/self/exe").parent_path() / "player-bench-60min.flac").string();
    if (!std::filesystem::exists(flac)) {
        std::printf("making %s ...\n", flac.c_str());
        std::fflush(stdout);
        if (!makeFlac(flac)) return fail("cannot write " + flac);
    }

    JackTestServer server("qv-bench-player-" +
                          std::to_string(std::hash<std::string>{}(std::string(argv[0])) % 1000000));
    if (!server.start()) return fail("jackd did not start");
    LinuxAudioSystem system({"jack"});
    if (system.defaultOutputDevice() == 0) return fail("no JACK output");
    const double idleMB = statusMB("RssAnon"), idleTotalMB = statusMB("VmRSS");
    double peakMB = 0;
    auto sample = [&] { peakMB = std::max(peakMB, statusMB("RssAnon") - idleMB); };

    const auto opening = Clock::now();
    auto player = AudioFilePlayer::open(flac, system);
    if (!player) return fail("open: " + player.error().description);
    const double openMS = std::chrono::duration<double, std::milli>(Clock::now() - opening).count();
    AudioFilePlayer& p = **player;
    sample();
    if (!p.play()) return fail("play failed");
    for (const auto until = Clock::now() + std::chrono::seconds(2); Clock::now() < until;) {
        sample();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    std::minstd_rand random(11);
    std::uniform_real_distribution<double> where(0, p.duration() - 5);
    std::vector<double> answers;
    for (int i = 0; i < seeks; ++i) {
        // Whole frames, so that the position read back equals the target until the player moves on.
        const double target = std::round(where(random) * 48000) / 48000;
        const auto asked = Clock::now();
        p.setCurrentTime(target);
        while (p.currentTime() == target && Clock::now() - asked < std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        answers.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        // An uneven pause, so that the seeks fall at every phase of the server's period.
        for (const auto until = Clock::now() + std::chrono::milliseconds(100 + 7 * i);
             Clock::now() < until;) {
            sample();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    const bool stillPlaying = p.isPlaying();
    const double peakTotalMB = statusMB("VmHWM") - idleTotalMB;
    player->reset();

    std::sort(answers.begin(), answers.end());
    const double median = answers.empty() ? 0 : answers[answers.size() / 2];
    const double worst = answers.empty() ? 0 : answers.back();
    std::printf("60-minute 44.1 kHz FLAC on a 48 kHz JACK server (open took %.0f ms, %s)\n", openMS,
                stillPlaying ? "played throughout" : "STOPPED PLAYING");
    std::printf("%-36s %12s %12s %8s\n", "", "measured", "target", "ratio");
    std::printf("%-36s %9.1f MB %9.0f MB %8.2f\n", "peak private memory above idle", peakMB, peakTargetMB,
                peakMB / peakTargetMB);
    std::printf("%-36s %9.1f MB\n", "  the same with JACK's shared segment", peakTotalMB);
    std::printf("%-36s %9.1f ms %9.0f ms %8.2f\n", "seek to first new sample, worst", worst, seekTargetMS,
                worst / seekTargetMS);
    std::printf("%-36s %9.1f ms %9.0f ms %8.2f\n", "seek to first new sample, median", median, seekTargetMS,
                median / seekTargetMS);
    return stillPlaying ? 0 : 1;
}
