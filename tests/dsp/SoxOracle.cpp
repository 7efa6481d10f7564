#include "SoxOracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "TestHome.h"
#include "platform/AudioFile.h"

namespace quorvel {

namespace fs = std::filesystem;

bool runSox(const std::string& arguments) {
    const std::string command = "sox " + arguments + " 2>/dev/null";
    const bool ok = std::system(command.c_str()) == 0;
    if (!ok) ADD_FAILURE() << "failed: " << command;
    return ok;
}

double soxStat(const std::string& path, const std::string& label) {
    std::string input = path;
    if (path.ends_with(".caf")) {
        // sox reads float CAF through libsndfile scaled to its own peak; hand it a float WAV instead.
        double rate = 0;
        const Channels channels = readChannels(path, &rate);
        input = TestHome::freshDir("stats") + "/" + fs::path(path).stem().string() + ".wav";
        writeChannels(input, rate, channels);
    }
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("sox '" + input + "' -n stats 2>&1").c_str(), "r"),
                                               pclose);
    char line[512];
    while (pipe && std::fgets(line, sizeof line, pipe.get()))
        if (std::string text(line); text.rfind(label, 0) == 0) return std::stod(text.substr(label.size()));
    ADD_FAILURE() << "no '" << label << "' in sox stats of " << path;
    return NAN;
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
