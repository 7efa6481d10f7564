#include "platform/AudioErrors.h"

#include "platform/AudioDevices.h"
#include "platform/Log.h"

namespace quorvel::AudioErrors {

Error make(std::string sentence, const Detail& detail, long code) {
    Error error{AudioStatus::errorDomain, code, std::move(sentence)};
    if (detail.library.empty()) return error;
    error.debugDescription = std::string(detail.library) + " " + std::to_string(detail.code) + ": " +
                             std::string(detail.text.empty() ? "(no text)" : detail.text);
    Log::warning(Log::Area::audio, error.description + " (" + error.debugDescription + ")");
    return error;
}

}  // namespace quorvel::AudioErrors
