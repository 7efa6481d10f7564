#include "platform/AudioFilePlayer.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace quorvel {

namespace {

Error noOutput(std::string description) {
    return Error{AudioStatus::errorDomain, AudioFilePlayer::noOutputCode, std::move(description)};
}

// Converts each channel from `fromHz` to `toHz` in one pass.
Result<std::vector<std::vector<float>>> convert(const std::vector<std::vector<float>>& channels,
                                                double fromHz, double toHz) {
    const std::size_t inFrames = channels.empty() ? 0 : channels[0].size();
    const auto outFrames =
        static_cast<std::size_t>(std::llround(static_cast<double>(inFrames) * toHz / fromHz));
    std::vector<std::vector<float>> out(channels.size(), std::vector<float>(outFrames));
    if (inFrames == 0 || outFrames == 0) return out;
    std::vector<const float*> in(channels.size());
    std::vector<float*> to(channels.size());
    for (std::size_t c = 0; c < channels.size(); ++c) {
        in[c] = channels[c].data();
        to[c] = out[c].data();
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    std::size_t done = 0;
    if (soxr_error_t e = soxr_oneshot(fromHz, toHz, static_cast<unsigned>(channels.size()), in.data(),
                                      inFrames, nullptr, to.data(), outFrames, &done, &io, &quality, nullptr))
        return Error{"soxr", 1, e};
    for (auto& c : out) c.resize(done);
    return out;
}

}  // namespace

Result<std::shared_ptr<const AudioBuffer>> AudioFilePlayer::load(const std::string& path,
                                                                 double outputRateHz) {
    auto reader = AudioFileReader::open(path);
    if (!reader) return reader.error();
    const AudioFormat source = reader->processingFormat();
    const int used = std::min(source.channelCount, 2);
    const auto outFormat = AudioFormat::standard(outputRateHz, 2);
    if (!outFormat) return noOutput("No audio output is available");
    try {
        // Read in blocks: a header's length may be an estimate (MP3) or wrong (a damaged file).
        std::vector<std::vector<float>> channels(static_cast<std::size_t>(used));
        AudioBuffer block(source, 65536);
        while (true) {
            if (Status s = reader->read(block); !s) return s.error();
            const std::int64_t n = block.frameLength();
            if (n == 0) break;
            for (int c = 0; c < used; ++c)
                channels[c].insert(channels[c].end(), block.channel(c), block.channel(c) + n);
        }
        if (source.sampleRate != outputRateHz) {
            auto converted = convert(channels, source.sampleRate, outputRateHz);
            if (!converted) return converted.error();
            channels = std::move(*converted);
        }
        const auto frames = static_cast<std::int64_t>(channels.empty() ? 0 : channels[0].size());
        auto buffer = std::make_shared<AudioBuffer>(*outFormat, frames);
        for (int c = 0; c < 2; ++c) {
            const auto& from = channels[static_cast<std::size_t>(std::min(c, used - 1))];
            std::copy(from.begin(), from.end(), buffer->channel(c));
        }
        buffer->setFrameLength(frames);
        return std::shared_ptr<const AudioBuffer>(std::move(buffer));
    } catch (const std::bad_alloc&) {
        return Error{"posix", ENOMEM, "The file is too long to be played"};
    }
}

double AudioFilePlayer::outputRate(AudioEngine& engine) {
    const DeviceFormat f = engine.outputFormat();
    return f.channelCount > 0 && f.sampleRateHz > 0 ? f.sampleRateHz : 0;
}

Result<std::unique_ptr<AudioFilePlayer>> AudioFilePlayer::make(std::unique_ptr<AudioEngine> engine,
                                                               std::shared_ptr<const AudioBuffer> audio) {
    if (!engine || outputRate(*engine) == 0) return noOutput("No audio output is available");
    std::unique_ptr<AudioFilePlayer> player(new AudioFilePlayer(std::move(engine), std::move(audio)));
    return player;
}

Result<std::unique_ptr<AudioFilePlayer>> AudioFilePlayer::open(const std::string& path, AudioSystem& system,
                                                               std::uint32_t outputDevice) {
    auto engine = system.makeEngine();
    if (const std::int32_t status = engine->bindOutput(outputDevice); status != 0)
        return noOutput("The audio output is unavailable (" + std::to_string(status) + ")");
    const double rate = outputRate(*engine);
    if (rate == 0) return noOutput("No audio output is available");
    auto audio = load(path, rate);
    if (!audio) return audio.error();
    return make(std::move(engine), std::move(*audio));
}

AudioFilePlayer::AudioFilePlayer(std::unique_ptr<AudioEngine> engine,
                                 std::shared_ptr<const AudioBuffer> audio)
    : audio_(std::move(audio)), engine_(std::move(engine)) {
    rate_ = audio_->format().sampleRate;
    length_ = audio_->frameLength();
    engine_->setOutput(
        2, [this](float* const* out, int channels, std::int64_t frames) { render(out, channels, frames); });
    engine_->setFailureHandler([this](const Error& e) {
        playing_.store(false, std::memory_order_relaxed);
        std::lock_guard lock(failureMutex_);
        failure_ = e;
        failed_.store(true, std::memory_order_release);
    });
}

AudioFilePlayer::~AudioFilePlayer() { engine_->stop(); }

Status AudioFilePlayer::prepareToPlay() {
    if (engine_->isRunning()) return Status::success();
    {
        std::lock_guard lock(failureMutex_);
        failure_.reset();
        failed_.store(false, std::memory_order_relaxed);
    }
    // A stream that failed has stopped delivering but still needs its stop().
    engine_->stop();
    return engine_->start();
}

Status AudioFilePlayer::play() {
    if (position_.load(std::memory_order_relaxed) >= length_) position_.store(0, std::memory_order_relaxed);
    if (failed_.load(std::memory_order_acquire)) engine_->stop();
    if (Status s = prepareToPlay(); !s) return s;
    playing_.store(true, std::memory_order_relaxed);
    return Status::success();
}

void AudioFilePlayer::pause() { playing_.store(false, std::memory_order_relaxed); }

void AudioFilePlayer::stop() {
    playing_.store(false, std::memory_order_relaxed);
    engine_->stop();
}

bool AudioFilePlayer::isPlaying() const { return playing_.load(std::memory_order_relaxed); }

double AudioFilePlayer::currentTime() const {
    return static_cast<double>(position_.load(std::memory_order_relaxed)) / rate_;
}

void AudioFilePlayer::setCurrentTime(double seconds) {
    const double frames = std::isfinite(seconds) ? seconds * rate_ : 0;
    position_.store(std::clamp(static_cast<std::int64_t>(std::llround(std::clamp(frames, 0.0, 9.0e18))),
                               std::int64_t{0}, length_),
                    std::memory_order_relaxed);
}

double AudioFilePlayer::duration() const { return static_cast<double>(length_) / rate_; }

void AudioFilePlayer::setLooping(bool endless) { looping_.store(endless, std::memory_order_relaxed); }
bool AudioFilePlayer::looping() const { return looping_.load(std::memory_order_relaxed); }

void AudioFilePlayer::setPan(float pan) {
    pan_.store(std::isnan(pan) ? 0.0f : std::clamp(pan, -1.0f, 1.0f), std::memory_order_relaxed);
}
float AudioFilePlayer::pan() const { return pan_.load(std::memory_order_relaxed); }

void AudioFilePlayer::setVolume(float volume, double fadeSeconds) {
    Fade f;
    f.target = std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f);
    const double frames = std::isfinite(fadeSeconds) ? fadeSeconds * rate_ : 0;
    f.frames = static_cast<std::uint32_t>(std::llround(std::clamp(frames, 0.0, 4.0e9)));
    fade_.store(f, std::memory_order_relaxed);
}

