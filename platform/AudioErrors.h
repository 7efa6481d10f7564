#pragma once
// One rule for the failures of every sound system (JACK, PulseAudio, ALSA through RtAudio): the user reads
// our own sentence, which names the device or the server ("The audio device qv-six could not be opened");
// the log gets that sentence with what the library said, its name, code and text (libjack's decoded
// status, pa_strerror, RtAudio's message), which the Error keeps as its debugDescription. A library's text
// never reaches Error::description.
//
// Threads: any thread except an audio callback (both allocate; make() with a detail logs).
#include <string>
#include <string_view>

#include "platform/Result.h"

namespace quorvel::AudioErrors {

// What a library said about a failure.
struct Detail {
    std::string_view library;  // "JACK", "PulseAudio", "RtAudio"; empty: none said anything
    long code = 0;             // the library's own code
    std::string_view text;     // the library's own text
};

// The Error for the user: `sentence` in the domain AudioStatus::errorDomain with our `code`. A detail is
// kept as the debugDescription ("RtAudio 8: …") and logged as a warning with the sentence.
Error make(std::string sentence, const Detail& detail = {}, long code = 0);

}  // namespace quorvel::AudioErrors
