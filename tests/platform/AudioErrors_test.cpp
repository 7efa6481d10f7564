#include "platform/AudioErrors.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"
#include "platform/Log.h"
#include "platform/PulseStream.h"

namespace quorvel {

namespace {

std::vector<std::string> g_audioWarnings;

void noteAudioWarning(Log::Area area, Log::Level level, std::string_view message) {
    if (area == Log::Area::audio && level == Log::Level::warning) g_audioWarnings.emplace_back(message);
}

}  // namespace

// The user's Error carries our sentence only; what the library said goes to the log and rides along as the
// Error's debugDescription. A PulseAudio stream that finds no server is one such case.
TEST(AudioErrors, TheUserReadsOurSentenceAndTheLogWhatTheLibrarySaid) {
    g_audioWarnings.clear();
    Log::setSink(&noteAudioWarning);
    const Error opened = AudioErrors::make("The audio device Scarlett could not be opened",
                                           {"RtAudio", 8, "RtApiAlsa::probeDeviceOpen: pcm device busy"});
    EXPECT_EQ(opened, (Error{AudioStatus::errorDomain, 0, "The audio device Scarlett could not be opened",
                             "RtAudio 8: RtApiAlsa::probeDeviceOpen: pcm device busy"}));
    const Error ours = AudioErrors::make("The JACK server stopped", {}, 3);
    EXPECT_EQ(ours, (Error{AudioStatus::errorDomain, 3, "The JACK server stopped"}));

    const char* server = std::getenv("PULSE_SERVER");
    const std::string saved = server ? server : "";
    setenv("PULSE_SERVER", "unix:/nonexistent/quorvel/native", 1);
    PulseStream stream;
    const Status refused = stream.open({}, {"qv-stereo", "qv_stereo", 2, 48000}, {});
    if (server)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    Log::setSink(nullptr);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().description, "The PulseAudio server is not running");
    EXPECT_EQ(refused.error().debugDescription.rfind("PulseAudio ", 0), 0u)
        << refused.error().debugDescription;
    EXPECT_EQ(g_audioWarnings,
              (std::vector<std::string>{
                  "The audio device Scarlett could not be opened (RtAudio 8: RtApiAlsa::probeDeviceOpen: "
                  "pcm device busy)",
                  "The PulseAudio server is not running (" + refused.error().debugDescription + ")"}));
}

}  // namespace quorvel
