#include "platform/AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quorvel {

namespace {
// Frames converted between interleaved and per-channel layout per libsndfile call.
constexpr std::int64_t chunkFrames = 4096;

Error sndfileError(int code, const char* description) {
    return Error{"sndfile", code, description ? description : ""};
}

Error codeError(int code) { return sndfileError(code, sf_error_number(code)); }

std::string lowerExtension(const std::string& path) {
    auto slash = path.find_last_of('/');
    auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot);
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}
}  // namespace

// ---- AudioFormat

std::optional<AudioFormat> AudioFormat::standard(double sampleRate, int channelCount) {
    if (!std::isfinite(sampleRate) || sampleRate <= 0) return std::nullopt;
    if (channelCount < 1 || channelCount > maxChannels) return std::nullopt;
    return AudioFormat{channelCount, sampleRate};
}

// ---- AudioBuffer

AudioBuffer::AudioBuffer(const AudioFormat& format, std::int64_t frameCapacity)
    : format_(format), capacity_(std::max<std::int64_t>(frameCapacity, 0)) {
    assert(format.channelCount >= 1);
    const auto channels = static_cast<std::size_t>(std::max(format.channelCount, 0));
    const auto capacity = static_cast<std::size_t>(capacity_);
    samples_.assign(channels * capacity, 0.0f);
    channels_.resize(channels);
    for (std::size_t c = 0; c < channels; ++c) channels_[c] = samples_.data() + c * capacity;
}

void AudioBuffer::setFrameLength(std::int64_t frames) {
    length_ = std::clamp<std::int64_t>(frames, 0, capacity_);
}

// ---- AudioFileReader

Result<AudioFileReader> AudioFileReader::open(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return sndfileError(sf_error(nullptr), sf_strerror(nullptr));
    if (info.samplerate < minRateHz || info.samplerate > maxRateHz) {
        sf_close(file);
        return Error{errorDomain, unsupportedRateCode,
                     "The file's sample rate of " + std::to_string(info.samplerate) +
                         " Hz is outside the supported 1000 to 768000 Hz"};
    }
    auto format = AudioFormat::standard(info.samplerate, info.channels);
    if (!format) {
        sf_close(file);
        return codeError(SF_ERR_UNSUPPORTED_ENCODING);
    }
    // Integer data reads as -1 ... 1 (libsndfile's default); float data reads unchanged.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    AudioFileReader reader;
    reader.file_ = file;
    reader.format_ = *format;
    reader.length_ = std::max<sf_count_t>(info.frames, 0);
    reader.lengthIsEstimate_ = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
    reader.interleaved_.resize(static_cast<std::size_t>(chunkFrames * format->channelCount));
    return reader;
}

AudioFileReader::AudioFileReader(AudioFileReader&& other) noexcept { *this = std::move(other); }

AudioFileReader& AudioFileReader::operator=(AudioFileReader&& other) noexcept {
    if (this != &other) {
        if (file_) sf_close(file_);
        file_ = std::exchange(other.file_, nullptr);
        format_ = other.format_;
        length_ = other.length_;
        position_ = other.position_;
        filePosition_ = other.filePosition_;
        lengthIsEstimate_ = other.lengthIsEstimate_;
        nonFinite_ = other.nonFinite_;
        interleaved_ = std::move(other.interleaved_);
    }
    return *this;
}

AudioFileReader::~AudioFileReader() {
    if (file_) sf_close(file_);
}

Error AudioFileReader::lastError() const { return sndfileError(sf_error(file_), sf_strerror(file_)); }

Error AudioFileReader::endedEarlyError() { return codeError(SF_ERR_MALFORMED_FILE); }

