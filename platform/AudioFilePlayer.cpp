#include "platform/AudioFilePlayer.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

Error noOutput(std::string description) {
    return Error{AudioStatus::errorDomain, AudioFilePlayer::noOutputCode, std::move(description)};
}

}  // namespace

Result<std::shared_ptr<AudioFileStream>> AudioFilePlayer::load(const std::string& path, double outputRateHz) {
    if (!AudioFormat::standard(outputRateHz, 2)) return noOutput("No audio output is available");
    auto stream = AudioFileStream::open(path, outputRateHz);
    if (!stream) return stream.error();
    return std::shared_ptr<AudioFileStream>(std::move(*stream));
}

double AudioFilePlayer::outputRate(AudioEngine& engine) {
    const DeviceFormat f = engine.outputFormat();
    return f.channelCount > 0 && f.sampleRateHz > 0 ? f.sampleRateHz : 0;
}

Result<std::unique_ptr<AudioFilePlayer>> AudioFilePlayer::make(std::unique_ptr<AudioEngine> engine,
                                                               std::shared_ptr<AudioFileStream> audio) {
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

AudioFilePlayer::AudioFilePlayer(std::unique_ptr<AudioEngine> engine, std::shared_ptr<AudioFileStream> audio)
    : audio_(std::move(audio)), engine_(std::move(engine)) {
    rate_ = audio_->rate();
    mayWait_ = !engine_->realtime();
    engine_->setOutput(
        2, [this](float* const* out, int channels, std::int64_t frames) { render(out, channels, frames); },
        OutputLayout::mixToMono);
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
    if (failed_.load(std::memory_order_acquire)) engine_->stop();
    if (Status s = prepareToPlay(); !s) return s;
    return resume();
}

Status AudioFilePlayer::resume() {
    if (failed_.load(std::memory_order_acquire)) {
        std::lock_guard lock(failureMutex_);
        if (failure_) return *failure_;
    }
    if (!engine_->isRunning()) return noOutput("The audio output has stopped");
    if (audio_->position() >= audio_->length()) audio_->seek(0);
    playing_.store(true, std::memory_order_release);
    return Status::success();
}

void AudioFilePlayer::pause() { playing_.store(false, std::memory_order_relaxed); }

void AudioFilePlayer::stop() {
    playing_.store(false, std::memory_order_relaxed);
    engine_->stop();
}

bool AudioFilePlayer::isPlaying() const { return playing_.load(std::memory_order_relaxed); }

double AudioFilePlayer::currentTime() const { return static_cast<double>(audio_->position()) / rate_; }

void AudioFilePlayer::setCurrentTime(double seconds) {
    const double frames = std::isfinite(seconds) ? seconds * rate_ : 0;
    audio_->seek(static_cast<std::int64_t>(std::llround(std::clamp(frames, 0.0, 9.0e18))));
}

double AudioFilePlayer::duration() const { return static_cast<double>(audio_->length()) / rate_; }

void AudioFilePlayer::setLooping(bool endless) { audio_->setLooping(endless); }
bool AudioFilePlayer::looping() const { return audio_->looping(); }

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
    if (failed_.load(std::memory_order_acquire)) {
        std::lock_guard lock(failureMutex_);
        if (failure_) return failure_;
    }
    return audio_->failure();
}

void AudioFilePlayer::render(float* const* out, int channelCount, std::int64_t frameCount) {
    for (int c = 0; c < channelCount; ++c) std::fill(out[c], out[c] + frameCount, 0.0f);
    if (!playing_.load(std::memory_order_acquire) || channelCount < 2) {
        audio_->drain();
        return;
    }

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

    const AudioFileStream::Pulled pulled = audio_->pull(out[0], out[1], frameCount, mayWait_);
    for (std::int64_t t = 0; t < pulled.frames; ++t) {
        if (fadeLeft_ > 0) {
            gain_ += gainStep_;
            if (--fadeLeft_ == 0) gain_ = lastFade_.target;
        }
        out[0][t] = out[0][t] * gain_ * left;
        out[1][t] = out[1][t] * gain_ * right;
    }
    if (pulled.ended) playing_.store(false, std::memory_order_relaxed);
}

}  // namespace quorvel
