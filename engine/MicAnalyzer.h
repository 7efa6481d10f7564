#pragma once
// The live measurement input: captures one microphone channel, and optionally an electrical reference on
// a second input channel, from the chosen interface, and publishes the spectrum, the arrival delay, the
// correlation, the transfer estimate and a one-line status.
//
// Capture. start() makes an engine for the run, binds it to the interface stored by InterfacePicker,
// reads its input format, installs a tap on its input and starts it, all on a worker, since each may wait
// on a sound server; starting() holds meanwhile, and the outcome comes back to the main thread, where a
// start that a stop() or a newer start() overtook is dropped (its engine stopped on a worker). A start
// that finds no device while a sound server is not responding names that server (AudioSystem::
// notResponding()) rather than saying "No microphone input". The tap runs on the audio thread: it copies
// the one or two chosen channels of a block into buffers made before the run started and hands the block
// to the main thread through a mailbox that holds at most one block. The audio thread takes the mailbox
// with a try-lock and drops the block when it is busy; it never waits, allocates or touches this object.
// A dropped block leaves a hole in the sample times, which the main thread treats as a gap.
//
// Analysis. Each delivered block is appended to rings of the newest 131072 microphone and reference
// samples. Once the microphone ring holds 4096 samples (microphone only) or is full (with reference), one
// background job analyses copies of the rings; blocks arriving meanwhile only fill the rings. A result
// is published only if the run that started the job is still the current one (the token, renewed by
// every stop()) and no gap or invalidate() happened since the job began (the continuity counter); its
// fields are then written in this order: lastUpdated, spectrum, delayMS, correlation, transfer, averages,
// compensationMS.
//
// Failures never leave as exceptions: a failed start, and an engine that fails while running (sound
// server gone, device vanished), end with running() false and the reason in status().
//
// Published state: Q_PROPERTYs written through publish() (core/Published.h); a property with a change
// signal emits it only when the value really changes.
//
// Threads: main thread only (the tap runs on the audio thread but touches only its run's own values; a
// start's worker touches only what it was given). A start uses the audio system installed (AudioHardware)
// when it begins.
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "dsp/MeasurementDSP.h"
#include "dsp/TransferTypes.h"
#include "engine/PendingStart.h"
#include "platform/AudioDevices.h"
#include "platform/Uuid.h"

class QSocketNotifier;

