#include "engine/AudioController.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
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

// The error of a start that found no output.
Error noOutput(AudioSystem& system) {
    return Error{AudioStatus::errorDomain, AudioFilePlayer::noOutputCode,
                 AudioHardware::missingDevice(system, "No audio output is available")};
}

void loopForever(AudioFilePlayer& player) { player.setLooping(true); }

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// What a start's worker hands back: the player, prepared to play, and its file; or why there is none.
// The file is deleted with the outcome unless the controller takes it, and the player goes first.
struct AudioController::Prepared {
    std::optional<Error> failure;
    std::unique_ptr<AudioFilePlayer> player;
    std::optional<std::string> file;

    Prepared() = default;
    Prepared(Prepared&& other) noexcept
        : failure(std::move(other.failure)),
          player(std::move(other.player)),
          file(std::exchange(other.file, std::nullopt)) {}
    Prepared& operator=(Prepared&&) = delete;
    ~Prepared() {
        player.reset();
        if (file) TempFiles::removeQuietly(*file);
    }
};

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
AudioController::~AudioController() { pending_.giveUp(); }

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
    // The player it replaces is silent once this returns, and is destroyed on the pool, as letting go of
    // the device may wait on its server.
    if (player_) {
        player_->stop();
        MainThread::dispose(std::move(player_));
    }
    player_ = std::move(player);
    publishHasPlayback();
}

void AudioController::publishHasPlayback() {
    publish(this, hasPlayback_, hasPlayback(), &AudioController::hasPlaybackChanged);
}

void AudioController::fail(const Error& error) {
    activeTrack_.reset();
    setPlayer(nullptr);
    setBusy(false);
    setStatus(text(error));
}

// ---- transport

void AudioController::applyVolume(double fadeSeconds) {
    if (!player_) return;
    const double trim = activeTrack_ ? activeTrack_->trimDB : 0;
    player_->setVolume(volumeFor(level_, trim), fadeSeconds);
}

