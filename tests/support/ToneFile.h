#pragma once
// A real track for the UI tests: a short stereo WAV file of a quiet 1 kHz tone at 48 kHz.
#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstdint>

#include "platform/AudioFile.h"

namespace quorvel {

inline void writeTone(const QString& path, double seconds = 0.25) {
    const auto frames = std::int64_t(seconds * 48000);
    AudioBuffer buffer(*AudioFormat::standard(48000, 2), frames);
    buffer.setFrameLength(frames);
    for (std::int64_t i = 0; i < frames; ++i)
        buffer.channel(0)[i] = buffer.channel(1)[i] =
            float(0.25 * std::sin(2 * M_PI * 1000 * double(i) / 48000));
    auto writer = AudioFileWriter::create(path.toStdString(), buffer.format());
    ASSERT_TRUE(writer && writer->write(buffer) && writer->close()) << path.toStdString();
}

}  // namespace quorvel