float AudioFilePlayer::volume() const { return fade_.load(std::memory_order_relaxed).target; }

std::optional<Error> AudioFilePlayer::failure() const {
    if (!failed_.load(std::memory_order_acquire)) return std::nullopt;
    std::lock_guard lock(failureMutex_);
    return failure_;
}

void AudioFilePlayer::render(float* const* out, int channelCount, std::int64_t frameCount) {
    for (int c = 0; c < channelCount; ++c) std::fill(out[c], out[c] + frameCount, 0.0f);
    if (!playing_.load(std::memory_order_relaxed) || channelCount < 2) return;

    // A new volume starts its fade from whatever sounds now.
    if (const Fade f = fade_.load(std::memory_order_relaxed); !(f == lastFade_)) {
        lastFade_ = f;
        fadeLeft_ = f.frames;
        if (f.frames == 0)
            gain_ = f.target;
        else
            gainStep_ = (f.target - gain_) / static_cast<float>(f.frames);
    }
    const float pan = pan_.load(std::memory_order_relaxed);
    const float left = pan > 0 ? 1.0f - pan : 1.0f;
    const float right = pan < 0 ? 1.0f + pan : 1.0f;
    const bool loop = looping_.load(std::memory_order_relaxed);
    const float* srcL = audio_->channel(0);
    const float* srcR = audio_->channel(1);

    const std::int64_t start = position_.load(std::memory_order_relaxed);
    std::int64_t pos = start;
    bool ended = false;
    for (std::int64_t t = 0; t < frameCount; ++t) {
        if (pos >= length_) {
            if (!loop || length_ == 0) {
                ended = true;
                break;
            }
            pos = 0;
        }
        if (fadeLeft_ > 0) {
            gain_ += gainStep_;
            if (--fadeLeft_ == 0) gain_ = lastFade_.target;
        }
        out[0][t] = srcL[pos] * gain_ * left;
        out[1][t] = srcR[pos] * gain_ * right;
        ++pos;
    }
    // A seek stored meanwhile by the owner wins; so does its play() after this block's end.
    std::int64_t expected = start;
    if (position_.compare_exchange_strong(expected, pos, std::memory_order_relaxed) && ended)
        playing_.store(false, std::memory_order_relaxed);
}

}  // namespace quorvel