void AudioController::stop() {
    generation_ = Uuid::generate();
    pending_.giveUp();
    setBusy(false);
    setPlayer(nullptr);
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
            if (Status resumed = player_->resume(); !resumed) setStatus(text(resumed.error()));
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

Result<std::unique_ptr<AudioEngine>> AudioController::outputEngine(AudioSystem& system,
                                                                   const Output& output) {
    auto engine = system.makeEngine();
    const qlonglong stored = output.stored;
    const bool chosen =
        !output.fixed && stored > 0 && stored <= 0xFFFFFFFFLL &&
        engine->bindOutput(system.chosenDevice(static_cast<std::uint32_t>(stored), output.storedKey)) == 0;
    if (!chosen) {
        if (const std::int32_t status = engine->bindOutput(output.fixed.value_or(0)); status != 0) {
            std::string description = "The audio output is unavailable (" + std::to_string(status) + ")";
            // A device that is not listed may belong to a server that does not answer.
            if (status == AudioStatus::deviceNotFound)
                description = AudioHardware::missingDevice(system, std::move(description));
            return Error{AudioStatus::errorDomain, status, std::move(description)};
        }
    }
    if (AudioFilePlayer::outputRate(*engine) == 0) return noOutput(system);
    return engine;
}

AudioController::Prepared AudioController::prepare(AudioSystem& system, const Output& output,
                                                   const PendingStart& pending, const Source& source,
                                                   const Configure& configure) {
    Prepared prepared;
    auto ended = [&prepared](const Error& why) {
        prepared.failure = why;
        return std::move(prepared);
    };
    auto engine = outputEngine(system, output);
    if (!engine) return ended(engine.error());
    Result<std::string> file = source(pending);
    if (!file) return ended(file.error());
    prepared.file = *file;
    // The output may have changed rate while the render ran.
    const double rate = AudioFilePlayer::outputRate(**engine);
    if (rate == 0) return ended(noOutput(system));
    auto audio = AudioFilePlayer::load(*file, rate);
    if (!audio) return ended(audio.error());
    auto player = AudioFilePlayer::make(std::move(*engine), std::move(*audio));
    if (!player) return ended(player.error());
    configure(**player);
    AudioFilePlayer& p = **player;
    if (Status started = pending.start([&p] { return p.prepareToPlay(); }, [&p] { p.stop(); }); !started)
        return ended(started.error());
    prepared.player = std::move(*player);
    return prepared;
}

void AudioController::prepareInBackground(Source source, Configure configure, QThread::Priority priority,
                                          std::function<void(Prepared)> prepared) {
    pending_ = PendingStart();
    Output output{setup_.outputDevice, 0, {}};
    if (!output.fixed) {
        const QSettings settings;
        output.stored = settings.value(outputDeviceKey, 0).toLongLong();
        output.storedKey = settings.value(outputDeviceKeyKey).toString().toStdString();
    }
    MainThread::detachThen(
        this,
        [system = AudioHardware::shared(), output, pending = pending_, source = std::move(source),
         configure = std::move(configure)] { return prepare(*system, output, pending, source, configure); },
        [this, token = generation_, prepared = std::move(prepared)](Prepared outcome) {
            // Overtaken: the player goes on a worker, as its engine may be slow to stop, and the file here.
            if (generation_ != token) return MainThread::dispose(std::move(outcome.player));
            prepared(std::move(outcome));
        },
        priority);
}

bool AudioController::adopt(Prepared prepared) {
    if (prepared.failure) {
        fail(*prepared.failure);
        return false;
    }
    temporary_ = std::exchange(prepared.file, std::nullopt);
    setPlayer(std::move(prepared.player));
    return startPlayer();
}

bool AudioController::startPlayer() {
    // The volume and the pan are in place before the first sample: a start never fades down from full
    // level, and a left or right check never sounds on both sides (a ping-pong starts on the left).
    applyVolume(0);
    player_->setPan(panFor(pingPong_, Side::left, route_));
    if (Status sounding = player_->resume(); !sounding) {
        fail(sounding.error());
        return false;
    }
    return true;
}

void AudioController::startTimer(bool sync) {
    started_ = setup_.clock();
    tickSync_ = sync;
    tickTimer_.start(
        std::chrono::round<std::chrono::milliseconds>(std::chrono::duration<double>(tickSeconds)));
}

void AudioController::playTrack(const LocalTrackRequest& track, const QString& root) {
    stop();
    setBusy(true);
    if (!track.filename) {
        setBusy(false);
        return;
    }
    const std::string source = QDir(root).filePath(*track.filename).toStdString();
    prepareInBackground(
        [render = setup_.render, source, settings = processing_,
         title = track.title.toStdString()](const PendingStart& pending) -> Result<std::string> {
            auto made = render(source, settings, [pending] { return pending.givenUp(); });
            // An imported copy deleted from the storage folder: name the track rather than repeat the
            // file layer's "No such file or directory".
            if (!made && !QFileInfo::exists(QString::fromStdString(source)))
                return Error{"posix", ENOENT, "The audio file of \u201C" + title + "\u201D is missing."};
            return made;
        },
        [cueIn = track.cueIn](AudioFilePlayer& player) {
            player.setCurrentTime(std::min(std::max(cueIn, 0.0), std::max(player.duration() - 0.01, 0.0)));
        },
        QThread::InheritPriority,
        [this, track](Prepared prepared) {
            activeTrack_ = track;
            if (!adopt(std::move(prepared))) return;
            setBusy(false);
            setStatus(track.title);
            setSelectedTrackID(track.id);
            setPlaying(true);
            setDuration(player_->duration());
            startTimer(false);
        });
}

void AudioController::playSignal(const SignalSettings& settings, bool sync) {
    stop();
    setBusy(true);
    prepareInBackground(
        [settings](const PendingStart&) { return SignalRenderer::make(settings, signalRateHz); }, loopForever,
        QThread::HighPriority,
        [this, settings, sync](Prepared prepared) {
            if (!adopt(std::move(prepared))) return;
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
    setBusy(true);
    prepareInBackground(
        [file = path.toStdString()](const PendingStart&) -> Result<std::string> { return file; }, loopForever,
        QThread::InheritPriority,
        [this](Prepared prepared) {
            if (!adopt(std::move(prepared))) return;
            setBusy(false);
            setStatus(QStringLiteral("Spoken source ID"));
            startTimer(false);
            setPlaying(true);
            setDuration(player_->duration());
        });
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
    if (Status restarted = player_->resume(); !restarted) {
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
