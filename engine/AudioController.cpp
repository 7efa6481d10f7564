#include "engine/AudioController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <utility>

#include "core/MainThread.h"
#include "core/Published.h"
#include "dsp/SignalRenderer.h"
#include "engine/AudioHardware.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {

QString text(const Error& error) { return QString::fromStdString(error.description); }

// The pan of the route, or of the ping-pong side.
float panFor(bool pingPong, AudioController::Side side, AudioController::Route route) {
    if (pingPong) return side == AudioController::Side::left ? -1.0f : 1.0f;
    if (route == AudioController::Route::left) return -1.0f;
    if (route == AudioController::Route::right) return 1.0f;
    return 0;
}

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

AudioController::AudioController(QObject* parent) : AudioController(Setup{}, parent) {}

AudioController::AudioController(Setup setup, QObject* parent) : QObject(parent), setup_(std::move(setup)) {
    if (!setup_.clock) setup_.clock = steadySeconds;
    if (!setup_.render) setup_.render = FileProcessor::render;
    started_ = setup_.clock();
    tickTimer_.setTimerType(Qt::PreciseTimer);
    connect(&tickTimer_, &QTimer::timeout, this, &AudioController::tick);
    connect(&musicTimer_, &QTimer::timeout, this, &AudioController::pollMusic);
}

// Shutting down while a track renders: the render stops at its next block and removes its file.
AudioController::~AudioController() { cancelRender(); }

float AudioController::volumeFor(double levelDB, double trimDB) {
    const double gain = std::min(levelDB + trimDB, 0.0);
    return static_cast<float>(std::pow(10.0, gain / 20.0));
}

// ---- published state

void AudioController::setLevel(double levelDB) {
    publish(this, level_, levelDB, &AudioController::levelChanged);
    applyVolume(levelFadeSeconds);
}

void AudioController::setStatus(const QString& status) {
    // Leaving idle is news even when the new text reads "Stopped" too.
    const bool wasIdle = std::exchange(idle_, false);
    if (!publish(this, status_, status, &AudioController::statusChanged) && wasIdle) emit statusChanged();
}
void AudioController::setErrorDetail(const std::optional<QString>& detail) {
    publish(this, errorDetail_, detail, &AudioController::errorDetailChanged);
}
void AudioController::setProcessing(const FileProcessSettings& settings) {
    publish(this, processing_, settings, &AudioController::processingChanged);
}
void AudioController::setRoute(Route route) { publish(this, route_, route, &AudioController::routeChanged); }
void AudioController::setPingPong(bool on) {
    publish(this, pingPong_, on, &AudioController::pingPongChanged);
}
void AudioController::setInterval(double seconds) {
    publish(this, interval_, seconds, &AudioController::intervalChanged);
}
void AudioController::setBusy(bool busy) { publish(this, busy_, busy, &AudioController::busyChanged); }
void AudioController::setPlaying(bool playing) {
    publish(this, playing_, playing, &AudioController::playingChanged);
}
void AudioController::setCurrentTime(double seconds) {
    publish(this, currentTime_, seconds, &AudioController::currentTimeChanged);
}
void AudioController::setDuration(double seconds) {
    publish(this, duration_, seconds, &AudioController::durationChanged);
}
void AudioController::setSelectedTrackID(const std::optional<Uuid>& id) {
    publish(this, selectedTrackID_, id, &AudioController::selectedTrackIDChanged);
}
void AudioController::setIsMusicSource(bool on) {
    publish(this, isMusicSource_, on, &AudioController::isMusicSourceChanged);
}
void AudioController::setFlash(bool on) { publish(this, flash_, on, &AudioController::flashChanged); }

void AudioController::setMusicActive(bool active) {
    musicActive_ = active;
    publishHasPlayback();
}

void AudioController::setPlayer(std::unique_ptr<AudioFilePlayer> player) {
    player_ = std::move(player);
    publishHasPlayback();
}

void AudioController::publishHasPlayback() {
    publish(this, hasPlayback_, hasPlayback(), &AudioController::hasPlaybackChanged);
}

void AudioController::fail(const Error& error) {
    pendingEngine_.reset();
    setBusy(false);
    setStatus(text(error));
}

// ---- transport

