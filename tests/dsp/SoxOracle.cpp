#include "SoxOracle.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/AudioFile.h"

namespace quorvel {

namespace fs = std::filesystem;

bool runSox(const std::string& arguments) {
    const std::string command = "sox " + arguments + " 2>/dev/null";
    const bool ok = std::system(command.c_str()) == 0;
    if (!ok) ADD_FAILURE() << "failed: " << command;
    return ok;
}

Channels readChannels(const std::string& path, double* sampleRate) {
    auto reader = AudioFileReader::open(path);
    if (!reader.ok()) {
        ADD_FAILURE() << path << ": " << reader.error().description;
        return {};
    }
    if (sampleRate) *sampleRate = reader->processingFormat().sampleRate;
    Channels result(static_cast<std::size_t>(reader->processingFormat().channelCount));
    AudioBuffer block(reader->processingFormat(), 65536);
    for (;;) {
        if (Status status = reader->read(block); !status.ok()) {
            ADD_FAILURE() << path << ": " << status.error().description;
            return {};
        }
        if (block.frameLength() == 0) return result;
        for (std::size_t c = 0; c < result.size(); ++c)
            result[c].insert(result[c].end(), block.channel(static_cast<int>(c)),
                             block.channel(static_cast<int>(c)) + block.frameLength());
    }
}

void writeChannels(const std::string& path, double sampleRate, const Channels& channels) {
    const auto frames = static_cast<std::int64_t>(channels.at(0).size());
    AudioBuffer buffer(*AudioFormat::standard(sampleRate, static_cast<int>(channels.size())), frames);
    buffer.setFrameLength(frames);
    for (std::size_t c = 0; c < channels.size(); ++c)
        std::copy(channels[c].begin(), channels[c].end(), buffer.channel(static_cast<int>(c)));
    auto writer = AudioFileWriter::create(path, buffer.format());
    ASSERT_TRUE(writer.ok()) << writer.error().description;
    ASSERT_TRUE(writer->write(buffer).ok() && writer->close().ok());
}

int fileCount(const std::string& dir) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) n += entry.is_regular_file();
    return n;
}

}  // namespace quorvel
