#pragma once
// Audio files and sample buffers over libsndfile.
//
// Samples in memory are always 32-bit float, one array per channel (non-interleaved); integer files
// are scaled to -1 ... 1 on reading. Files are read in any format libsndfile reads (WAV, AIFF, FLAC,
// Ogg Vorbis, Ogg Opus, MP3, CAF, …) and written as 32-bit float WAV or CAF.
//
// Every failure is an Error of the domain "sndfile" carrying libsndfile's own code and description,
// except the reader's refusal of an absurd sample rate (domain "audio-file").
//
// Samples that are not finite (NaN, infinities) never leave the reader: each one reads as 0 and is
// counted, so no gain, filter or output downstream ever meets one.
//
// Threads: formats and buffers are values for any thread. A reader or writer may be used from any
// thread, but by one thread at a time.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Result.h"

struct sf_private_tag;  // libsndfile's SNDFILE

namespace quorvel {

// Channel count and sample rate of float, non-interleaved audio.
struct AudioFormat {
    int channelCount = 0;
    double sampleRate = 0;  // Hz

    // Channels 1 ... maxChannels and a finite rate above 0; none otherwise.
    static std::optional<AudioFormat> standard(double sampleRate, int channelCount);
    static constexpr int maxChannels = 1024;

    bool operator==(const AudioFormat&) const = default;
};

// Float samples of one format: a fixed capacity in frames and a frame length of valid frames
// (0 ... capacity). Allocated once at construction; nothing here allocates afterwards, so a buffer
// made ahead of time may be filled on the audio thread. Move-only.
class AudioBuffer {
public:
    // Precondition: format from AudioFormat::standard, frameCapacity >= 0. Samples start at 0 and the
    // frame length at 0.
    AudioBuffer(const AudioFormat& format, std::int64_t frameCapacity);
    AudioBuffer(AudioBuffer&&) noexcept = default;
    AudioBuffer& operator=(AudioBuffer&&) noexcept = default;
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;

    const AudioFormat& format() const { return format_; }
    int channelCount() const { return format_.channelCount; }
    std::int64_t frameCapacity() const { return capacity_; }
    std::int64_t frameLength() const { return length_; }
    // Clamped to 0 ... frameCapacity().
    void setFrameLength(std::int64_t frames);

    // Channel c (0-based) holds frameCapacity() samples.
    float* channel(int c) { return channels_[static_cast<std::size_t>(c)]; }
    const float* channel(int c) const { return channels_[static_cast<std::size_t>(c)]; }
    // One pointer per channel.
    float* const* channels() { return channels_.data(); }

private:
    AudioFormat format_;
    std::int64_t capacity_ = 0;
    std::int64_t length_ = 0;
    std::vector<float> samples_;
    std::vector<float*> channels_;
};

// A file opened for reading. Move-only; the file closes when the reader goes.
class AudioFileReader {
public:
    // Files outside this range are refused at open: a 1 Hz file would grow 48000-fold on its way to
    // the output, and nothing real is recorded at such rates.
    static constexpr double minRateHz = 1000;
    static constexpr double maxRateHz = 768000;
    static constexpr const char* errorDomain = "audio-file";
    static constexpr long unsupportedRateCode = 1;

    // Fails with libsndfile's error, or (errorDomain, unsupportedRateCode) for a rate outside
    // minRateHz ... maxRateHz.
    static Result<AudioFileReader> open(const std::string& path);

    AudioFileReader(AudioFileReader&&) noexcept;
    AudioFileReader& operator=(AudioFileReader&&) noexcept;
    ~AudioFileReader();

    // The file's channel count and sample rate.
    const AudioFormat& processingFormat() const { return format_; }
    // Frames in the file. Exact for most formats. For MP3 libsndfile only estimates it from the header
    // (lengthIsEstimate()): there the length follows the data, growing as reads pass it and becoming
    // exact when a read meets the end.
    std::int64_t length() const { return length_; }
    bool lengthIsEstimate() const { return lengthIsEstimate_; }
    // The frame the next read starts at. Setting it is checked by the next read.
    std::int64_t framePosition() const { return position_; }
    void setFramePosition(std::int64_t frame) { position_ = frame < 0 ? 0 : frame; }

    // Reads up to min(frameCount, buffer capacity) frames from the position into the buffer, sets the
    // buffer's frame length to the frames read and advances the position by as many. A read that
    // brings fewer frames than asked has met the end of the data, and the next brings none; read until
    // a read brings none, since an estimated length may be short of the data.
    // Where the data ends is checked here, for every caller alike: before an exact stated length the
    // file is cut short or damaged, and the read fails with endedEarlyError() (the frames it did get are
    // in the buffer); with an estimated length, the end is the true length. Precondition: the buffer
    // has the processing format's channel count.
    Status read(AudioBuffer& buffer, std::int64_t frameCount);
    Status read(AudioBuffer& buffer) { return read(buffer, buffer.frameCapacity()); }

    // Samples read so far that were not finite and read as 0.
    std::int64_t nonFiniteSamples() const { return nonFinite_; }

    // The error for data that ends before the stated length, in libsndfile's words.
    static Error endedEarlyError();

private:
    AudioFileReader() = default;
    Error lastError() const;

    sf_private_tag* file_ = nullptr;
    AudioFormat format_;
    std::int64_t length_ = 0;
    std::int64_t position_ = 0;      // where the caller wants to read next
    std::int64_t filePosition_ = 0;  // where libsndfile stands
    bool lengthIsEstimate_ = false;
    std::int64_t nonFinite_ = 0;
    std::vector<float> interleaved_;
};

// A 32-bit float file being written: WAV for a path ending ".wav", CAF for ".caf" (either letter
// case). Move-only; dropping a writer without close() closes the file and ignores errors.
class AudioFileWriter {
public:
    // Creates (or truncates) the file. Precondition: format from AudioFormat::standard; the rate
    // must be a whole number of Hz, which is all the containers can store.
    static Result<AudioFileWriter> create(const std::string& path, const AudioFormat& format);

    AudioFileWriter(AudioFileWriter&&) noexcept;
    AudioFileWriter& operator=(AudioFileWriter&&) noexcept;
    ~AudioFileWriter();

    const AudioFormat& format() const { return format_; }
    // Frames written so far.
    std::int64_t length() const { return written_; }

    // Appends the buffer's frameLength() frames. Precondition: the buffer has the file's channel count.
    Status write(const AudioBuffer& buffer);
    // Completes the header and closes the file; later writes fail.
    Status close();

private:
    AudioFileWriter() = default;
    Error lastError() const;

    sf_private_tag* file_ = nullptr;
    AudioFormat format_;
    std::int64_t written_ = 0;
    std::vector<float> interleaved_;
};

}  // namespace quorvel