void AudioController::applyVolume(double fadeSeconds) {
    if (!player_) return;
    const double trim = activeTrack_ ? activeTrack_->trimDB : 0;
    player_->setVolume(volumeFor(level_, trim), fadeSeconds);
}

void AudioController::cancelRender() {
    if (renderCancelled_) renderCancelled_->store(true, std::memory_order_relaxed);
    renderCancelled_.reset();
}

void AudioController::stop() {
    generation_ = Uuid::generate();
    cancelRender();
    setBusy(false);
    pendingEngine_.reset();
    if (player_) {
        player_->stop();
        setPlayer(nullptr);
    }
    if (musicActive_) {
        music().stop();
        setMusicActive(false);
    }
    tickTimer_.stop();
    musicTimer_.stop();
    activeTrack_.reset();
    setFlash(false);
    if (temporary_) {
        TempFiles::removeQuietly(*temporary_);
        temporary_.reset();
    }
    // Observers see "Stopped" again even when it was showing.
    idle_ = true;
    if (!publish(this, status_, QStringLiteral("Stopped"), &AudioController::statusChanged))
        emit statusChanged();
    setPlaying(false);
    setCurrentTime(0);
    setDuration(0);
    setSelectedTrackID(std::nullopt);
    setIsMusicSource(false);
    setErrorDetail(std::nullopt);
}

void AudioController::togglePlayback() {
    if (busy_) return;
    if (player_) {
        if (playing_) {
            player_->pause();
        } else {
            // A track that stands at its end point starts again at its cue-in, not at the file's start.
            if (activeTrack_ && player_->currentTime() >= endPoint() - 0.02)
                player_->setCurrentTime(cueStart());
            if (Status resumed = player_->play(); !resumed) setStatus(text(resumed.error()));
        }
        setPlaying(player_->isPlaying());
        return;
    }
    if (!musicActive_) return;
    if (playing_)
        musicPlayback().pause();
    else
        musicPlayback().resume();
}

void AudioController::seek(double seconds) {
    const double target = std::clamp(std::isnan(seconds) ? 0.0 : seconds, 0.0, std::max(duration_, 0.0));
    if (player_) player_->setCurrentTime(target);
    // The music server may be playing for another of its clients: only a song of ours is moved.
    else if (musicActive_)
        musicPlayback().seek(target);
    setCurrentTime(target);
}

// ---- starts

std::unique_ptr<AudioEngine> AudioController::outputEngine(double& rateHz) {
    auto engine = AudioHardware::system().makeEngine();
    std::uint32_t device = 0;
    if (setup_.outputDevice) {
        device = *setup_.outputDevice;
    } else {
        // The route button's choice; a device that has gone since falls back to the default output.
        const qlonglong stored = QSettings().value(outputDeviceKey, 0).toLongLong();
        if (stored > 0 && stored <= 0xFFFFFFFFLL &&
            engine->bindOutput(static_cast<std::uint32_t>(stored)) == 0)
            device = static_cast<std::uint32_t>(stored);
    }
    if (const std::int32_t status = engine->bindOutput(device); status != 0) {
        fail(Error{AudioStatus::errorDomain, status,
                   "The audio output is unavailable (" + std::to_string(status) + ")"});
        return nullptr;
    }
    rateHz = AudioFilePlayer::outputRate(*engine);
    if (rateHz == 0) {
        fail(Error{AudioStatus::errorDomain, AudioFilePlayer::noOutputCode, "No audio output is available"});
        return nullptr;
    }
    return engine;
}

void AudioController::renderInBackground(std::function<Result<std::string>()> render, double rateHz,
                                         QThread::Priority priority, std::function<void(Rendered)> rendered) {
    QPointer<AudioController> self(this);
    MainThread::detach(
        [self, render = std::move(render), rateHz, rendered = std::move(rendered)] {
            auto result = std::make_shared<Rendered>(Rendered{render(), std::nullopt});
            if (result->file) result->audio = AudioFilePlayer::load(*result->file, rateHz);
            MainThread::post(QCoreApplication::instance(), [self, result, rendered] {
                if (!self) {
                    if (result->file) TempFiles::removeQuietly(*result->file);
                    return;
                }
                rendered(std::move(*result));
            });
        },
        priority);
}

