#pragma once
// The stereo player: one source at a time on the system's default output (a processed reference track,
// a rendered test signal or a spoken source-ID file, played by an AudioFilePlayer; or a song of the
// music server on the shared application music player), with its published state for the transport, the level
// slider and the player, signal and channel-check screens.
//
// Volume. The player's volume is 10^(min(level + the active track's trim, 0) / 20): the sum is capped
// at 0 dB with no lower floor. A source starts at that volume from its first sample; a later change of
// the level fades to the new volume over 0.03 s. The music server plays at its own volume.
//
// Starts. A start of a file (a track, a signal, a spoken ID) does its work on a worker: it binds a fresh
// engine to the output, renders the file, opens the player on it and starts its stream, since the sound
// server may take seconds to answer; busy() holds meanwhile, and back on the main thread the player sounds
// from its first sample at the volume and pan of that moment. A start that finds no output while a sound
// server is not responding names that server (AudioSystem::notResponding()).
//
// Stale work. Every stop() renews a private token and gives up the start on its way, and every start
// begins with stop(); a start that returns to find the token changed publishes nothing, its file is
// deleted and its player goes on a worker.
//
// The tick. While a file plays, a 1/60 s main-thread timer follows the player: it publishes the
// position and playing state, flips the ping-pong side every max(interval, 0.25) s of the clock since
// the start, pans (by the side with ping-pong on, else by the route), drives the A/V flash, and ends or
// loops a local track at its cue-out, a paused one too once it stands at or past its end point. Resuming
// a track from its end point starts it again at its cue-in.
//
// Rendered files (reference-<UUID>.caf, signal-<UUID>.wav, and the voice file handed to playVoice) belong
// to the controller once it plays them, and the next stop() deletes them.
//
// Published state: Q_PROPERTYs written through publish() (core/Published.h); a change signal is
// emitted when the value really changes, and stop() announces its "Stopped" status even when it was
// already shown.
//
// Threads: main thread only; a start's worker touches only what it was given. stop() and destruction
// cancel a track's render between blocks, so that nothing outlives the controller by more than a block's
// work (or a sound server's answer).
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "dsp/FileProcessor.h"
#include "dsp/SignalSettings.h"
#include "engine/MusicPlayback.h"
#include "engine/PendingStart.h"
#include "platform/AudioFilePlayer.h"
#include "platform/Uuid.h"

namespace quorvel {

class AudioController : public QObject, private MusicPlaybackHost {
    Q_OBJECT
    Q_PROPERTY(FileProcessSettings processing READ processing WRITE setProcessing NOTIFY processingChanged)
    Q_PROPERTY(double level READ level WRITE setLevel NOTIFY levelChanged)
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(Route route READ route WRITE setRoute NOTIFY routeChanged)
    Q_PROPERTY(bool pingPong READ pingPong WRITE setPingPong NOTIFY pingPongChanged)
    Q_PROPERTY(double interval READ interval WRITE setInterval NOTIFY intervalChanged)
    Q_PROPERTY(Side side READ side)
    Q_PROPERTY(bool flash READ flash NOTIFY flashChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY playingChanged)
    Q_PROPERTY(double currentTime READ currentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double duration READ duration NOTIFY durationChanged)
    Q_PROPERTY(std::optional<Uuid> selectedTrackID READ selectedTrackID NOTIFY selectedTrackIDChanged)
    Q_PROPERTY(bool isMusicSource READ isMusicSource NOTIFY isMusicSourceChanged)
    Q_PROPERTY(std::optional<QString> errorDetail READ errorDetail NOTIFY errorDetailChanged)
    Q_PROPERTY(bool hasPlayback READ hasPlayback NOTIFY hasPlaybackChanged)

public:
    // Where a source sounds while ping-pong is off: centred, hard left or hard right. The screens show it
    // in words of their own ("Left", "L + R", …); it never travels as text.
    enum class Route { both, left, right };
    Q_ENUM(Route)
    // The ping-pong side of the moment.
    enum class Side { left, right };
    Q_ENUM(Side)

    // Monotonic seconds; the origin does not matter.
    using Clock = std::function<double()>;
    // Makes the processed copy of a track (FileProcessor::render), on a pool thread.
    using FileRender = std::function<Result<std::string>(const std::string& input, const FileProcessSettings&,
                                                         const FileProcessor::Cancelled&)>;

