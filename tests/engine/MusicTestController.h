#pragma once
// A stand-in for the player controller's part in a music request: its stop(), a music start, a local
// start, the published fields, and a real 0.25 s poll timer. Main thread only.
#include <QTimer>

#include "AppleMusicPlayback.h"

// The player controller's part in a music request, as its stop() and start operations behave.
class TestController : public QObject, public MusicPlaybackHost {
public:
    explicit TestController(MusicService& service) : service_(service), playback(*this, service, this) {
        QObject::connect(&pollTimer_, &QTimer::timeout, this, [this] { playback.poll(); });
    }

    void stop() {
        generation_ = Uuid::generate();
        busy = false;
        if (musicActive_) {
            service_.stop();
            musicActive_ = false;
        }
        timer = false;
        pollTimer_.stop();
        status = "Stopped";
        playing = false;
        currentTime = 0;
        duration = 0;
        errorDetail.reset();
    }
    void playMusic(const MusicTrackRequest& track) {
        stop();
        busy = true;
        status = "Loading " + track.displayTitle + "…";
        playback.play(track, generation_);
    }
    // The music half of togglePlayback(): pause at once, resume when the player has started again.
    void togglePlayback() {
        if (!musicActive_ || busy) return;
        if (playing) {
            service_.pause();
            playing = false;
        } else {
            service_.play(this, [this](Status s) { playing = s.ok(); });
        }
    }
    void playLocal() {
        stop();
        status = "Local track";
    }

    Uuid generation() const override { return generation_; }
    void setBusy(bool b) override { busy = b; }
    void setStatus(const QString& s) override { status = s; }
    void setPlaying(bool p) override { playing = p; }
    void setCurrentTime(double s) override { currentTime = s; }
    void setDuration(double s) override { duration = s; }
    void setErrorDetail(const std::optional<QString>& d) override { errorDetail = d; }
    bool musicActive() const override { return musicActive_; }
    void setMusicActive(bool a) override { musicActive_ = a; }
    void startMusicTimer() override {
        timer = true;
        pollTimer_.start(250);
    }

    bool busy = false, playing = false, timer = false;
    QString status = "Stopped";
    double currentTime = 0, duration = 0;
    std::optional<QString> errorDetail;

private:
    MusicService& service_;
    Uuid generation_ = Uuid::generate();
    bool musicActive_ = false;
    QTimer pollTimer_;

public:
    AppleMusicPlayback playback;
};