namespace quorvel {

class MicAnalyzer : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<SpectrumPoint> spectrum READ spectrum NOTIFY spectrumChanged)
    Q_PROPERTY(std::vector<TransferBin> transfer READ transfer NOTIFY transferChanged)
    Q_PROPERTY(int averages READ averages NOTIFY averagesChanged)
    Q_PROPERTY(double compensationMS READ compensationMS NOTIFY compensationMSChanged)
    Q_PROPERTY(double sampleRate READ sampleRate)
    Q_PROPERTY(std::optional<ReferenceDate> lastUpdated READ lastUpdated NOTIFY lastUpdatedChanged)
    Q_PROPERTY(std::optional<double> delayMS READ delayMS NOTIFY delayMSChanged)
    Q_PROPERTY(double correlation READ correlation NOTIFY correlationChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(bool starting READ starting NOTIFY startingChanged)
    Q_PROPERTY(int channelCount READ channelCount)
    Q_PROPERTY(int micChannel READ micChannel WRITE setMicChannel NOTIFY micChannelChanged)
    Q_PROPERTY(
        int referenceChannel READ referenceChannel WRITE setReferenceChannel NOTIFY referenceChannelChanged)
    Q_PROPERTY(bool dual READ dual WRITE setDual NOTIFY dualChanged)
    Q_PROPERTY(double temperature READ temperature WRITE setTemperature NOTIFY temperatureChanged)
    Q_PROPERTY(double calibrationMS READ calibrationMS WRITE setCalibrationMS NOTIFY calibrationMSChanged)
    Q_PROPERTY(QString hardwareIdentity READ hardwareIdentity WRITE setHardwareIdentity)
    Q_PROPERTY(int captureMicChannel READ captureMicChannel WRITE setCaptureMicChannel)
    Q_PROPERTY(int captureReferenceChannel READ captureReferenceChannel WRITE setCaptureReferenceChannel)
    Q_PROPERTY(std::optional<double> equivalentMeters READ equivalentMeters NOTIFY equivalentMetersChanged)

public:
    // Samples kept per ring (about 2.7 s at 48 kHz); a dual analysis waits for a full ring.
    static constexpr std::size_t ringSamples = std::size_t{1} << 17;
    // Samples a microphone-only analysis needs.
    static constexpr std::size_t spectrumSamples = 4096;

    // The status texts.
    static constexpr const char* statusOff = "Microphone off";
    static constexpr const char* statusSpectrum = "Microphone spectrum · dBFS";
    static constexpr const char* statusDual = "Mic + reference · use broadband noise or a sweep";
    static constexpr const char* statusDenied = "Microphone permission denied";
    static constexpr const char* statusNoInput = "No microphone input";
    static constexpr const char* statusBadChannel = "Selected channel is unavailable on this input";
    static constexpr const char* statusSameChannel = "Reference and mic must use different input channels";

    // Counts of one analyser's life, for benchmarks and diagnosis.
    struct Statistics {
        std::int64_t blocksReceived = 0;    // blocks the tap saw (audio thread), accepted or dropped
        std::int64_t blocksDropped = 0;     // of those, dropped because the mailbox was busy
        std::int64_t analysesStarted = 0;   // background jobs begun
        std::int64_t resultsPublished = 0;  // jobs whose result was published
    };

    // Idle, status "Microphone off"; makes the engine, asks for nothing.
    explicit MicAnalyzer(QObject* parent = nullptr);
    ~MicAnalyzer() override;

    // Published results.
    const std::vector<SpectrumPoint>& spectrum() const { return spectrum_; }
    const std::vector<TransferBin>& transfer() const { return transfer_; }  // ascending frequency
    int averages() const { return averages_; }
    double compensationMS() const { return compensationMS_; }
    double sampleRate() const { return sampleRate_; }  // Hz, of the last started input
    std::optional<ReferenceDate> lastUpdated() const { return lastUpdated_; }  // seconds since 2001
    std::optional<double> delayMS() const { return delayMS_; }                 // absent when untrustworthy
    double correlation() const { return correlation_; }                        // 0 … 1
    const QString& status() const { return status_; }
    bool running() const { return running_; }
    // A start is on its way: from start() until its outcome shows in running() and status(), or a stop().
    bool starting() const { return starting_; }
    int channelCount() const { return channelCount_; }  // input channels at the last bind

    // Settings read by start() (changing them does not affect a running capture). Channels count from 0.
    int micChannel() const { return micChannel_; }
    void setMicChannel(int channel);
    int referenceChannel() const { return referenceChannel_; }
    void setReferenceChannel(int channel);
    bool dual() const { return dual_; }
    void setDual(bool on);
    // Air temperature in °C and the fixed latency in ms, for equivalentMeters().
    double temperature() const { return temperature_; }
    void setTemperature(double celsius);
    double calibrationMS() const { return calibrationMS_; }
    void setCalibrationMS(double ms);

    // Capture conditions of the last start that passed the channel checks, copied into saved traces.
    const QString& hardwareIdentity() const { return hardwareIdentity_; }
    void setHardwareIdentity(const QString& identity);
    int captureMicChannel() const { return captureMicChannel_; }
    void setCaptureMicChannel(int channel);
    int captureReferenceChannel() const { return captureReferenceChannel_; }
    void setCaptureReferenceChannel(int channel);

    // The arrival delay as a path length in air, metres: (delayMS − calibrationMS) / 1000 × (331.3 +
    // 0.606 × temperature). Absent without a delay, for a non-finite calibration or temperature, a
    // temperature outside −40 … 60 °C, or a calibration outside 0 … delayMS.
    std::optional<double> equivalentMeters() const;

    // Begins a capture run; the outcome shows in running() and status() once the permission answer and
    // the start's worker have come back through the event loop. Starts with stop(); returns at once.
    void start();
    // Ends capture, clears the results and the buffered samples; status "Microphone off". Harmless when
    // idle. Work of the stopped run is never published.
    void stop();
    // Drops the buffered samples, transfer, delayMS, averages and lastUpdated, keeping the capture running
    // and the spectrum shown; an analysis under way is discarded when it returns.
    void invalidate();

    Statistics statistics() const;

signals:
    void spectrumChanged();
    void transferChanged();
    void averagesChanged();
    void compensationMSChanged();
    void lastUpdatedChanged();
    void delayMSChanged();
    void correlationChanged();
    void statusChanged();
    void runningChanged();
    void startingChanged();
    void micChannelChanged();
    void referenceChannelChanged();
    void dualChanged();
    void temperatureChanged();
    void calibrationMSChanged();
    void equivalentMetersChanged();

private:
    struct CaptureRun;
    class Ring;
    struct Analysis;
    struct Wake;
    struct Request;
    struct Opened;

    void continueStart(const Uuid& token, bool granted);
    // The start's work on its worker.
    static Opened open(AudioSystem& system, const Request& request, const std::shared_ptr<Wake>& wake,
                       const QPointer<MicAnalyzer>& self);
    void finishStart(const Uuid& token, Opened opened);
    void takeBlock();
    // Hands the current run's block on its way, if there is one, to consume().
    void deliver();
    void consume(std::span<const double> micBlock, std::span<const double> refBlock, double rate, bool dual,
                 const Uuid& token, std::optional<std::int64_t> sampleTime);
    void finishAnalysis(AnalysisResult result, const Uuid& token, std::int64_t continuity);
    void engineFailed(const Uuid& token, const QString& description);
    void clearRings();

    void setSpectrum(std::vector<SpectrumPoint> value);
    void setTransfer(std::vector<TransferBin> value);
    void setAverages(int value);
    void setCompensationMS(double value);
    void setSampleRate(double value);
    void setLastUpdated(std::optional<ReferenceDate> value);
    void setDelayMS(std::optional<double> value);
    void setCorrelation(double value);
    void setStatus(const QString& value);
    void setRunning(bool value);
    void setStarting(bool value);
    void setChannelCount(int value);
    void updateEquivalentMeters();

    // Published state.
    std::vector<SpectrumPoint> spectrum_;
    std::vector<TransferBin> transfer_;
    int averages_ = 0;
    double compensationMS_ = 0;
    double sampleRate_ = 48000;
    std::optional<ReferenceDate> lastUpdated_;
    QString hardwareIdentity_;
    int captureMicChannel_ = 0;
    int captureReferenceChannel_ = 1;
    std::optional<double> delayMS_;
    double correlation_ = 0;
    QString status_ = statusOff;
    bool running_ = false;
    bool starting_ = false;
    int micChannel_ = 0;
    int referenceChannel_ = 1;
    bool dual_ = false;
    int channelCount_ = 1;
    double temperature_ = 20;
    double calibrationMS_ = 0;
    std::optional<double> equivalentMeters_;

    // Private state.
    std::shared_ptr<Wake> wake_;  // the eventfd the taps write after handing over a block
    QSocketNotifier* wakeNotifier_ = nullptr;
    PendingStart pending_;                 // the last start, given up by stop()
    std::unique_ptr<AudioEngine> engine_;  // the running capture's, while running
    std::unique_ptr<Ring> mic_;
    std::unique_ptr<Ring> ref_;
    std::shared_ptr<Analysis> analysis_;  // the current run's analysis buffers, from its first analysis
    bool analyzing_ = false;
    Uuid epoch_ = Uuid::generate();
    std::optional<std::int64_t> nextSample_;
    std::int64_t continuity_ = 0;
    std::shared_ptr<CaptureRun> run_;  // the current capture run, while tapped
    Statistics statistics_;
    // Tap counts of the runs already ended; the current run's counts live in the run.
    std::int64_t endedBlocksReceived_ = 0;
    std::int64_t endedBlocksDropped_ = 0;
};

}  // namespace quorvel