    // What the controller uses from outside. The application takes the defaults; tests give a clock they
    // move themselves, a scripted music service or a loopback output device.
    struct Setup {
        Clock clock{};                  // the steady clock when empty
        MusicService* music = nullptr;  // MusicService::shared() when null, taken at first use
        // The device files play on (0: the system's default output). Absent: the output chosen with the
        // route button, read from the user defaults at every start.
        std::optional<std::uint32_t> outputDevice = std::nullopt;
        FileRender render{};  // FileProcessor::render when empty
    };

    static constexpr double tickSeconds = 1.0 / 60.0;
    static constexpr double levelFadeSeconds = 0.03;
    static constexpr double musicPollSeconds = 0.25;
    static constexpr double signalRateHz = 48000;
    // User-defaults key of the output device chosen for ordinary playback (0 or absent: system default).
    static constexpr const char* outputDeviceKey = "Quorvel.outputDeviceID";
    // What the sound server calls that device (AudioDeviceInfo::key), stored with it: of two devices of one
    // model, the one chosen.
    static constexpr const char* outputDeviceKeyKey = "Quorvel.outputDeviceKey";

    explicit AudioController(QObject* parent = nullptr);
    explicit AudioController(Setup setup, QObject* parent = nullptr);
    // Releases the player (its sound stops) and the timers; deletes no file.
    ~AudioController() override;

    // The linear volume for a level and a trim in dB: 10^(min(level + trim, 0) / 20).
    static float volumeFor(double levelDB, double trimDB);

    // Published state.
    double level() const { return level_; }  // dB, 0 = full level; −30 at creation
    // Applies the volume rule to the playing source with the 0.03 s fade; stored for the next start.
    void setLevel(double levelDB);
    const QString& status() const { return status_; }
    // The status is the idle "Stopped" that creation and stop() write, not a text that a start or a
    // failure wrote (a track may be titled "Stopped"). Announced with statusChanged.
    bool idle() const { return idle_; }
    // The channel-check screen also writes the status and detail of a voice that could not be prepared.
    void setStatus(const QString& status) override;
    const std::optional<QString>& errorDetail() const { return errorDetail_; }
    void setErrorDetail(const std::optional<QString>& detail) override;
    bool busy() const { return busy_; }
    bool playing() const { return playing_; }
    bool isMusicSource() const { return isMusicSource_; }
    // A file player is loaded or the music server owns playback: pause and resume are possible.
    bool hasPlayback() const { return player_ != nullptr || musicActive_; }
    const std::optional<Uuid>& selectedTrackID() const { return selectedTrackID_; }
    double currentTime() const { return currentTime_; }  // s
    double duration() const { return duration_; }        // s; one cycle for a signal
    // How the next local track is processed; read only when a track starts.
    const FileProcessSettings& processing() const { return processing_; }
    void setProcessing(const FileProcessSettings& settings);
    // Used while ping-pong is off.
    Route route() const { return route_; }
    void setRoute(Route route);
    bool pingPong() const { return pingPong_; }
    void setPingPong(bool on);
    // Seconds per ping-pong side; acts as at least 0.25 s.
    double interval() const { return interval_; }
    void setInterval(double seconds);
    Side side() const { return side_; }
    bool flash() const { return flash_; }

    // Ends any playback, deletes the file that was playing and resets the published state; the level,
    // processing, route, ping-pong, interval and side stay. Never fails; harmless when idle.
    void stop();
    // Pauses or resumes the current source; nothing while busy or with no source.
    void togglePlayback();
    // Moves the position of the current source to `seconds`, clamped to 0 ... duration().
    void seek(double seconds);

    // Renders a processed copy of root + track.filename in the background with processing(), then plays
    // it from the track's cue-in at level plus trim. A track without a file name plays nothing. Every
    // failure ends in status().
    void playTrack(const LocalTrackRequest& track, const QString& root);
    // Renders the signal at 48000 Hz in the background and loops it; `sync` marks the A/V sync check,
    // whose flash() follows the first 80 ms of every second.
    void playSignal(const SignalSettings& settings, bool sync = false);
    // Loops a finished spoken-ID file, which belongs to the controller from now on: the next stop(), or
    // the start's failure, deletes it whether or not it played.
    void playVoice(const QString& path);
    // Hands a music track's song to the shared application music player: asks for access (and,
    // for a catalogue track, catalogue rights), obtains the song from its payload or by its music id,
    // prepares it (a library song that will not prepare is retried as its catalogue equivalent) and
    // starts it. Every outcome ends in status() and errorDetail(); busy() ends false. The song plays
    // untouched: no level, trim, route, cue or loop; while it is the source the poll follows the player.
    void playMusic(const MusicTrackRequest& track);