Result<std::unique_ptr<AudioFilePlayer>> AudioController::makePlayer(const std::string& path,
                                                                     std::shared_ptr<AudioFileStream> audio) {
    std::unique_ptr<AudioEngine> engine = std::move(pendingEngine_);
    assert(engine);
    if (!engine) {
        double rate = 0;
        engine = outputEngine(rate);
        if (!engine)
            return Error{AudioStatus::errorDomain, AudioFilePlayer::noOutputCode, status_.toStdString()};
    }
    // The output may have changed rate while the render ran.
    if (const double rate = AudioFilePlayer::outputRate(*engine); rate != 0 && rate != audio->rate()) {
        auto again = AudioFilePlayer::load(path, rate);
        if (!again) return again.error();
        audio = std::move(*again);
    }
    return AudioFilePlayer::make(std::move(engine), std::move(audio));
}

bool AudioController::startPlayer() {
    // The volume and the pan are in place before the first sample: a start never fades down from full
    // level, and a left or right check never sounds on both sides (a ping-pong starts on the left).
    applyVolume(0);
    player_->setPan(panFor(pingPong_, Side::left, route_));
    Status started = player_->prepareToPlay();
    if (started) started = player_->play();
    if (started) return true;
    activeTrack_.reset();
    setPlayer(nullptr);
    setBusy(false);
    setStatus(text(started.error()));
    return false;
}

void AudioController::startTimer(bool sync) {
    started_ = setup_.clock();
    tickSync_ = sync;
    tickTimer_.start(
        std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(tickSeconds)));
}

void AudioController::playTrack(const LocalTrackRequest& track, const QString& root) {
    stop();
    const Uuid token = generation_;
    setBusy(true);
    if (!track.filename) {
        setBusy(false);
        return;
    }
    double rate = 0;
    pendingEngine_ = outputEngine(rate);
    if (!pendingEngine_) return;
    const std::string source = QDir(root).filePath(*track.filename).toStdString();
    const FileProcessSettings settings = processing_;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    renderCancelled_ = cancelled;
    renderInBackground(
        [render = setup_.render, source, settings, cancelled] {
            return render(source, settings,
                          [cancelled] { return cancelled->load(std::memory_order_relaxed); });
        },
        rate, QThread::InheritPriority,
        [this, token, track, source](Rendered r) {
            if (generation_ != token) {
                if (r.file) TempFiles::removeQuietly(*r.file);
                return;
            }
            renderCancelled_.reset();
            // An imported copy deleted from the storage folder: name the track rather than repeat the
            // file layer's "No such file or directory".
            if (!r.file && !QFileInfo::exists(QString::fromStdString(source)))
                return fail(
                    Error{"posix", ENOENT,
                          "The audio file of \u201C" + track.title.toStdString() + "\u201D is missing."});
            if (!r.file) return fail(r.file.error());
            temporary_ = *r.file;
            setBusy(false);
            if (!*r.audio) return fail(r.audio->error());
            auto player = makePlayer(*r.file, std::move(**r.audio));
            if (!player) return fail(player.error());
            activeTrack_ = track;
            setPlayer(std::move(*player));
            const double length = player_->duration();
            player_->setCurrentTime(std::min(std::max(track.cueIn, 0.0), std::max(length - 0.01, 0.0)));
            if (!startPlayer()) return;
            setStatus(track.title);
            setSelectedTrackID(track.id);
            setPlaying(true);
            setDuration(length);
            startTimer(false);
        });
}

