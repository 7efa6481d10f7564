#pragma once
// The routed generator: a test signal on chosen outputs of the audio interface rather than the system's
// stereo output. Speaker A, speaker B or both play it, each on its own interface output, and an
// electrical reference copy may go to a third output for looping back into an input. The signal is
// rendered once at the interface's own rate, laid into one buffer with a channel per interface output
// (buffer channel k sounds on output k + 1; every output not chosen stays silent) and looped until
// stopped. The generator has an engine of its own, apart from the analyser's capture and the stereo
// player, opened with the interface's full output count (1 to 64).
//
// Output channels are counted from 1. Every outcome is published in status(), busy() and isPlaying();
// nothing throws. A play that a later stop() or play() overtakes publishes nothing more and deletes its
// renders; rendered files never outlive the play that made them.
//
// A play's work (binding a fresh engine, its format, the render, the loop's buffer and the engine's
// start) runs on a worker, since a sound server may take seconds to answer; busy() holds meanwhile. A play
// overtaken on its way starts nothing, or stops what it started, on that worker. A play that finds no
// output while a sound server is not responding names that server (AudioSystem::notResponding()).
//
// Published state: Q_PROPERTYs written through publish() (core/Published.h); a property with a change
// signal emits it only when the value really changes.
//
// Threads: main thread only. A play's worker touches no state of this object: it has copies, and the
// play's player, whose volume alone the main thread sets meanwhile.
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "dsp/SignalSettings.h"
#include "engine/PendingStart.h"
#include "platform/AudioDevices.h"
#include "platform/BufferPlayer.h"
#include "platform/Uuid.h"

namespace quorvel {

class RoutedSignal : public QObject {
    Q_OBJECT
    Q_PROPERTY(int channelA READ channelA WRITE setChannelA NOTIFY channelAChanged)
    Q_PROPERTY(int channelB READ channelB WRITE setChannelB NOTIFY channelBChanged)
    Q_PROPERTY(
        int referenceOutput READ referenceOutput WRITE setReferenceOutput NOTIFY referenceOutputChanged)
    Q_PROPERTY(bool sendReference READ sendReference WRITE setSendReference NOTIFY sendReferenceChanged)
    Q_PROPERTY(QString selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(int outputCount READ outputCount)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(double level READ level WRITE setLevel NOTIFY levelChanged)

public:
    static constexpr const char* stoppedStatus = "Routed generator stopped";
    // Largest looping buffer: frames × outputs × 4 bytes.
    static constexpr double bufferLimitBytes = 134217728;

    // Stopped. Each play makes its engine from the audio system installed then (AudioHardware).
    explicit RoutedSignal(QObject* parent = nullptr);
    ~RoutedSignal() override;

    // Routing. Any integer is accepted here; play() checks them against the interface.
    int channelA() const { return channelA_; }
    void setChannelA(int output);
    int channelB() const { return channelB_; }
    void setChannelB(int output);
    int referenceOutput() const { return referenceOutput_; }
    void setReferenceOutput(int output);
    bool sendReference() const { return sendReference_; }
    void setSendReference(bool send);
    // "A", "B" or "Both"; any other text acts as "Both".
    const QString& selection() const { return selection_; }
    void setSelection(const QString& selection);

    const QString& status() const { return status_; }
    // Output channels of the interface the last play() found (0 before any).
    int outputCount() const { return outputCount_; }
    bool isPlaying() const { return isPlaying_; }
    // play() is preparing.
    bool busy() const { return busy_; }

    // Output level in dB re full scale, −30 at creation. Sets the live volume at once, also while
    // stopped or playing: 10^(min(level, 0) / 20), and 0.001 below −60 dB or for NaN.
    double level() const { return level_; }
    void setLevel(double db);
    static float volumeForLevel(double db);

    // Stops any sound and preparation; then, on a worker, binds the stored interface, checks the routing,
    // renders the signal and starts the loop. Returns at once; watch busy() and status().
    void play(const SignalSettings& settings);
    // Stops at once and abandons a preparation in flight. Safe when idle.
    void stop();

signals:
    void channelAChanged();
    void channelBChanged();
    void referenceOutputChanged();
    void sendReferenceChanged();
    void selectionChanged();
    void statusChanged();
    void isPlayingChanged();
    void busyChanged();
    void levelChanged();

private:
    struct Request;
    struct Prepared;
    struct Plan;
    struct Renders;
    // How building the loop and starting the engine ended: started (no message), refused (a message that
    // only ends the play) or failed (a message shown after stopping).
    struct Outcome {
        QString message;
        bool failed = false;
    };

    // A play's work, on its worker.
    static Prepared prepare(AudioSystem& system, const Request& request, const QPointer<RoutedSignal>& self);
    static Outcome start(AudioEngine& engine, const Request& request, const Plan& plan,
                         const std::vector<std::string>& files, const QPointer<RoutedSignal>& self);
    void finish(const Uuid& token, Prepared prepared);
    void engineFailed(const Uuid& token, const Error& failure);
    bool current(const Uuid& token) const { return generation_ == token; }
    // Ends a refused or failed play: the message, and busy cleared.
    void refuse(const QString& message);

    void setStatus(const QString& status);
    void setPlaying(bool playing);
    void setBusy(bool busy);

    int channelA_ = 1;
    int channelB_ = 2;
    int referenceOutput_ = 3;
    bool sendReference_ = false;
    QString selection_ = "A";
    QString status_ = stoppedStatus;
    int outputCount_ = 0;
    bool isPlaying_ = false;
    bool busy_ = false;
    double level_ = -30;

    // Renewed by every stop(): work begun under an older token gives up.
    Uuid generation_;
    PendingStart pending_;  // the last play, given up by stop()
    // The play's player, from play() on; its engine's callback holds it too.
    std::shared_ptr<BufferPlayer> player_;
    std::unique_ptr<AudioEngine> engine_;  // the playing loop's
};

}  // namespace quorvel