    // One run of the player tick; the timer calls it every 1/60 s while a file is loaded.
    void tick();
    // One firing of the music poll; its timer calls it every 0.25 s while a song is the source. The
    // position and playing state arrive when the music server answers.
    void pollMusic();

signals:
    void levelChanged();
    void statusChanged();
    void errorDetailChanged();
    void busyChanged();
    void playingChanged();
    void isMusicSourceChanged();
    void hasPlaybackChanged();
    void selectedTrackIDChanged();
    void currentTimeChanged();
    void durationChanged();
    void processingChanged();
    void routeChanged();
    void pingPongChanged();
    void intervalChanged();
    void flashChanged();

private:
    struct Prepared;
    // The output a start binds: the device the setup names, else the route button's choice as stored (a
    // device gone since falls back to the default output).
    struct Output {
        std::optional<std::uint32_t> fixed;
        qlonglong stored = 0;
        std::string storedKey;  // what the server calls the stored device (outputDeviceKeyKey)
    };
    // The file a start plays, made on its worker (a render, or a finished file), and what the start does to
    // its player before the stream starts.
    using Source = std::function<Result<std::string>(const PendingStart&)>;
    using Configure = std::function<void(AudioFilePlayer&)>;

    // MusicPlaybackHost.
    Uuid generation() const override { return generation_; }
    void setBusy(bool busy) override;
    void setPlaying(bool playing) override;
    void setCurrentTime(double seconds) override;
    void setDuration(double seconds) override;
    bool musicActive() const override { return musicActive_; }
    void setMusicActive(bool active) override;
    void startMusicTimer() override;
    void stopPlayback() override { stop(); }

    void setSelectedTrackID(const std::optional<Uuid>& id);
    void setIsMusicSource(bool on);
    void setFlash(bool on);
    void setPlayer(std::unique_ptr<AudioFilePlayer> player);
    void publishHasPlayback();
    // The active track's end point (its cue-out, or the file's end) and where it starts again.
    double endPoint() const;
    double cueStart() const;
    // Ends a start without sound: nothing is loaded, busy() ends, the status says why.
    void fail(const Error& error);
    MusicService& music();
    MusicPlayback& musicPlayback();

    // Makes `source` and its player, prepared, on a worker, then hands the outcome to `prepared` on the main
    // thread unless a stop() came first.
    void prepareInBackground(Source source, Configure configure, QThread::Priority priority,
                             std::function<void(Prepared)> prepared);
    // A start's work, on its worker.
    static Prepared prepare(AudioSystem& system, const Output& output, const PendingStart& pending,
                            const Source& source, const Configure& configure);
    // A stopped engine bound to the output, or why there is none. On a start's worker.
    static Result<std::unique_ptr<AudioEngine>> outputEngine(AudioSystem& system, const Output& output);
    // Takes the prepared player and its file and sounds it; false, with the reason in the status, when the
    // start ended without one.
    bool adopt(Prepared prepared);
    // Sets the start volume (no fade) and the pan and sounds the prepared player; a failure leaves nothing
    // loaded and says why.
    bool startPlayer();
    // Applies the volume rule with the given fade.
    void applyVolume(double fadeSeconds);
    void startTimer(bool sync);

    Setup setup_;
    std::unique_ptr<MusicPlayback> musicPlayback_;

    FileProcessSettings processing_{};
    double level_ = -30;
    QString status_ = QStringLiteral("Stopped");
    bool idle_ = true;
    Route route_ = Route::both;
    bool pingPong_ = false;
    double interval_ = 1.0;
    Side side_ = Side::left;
    bool flash_ = false;
    bool busy_ = false;
    bool playing_ = false;
    double currentTime_ = 0;
    double duration_ = 0;
    std::optional<Uuid> selectedTrackID_;
    bool isMusicSource_ = false;
    std::optional<QString> errorDetail_;
    bool hasPlayback_ = false;  // as last published

    std::unique_ptr<AudioFilePlayer> player_;
    // The start on its way, if any; given up by stop() and destruction (a track's render stops with it).
    PendingStart pending_;
    QTimer tickTimer_;
    QTimer musicTimer_;
    bool tickSync_ = false;
    double started_ = 0;
    std::optional<LocalTrackRequest> activeTrack_;
    std::optional<std::string> temporary_;
    Uuid generation_ = Uuid::generate();
    bool musicActive_ = false;
};

}  // namespace quorvel