void AudioController::playSignal(const SignalSettings& settings, bool sync) {
    stop();
    setBusy(true);
    const Uuid token = generation_;
    double rate = 0;
    pendingEngine_ = outputEngine(rate);
    if (!pendingEngine_) return;
    renderInBackground(
        [settings] { return SignalRenderer::make(settings, signalRateHz); }, rate, QThread::HighPriority,
        [this, token, settings, sync](Rendered r) {
            if (generation_ != token) {
                if (r.file) TempFiles::removeQuietly(*r.file);
                return;
            }
            if (!r.file) return fail(r.file.error());
            auto player = *r.audio ? makePlayer(*r.file, std::move(**r.audio))
                                   : Result<std::unique_ptr<AudioFilePlayer>>(r.audio->error());
            if (!player) {
                // Nothing will play it, so nothing else would delete it.
                TempFiles::removeQuietly(*r.file);
                return fail(player.error());
            }
            temporary_ = *r.file;
            setPlayer(std::move(*player));
            player_->setLooping(true);
            if (!startPlayer()) return;
            setBusy(false);
            setStatus(sync ? QStringLiteral("A/V sync: visual check")
                           : QString::fromUtf8(rawValue(settings.kind).data(),
                                               static_cast<qsizetype>(rawValue(settings.kind).size())));
            setPlaying(true);
            setDuration(player_->duration());
            startTimer(sync);
        });
}

void AudioController::playVoice(const QString& path) {
    stop();
    temporary_ = path.toStdString();
    double rate = 0;
    pendingEngine_ = outputEngine(rate);
    if (!pendingEngine_) return;
    auto audio = AudioFilePlayer::load(*temporary_, rate);
    if (!audio) return fail(audio.error());
    auto player = makePlayer(*temporary_, std::move(*audio));
    if (!player) return fail(player.error());
    setPlayer(std::move(*player));
    player_->setLooping(true);
    if (!startPlayer()) return;
    setStatus(QStringLiteral("Spoken source ID"));
    startTimer(false);
    setPlaying(true);
    setDuration(player_->duration());
}

// ---- Music server

MusicService& AudioController::music() {
    if (!setup_.music) setup_.music = &MusicService::shared();
    return *setup_.music;
}

MusicPlayback& AudioController::musicPlayback() {
    if (!musicPlayback_) {
        MusicPlaybackHost& host = *this;
        musicPlayback_ = std::make_unique<MusicPlayback>(host, music(), this);
    }
    return *musicPlayback_;
}

void AudioController::playMusic(const MusicTrackRequest& track) {
    stop();
    const Uuid token = generation_;
    setBusy(true);
    setSelectedTrackID(track.id);
    setIsMusicSource(true);
    setStatus(QStringLiteral("Loading ") + track.displayTitle + QChar(0x2026));
    musicPlayback().play(track, token);
}

void AudioController::pollMusic() {
    if (musicPlayback_) musicPlayback_->poll();
}

void AudioController::startMusicTimer() {
    tickTimer_.stop();
    musicTimer_.start(
        std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(musicPollSeconds)));
}

// ---- the tick

void AudioController::tick() {
    if (!player_) return;
    if (auto failure = player_->failure()) {
        stop();
        setStatus(text(*failure));
        return;
    }
    const bool wasPlaying = playing_;
    const double now = player_->currentTime();
    const bool isPlaying = player_->isPlaying();
    setCurrentTime(now);
    setPlaying(isPlaying);

    const double sideSeconds = std::isnan(interval_) ? 0.25 : std::max(interval_, 0.25);
    const double phase = (setup_.clock() - started_) / sideSeconds;
    side_ = std::fmod(std::trunc(phase), 2.0) != 0 ? Side::right : Side::left;
    player_->setPan(panFor(pingPong_, side_, route_));
    setFlash(tickSync_ && isPlaying && now - std::floor(now) < 0.08);

    if (!activeTrack_) return;  // signals and spoken IDs loop until stopped
    // At or past the end point the track ends, paused or not; a player that stopped by itself, though
    // it played at the last tick, ran out at the end of the file.
    if (now < endPoint() - 0.02 && (isPlaying || !wasPlaying)) return;
    if (!activeTrack_->loop) return stop();
    player_->setCurrentTime(cueStart());
    if (Status restarted = player_->play(); !restarted) {
        stop();
        setStatus(text(restarted.error()));
    }
}

double AudioController::endPoint() const {
    const double length = player_->duration();
    const LocalTrackRequest& track = *activeTrack_;
    // A cue-out of 0 means the file's end also when the cue-in lies before the file's start.
    return track.cueOut > 0 && track.cueIn < track.cueOut ? std::min(track.cueOut, length) : length;
}

double AudioController::cueStart() const {
    return std::max(std::min(activeTrack_->cueIn, player_->duration() - 0.01), 0.0);
}

}  // namespace quorvel