Status AudioFileReader::read(AudioBuffer& buffer, std::int64_t frameCount) {
    assert(buffer.channelCount() == format_.channelCount);
    buffer.setFrameLength(0);
    if (!file_) return codeError(SF_ERR_SYSTEM);
    if (buffer.channelCount() != format_.channelCount) return codeError(SF_ERR_UNSUPPORTED_ENCODING);

    if (position_ != filePosition_) {
        if (sf_seek(file_, position_, SEEK_SET) < 0) {
            // A position at or past the end simply has nothing left to read.
            if (position_ >= length_) return Status::success();
            return lastError();
        }
        filePosition_ = position_;
    }

    const std::int64_t wanted = std::clamp<std::int64_t>(frameCount, 0, buffer.frameCapacity());
    const int channels = format_.channelCount;
    std::int64_t done = 0;
    while (done < wanted) {
        const std::int64_t ask = std::min(chunkFrames, wanted - done);
        const sf_count_t got = sf_readf_float(file_, interleaved_.data(), ask);
        if (got > 0) {
            const float* in = interleaved_.data();
            for (int c = 0; c < channels; ++c) {
                float* out = buffer.channel(c) + done;
                for (sf_count_t i = 0; i < got; ++i) {
                    const float v = in[i * channels + c];
                    if (std::isfinite(v)) {
                        out[i] = v;
                    } else {
                        out[i] = 0.0f;
                        ++nonFinite_;
                    }
                }
            }
            done += got;
        }
        if (got < ask) {
            if (sf_error(file_) != SF_ERR_NO_ERROR) {
                position_ = filePosition_ = filePosition_ + done;
                buffer.setFrameLength(done);
                return lastError();
            }
            // The end of the data. An MP3's stated length is libsndfile's estimate (off by a few
            // hundred frames, either way); the end it actually reaches is the true length. Any other
            // file that ends before its stated length is cut short.
            const std::int64_t end = filePosition_ + done;
            if (lengthIsEstimate_) {
                length_ = end;
            } else if (end < length_) {
                position_ = filePosition_ = end;
                buffer.setFrameLength(done);
                return endedEarlyError();
            }
            break;
        }
    }
    buffer.setFrameLength(done);
    position_ = filePosition_ = filePosition_ + done;
    if (lengthIsEstimate_) length_ = std::max(length_, position_);
    return Status::success();
}

// ---- AudioFileWriter

Result<AudioFileWriter> AudioFileWriter::create(const std::string& path, const AudioFormat& format) {
    const std::string ext = lowerExtension(path);
    int container = 0;
    if (ext == ".wav")
        container = SF_FORMAT_WAV;
    else if (ext == ".caf")
        container = SF_FORMAT_CAF;
    else
        return codeError(SF_ERR_UNRECOGNISED_FORMAT);
    if (format.channelCount < 1 || format.channelCount > AudioFormat::maxChannels ||
        !(format.sampleRate >= 1 && format.sampleRate <= 2147483647.0) ||
        format.sampleRate != std::floor(format.sampleRate))
        return codeError(SF_ERR_UNSUPPORTED_ENCODING);

    SF_INFO info{};
    info.samplerate = static_cast<int>(format.sampleRate);
    info.channels = format.channelCount;
    info.format = container | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return sndfileError(sf_error(nullptr), sf_strerror(nullptr));
    // The PEAK chunk costs a scan of every sample written and nothing here reads it.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    AudioFileWriter writer;
    writer.file_ = file;
    writer.format_ = format;
    writer.interleaved_.resize(static_cast<std::size_t>(chunkFrames * format.channelCount));
    return writer;
}

AudioFileWriter::AudioFileWriter(AudioFileWriter&& other) noexcept { *this = std::move(other); }

AudioFileWriter& AudioFileWriter::operator=(AudioFileWriter&& other) noexcept {
    if (this != &other) {
        if (file_) sf_close(file_);
        file_ = std::exchange(other.file_, nullptr);
        format_ = other.format_;
        written_ = other.written_;
        interleaved_ = std::move(other.interleaved_);
    }
    return *this;
}

AudioFileWriter::~AudioFileWriter() {
    if (file_) sf_close(file_);
}

Error AudioFileWriter::lastError() const { return sndfileError(sf_error(file_), sf_strerror(file_)); }

Status AudioFileWriter::write(const AudioBuffer& buffer) {
    assert(buffer.channelCount() == format_.channelCount);
    if (!file_) return codeError(SF_ERR_SYSTEM);
    if (buffer.channelCount() != format_.channelCount) return codeError(SF_ERR_UNSUPPORTED_ENCODING);
    const int channels = format_.channelCount;
    const std::int64_t total = buffer.frameLength();
    for (std::int64_t done = 0; done < total;) {
        const std::int64_t n = std::min(chunkFrames, total - done);
        float* out = interleaved_.data();
        for (int c = 0; c < channels; ++c) {
            const float* in = buffer.channel(c) + done;
            for (std::int64_t i = 0; i < n; ++i) out[i * channels + c] = in[i];
        }
        const sf_count_t put = sf_writef_float(file_, out, n);
        if (put > 0) written_ += put;
        if (put != n) {
            Error e = lastError();
            // A short write with no error recorded (should not happen) still must not pass as success.
            return e.code != SF_ERR_NO_ERROR ? e : codeError(SF_ERR_SYSTEM);
        }
        done += n;
    }
    return Status::success();
}

Status AudioFileWriter::close() {
    if (!file_) return Status::success();
    // Closing writes the final header (the data size); its failure is a failed file.
    const int code = sf_close(std::exchange(file_, nullptr));
    if (code != SF_ERR_NO_ERROR) return codeError(code);
    return Status::success();
}

}  // namespace quorvel
