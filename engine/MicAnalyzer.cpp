#include "engine/MicAnalyzer.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <cassert>
#include <cmath>
#include <mutex>

#include "core/MainThread.h"
#include "core/Published.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "engine/MicrophonePermission.h"

namespace quorvel {

namespace {

// The longest block a run's buffers take. The engine delivers at least 4096 frames and at most one
// device period more; a longer block (a period above 12288 frames) is dropped and shows as a gap.
constexpr std::int64_t maxBlockFrames = 4 * AudioEngine::tapBlockFrames;

}  // namespace

// The eventfd the taps write to wake the main thread. Every run holds it as well as the analyser, so that a
// tap still running on an engine that a worker stops never writes to a closed, perhaps reused, descriptor.
struct MicAnalyzer::Wake {
    Wake() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Wake() {
        if (fd >= 0) ::close(fd);
    }
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;
    const int fd;
};

// What a start takes to its worker: the settings as they were when it began.
struct MicAnalyzer::Request {
    StoredInterface interface;
    int micChannel = 0;
    int referenceChannel = 1;
    bool dual = false;
    Uuid token;
    PendingStart pending;
};

// What a start's worker hands back. Each field is set once its step was reached, so that the main thread
// publishes what it always did for a start that ended there.
struct MicAnalyzer::Opened {
    std::optional<int> channelCount;  // the input format was read
    struct Conditions {
        int micChannel = 0;
        int referenceChannel = 0;
        double rate = 0;
        QString identity;
    };
    std::optional<Conditions> conditions;  // the channels passed their checks
    QString failure;                       // empty when the capture runs
    bool failedToOpen = false;             // the binding or the stream failed (not a check)
    std::unique_ptr<AudioEngine> engine;   // running, with the run's tap
    std::shared_ptr<CaptureRun> run;
};

// A fixed-size ring of the newest samples; its storage is taken by the first append and given back by
// release(). Main thread only.
class MicAnalyzer::Ring {
public:
    std::size_t size() const { return size_; }
    void clear() {
        start_ = 0;
        size_ = 0;
    }
    void release() {
        clear();
        data_ = {};
    }
    // Appends, dropping the oldest samples beyond ringSamples.
    void append(std::span<const double> samples) {
        if (samples.empty()) return;
        if (data_.empty()) data_.resize(ringSamples);
        if (samples.size() >= ringSamples) samples = samples.last(ringSamples);
        for (const double s : samples) {
            data_[(start_ + size_) % ringSamples] = s;
            if (size_ < ringSamples)
                ++size_;
            else
                start_ = (start_ + 1) % ringSamples;
        }
    }
    // Replaces `out` with the held samples, oldest first (within its capacity once it has held a full ring).
    void copyTo(std::vector<double>& out) const {
        out.resize(size_);
        const std::size_t first = std::min(size_, ringSamples - start_);
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(start_), first, out.begin());
        std::copy_n(data_.begin(), size_ - first, out.begin() + static_cast<std::ptrdiff_t>(first));
    }

private:
    std::vector<double> data_;
    std::size_t start_ = 0;
    std::size_t size_ = 0;
};

// What one capture run's tap holds: values fixed by start() before the tap is installed, the mailbox, and
// the buffers of the one block that may be on its way to the main thread.
//
// Hand-over: the audio thread claims the mailbox (try-lock; `pending` false → true), fills the block
// fields, publishes them with `ready` (release) and wakes the main thread. The main thread reads them
// after seeing `ready` (acquire), clears `ready` and releases the mailbox under the lock, whose unlock
// orders its reads before the audio thread's next successful claim and so before the next fill.
struct MicAnalyzer::CaptureRun {
    CaptureRun(int m, int r, bool d, double rateHz, Uuid runToken, std::shared_ptr<Wake> w)
        : micChannel(m),
          referenceChannel(r),
          dual(d),
          rate(rateHz),
          token(runToken),
          wake(std::move(w)),
          micBlock(static_cast<std::size_t>(maxBlockFrames)),
          refBlock(d ? static_cast<std::size_t>(maxBlockFrames) : 0) {}

    // Any thread: try to take the mailbox for one block; never waits.
    bool claim() {
        if (!lock.try_lock()) return false;
        const bool was = pending;
        pending = true;
        lock.unlock();
        return !was;
    }
    // Main thread: free the mailbox; may wait briefly for the lock.
    void release() {
        std::lock_guard guard(lock);
        pending = false;
    }

    // Audio thread only.
    void take(const AudioInputBlock& block) {
        received.fetch_add(1, std::memory_order_relaxed);
        // Blocks that cannot be copied are refused before claiming, so that the audio thread never has to
        // give the mailbox back (which would mean waiting for the lock).
        if (!block.channels || block.frameCount > maxBlockFrames || micChannel >= block.channelCount ||
            (dual && referenceChannel >= block.channelCount))
            return;
        if (!claim()) {
            dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        const auto n = static_cast<std::size_t>(block.frameCount);
        const float* mic = block.channels[micChannel];
        for (std::size_t i = 0; i < n; ++i) micBlock[i] = mic[i];
        if (dual) {
            const float* ref = block.channels[referenceChannel];
            for (std::size_t i = 0; i < n; ++i) refBlock[i] = ref[i];
        }
        frames = n;
        sampleTime = block.sampleTimeValid ? std::optional<std::int64_t>(block.sampleTime) : std::nullopt;
        ready.store(true, std::memory_order_release);
        const std::uint64_t one = 1;
        // Cannot block (non-blocking eventfd); a full counter already means "wake up".
        [[maybe_unused]] const ssize_t written = ::write(wake->fd, &one, sizeof one);
    }

    const int micChannel;
    const int referenceChannel;
    const bool dual;
    const double rate;
    const Uuid token;
    const std::shared_ptr<Wake> wake;

    std::mutex lock;
    bool pending = false;  // guarded by lock

    // The block on its way: written by the audio thread between a claim and `ready`, read by the main
    // thread between `ready` and release().
    std::vector<double> micBlock;
    std::vector<double> refBlock;
    std::size_t frames = 0;
    std::optional<std::int64_t> sampleTime;
    std::atomic<bool> ready{false};

    // Counts for statistics(); relaxed, only totals matter.
    std::atomic<std::int64_t> received{0};
    std::atomic<std::int64_t> dropped{0};
};

// What the analyses of one capture run reuse: the copies of the rings a job works on and the analysis
// workspace (about 11 MB with full rings). Made by the run's first analysis and held by the analyser and
// by the job in flight; the last of them to let go frees it, on whichever thread that is.
struct MicAnalyzer::Analysis {
    std::vector<double> mic;
    std::vector<double> ref;
    MeasurementDSP::Workspace workspace;

    static std::shared_ptr<Analysis> make() {
        return std::shared_ptr<Analysis>(new Analysis, [](Analysis* analysis) {
            delete analysis;
#ifdef __GLIBC__
            // glibc keeps freed blocks in the arena of the thread that used them (one per pool thread
            // that ever ran a job) instead of returning them; after a run that is megabytes per arena.
            malloc_trim(0);
#endif
        });
    }
};

MicAnalyzer::MicAnalyzer(QObject* parent)
    : QObject(parent),
      wake_(std::make_shared<Wake>()),
      mic_(std::make_unique<Ring>()),
      ref_(std::make_unique<Ring>()) {
    assert(wake_->fd >= 0);
    if (wake_->fd >= 0) {
        wakeNotifier_ = new QSocketNotifier(wake_->fd, QSocketNotifier::Read, this);
        connect(wakeNotifier_, &QSocketNotifier::activated, this, &MicAnalyzer::takeBlock);
    }
}

// A start still on a worker finds the analyser gone and stops its engine there.
MicAnalyzer::~MicAnalyzer() {
    pending_.giveUp();
    engine_.reset();
    delete wakeNotifier_;
}

void MicAnalyzer::setMicChannel(int channel) {
    publish(this, micChannel_, channel, &MicAnalyzer::micChannelChanged);
}
void MicAnalyzer::setReferenceChannel(int channel) {
    publish(this, referenceChannel_, channel, &MicAnalyzer::referenceChannelChanged);
}
void MicAnalyzer::setDual(bool on) { publish(this, dual_, on, &MicAnalyzer::dualChanged); }
void MicAnalyzer::setTemperature(double celsius) {
    publish(this, temperature_, celsius, &MicAnalyzer::temperatureChanged);
    updateEquivalentMeters();
}
void MicAnalyzer::setCalibrationMS(double ms) {
    publish(this, calibrationMS_, ms, &MicAnalyzer::calibrationMSChanged);
    updateEquivalentMeters();
}
void MicAnalyzer::setHardwareIdentity(const QString& identity) { hardwareIdentity_ = identity; }
void MicAnalyzer::setCaptureMicChannel(int channel) { captureMicChannel_ = channel; }
void MicAnalyzer::setCaptureReferenceChannel(int channel) { captureReferenceChannel_ = channel; }

void MicAnalyzer::setSpectrum(std::vector<SpectrumPoint> value) {
    publish(this, spectrum_, std::move(value), &MicAnalyzer::spectrumChanged);
}
void MicAnalyzer::setTransfer(std::vector<TransferBin> value) {
    publish(this, transfer_, std::move(value), &MicAnalyzer::transferChanged);
}
void MicAnalyzer::setAverages(int value) { publish(this, averages_, value, &MicAnalyzer::averagesChanged); }
void MicAnalyzer::setCompensationMS(double value) {
    publish(this, compensationMS_, value, &MicAnalyzer::compensationMSChanged);
}
void MicAnalyzer::setSampleRate(double value) { sampleRate_ = value; }
void MicAnalyzer::setLastUpdated(std::optional<ReferenceDate> value) {
    publish(this, lastUpdated_, value, &MicAnalyzer::lastUpdatedChanged);
}
void MicAnalyzer::setDelayMS(std::optional<double> value) {
    publish(this, delayMS_, value, &MicAnalyzer::delayMSChanged);
    updateEquivalentMeters();
}
void MicAnalyzer::setCorrelation(double value) {
    publish(this, correlation_, value, &MicAnalyzer::correlationChanged);
}
void MicAnalyzer::setStatus(const QString& value) {
    publish(this, status_, value, &MicAnalyzer::statusChanged);
}
void MicAnalyzer::setRunning(bool value) { publish(this, running_, value, &MicAnalyzer::runningChanged); }
void MicAnalyzer::setStarting(bool value) { publish(this, starting_, value, &MicAnalyzer::startingChanged); }
void MicAnalyzer::setChannelCount(int value) { channelCount_ = value; }

std::optional<double> MicAnalyzer::equivalentMeters() const {
    if (!delayMS_) return std::nullopt;
    if (!std::isfinite(calibrationMS_) || !std::isfinite(temperature_)) return std::nullopt;
    if (temperature_ < -40 || temperature_ > 60) return std::nullopt;
    if (calibrationMS_ > *delayMS_ || calibrationMS_ < 0) return std::nullopt;
    return (*delayMS_ - calibrationMS_) / 1000.0 * (331.3 + 0.606 * temperature_);
}

void MicAnalyzer::updateEquivalentMeters() {
    publish(this, equivalentMeters_, equivalentMeters(), &MicAnalyzer::equivalentMetersChanged);
}

MicAnalyzer::Statistics MicAnalyzer::statistics() const {
    Statistics s = statistics_;
    s.blocksReceived = endedBlocksReceived_;
    s.blocksDropped = endedBlocksDropped_;
    if (run_) {
        s.blocksReceived += run_->received.load(std::memory_order_relaxed);
        s.blocksDropped += run_->dropped.load(std::memory_order_relaxed);
    }
    return s;
}

void MicAnalyzer::start() {
    stop();
    const Uuid token = epoch_;
    setStarting(true);
    MicrophonePermission::requestAccess(this, [this, token](bool granted) { continueStart(token, granted); });
}

void MicAnalyzer::continueStart(const Uuid& token, bool granted) {
    if (epoch_ != token) return;  // a stop() or a newer start() ran while the answer was on its way
    if (!granted) {
        setStarting(false);
        setStatus(statusDenied);
        return;
    }
    pending_ = PendingStart();
    const Request request{InterfacePicker::stored(), micChannel_, referenceChannel_, dual_, token, pending_};
    MainThread::detachThen(
        this,
        [system = AudioHardware::shared(), request, wake = wake_, self = QPointer<MicAnalyzer>(this)] {
            return open(*system, request, wake, self);
        },
        [this, token](Opened opened) { finishStart(token, std::move(opened)); });
}

MicAnalyzer::Opened MicAnalyzer::open(AudioSystem& system, const Request& request,
                                      const std::shared_ptr<Wake>& wake, const QPointer<MicAnalyzer>& self) {
    Opened opened;
    auto fail = [&opened](QString why, bool toOpen) {
        opened.failure = std::move(why);
        opened.failedToOpen = toOpen;
        return std::move(opened);
    };
    auto bound = request.interface.makeEngine(system, true);
    if (!bound) return fail(QString::fromStdString(bound.error().description), true);
    std::unique_ptr<AudioEngine> engine = std::move(*bound);

    const DeviceFormat format = engine->inputFormat();
    opened.channelCount = format.channelCount;
    if (format.channelCount < 1 || !(format.sampleRateHz > 0))
        return fail(QString::fromStdString(AudioHardware::missingDevice(system, statusNoInput)), false);
    const int m = request.micChannel;
    const int r = request.referenceChannel;
    const bool d = request.dual;
    if (m < 0 || m >= format.channelCount) return fail(statusBadChannel, false);
    if (d && (r < 0 || r >= format.channelCount)) return fail(statusBadChannel, false);
    opened.conditions = Opened::Conditions{m, r, format.sampleRateHz, request.interface.identity(system)};
    if (d && m == r) return fail(statusSameChannel, false);

    auto run = std::make_shared<CaptureRun>(m, r, d, format.sampleRateHz, request.token, wake);
    engine->setFailureHandler([self, token = request.token](const Error& failure) {
        const QString description = QString::fromStdString(failure.description);
        MainThread::post(QCoreApplication::instance(), [self, token, description] {
            if (self) self->engineFailed(token, description);
        });
    });
    engine->installTap([run](const AudioInputBlock& block) { run->take(block); });
    if (Status started = request.pending.start([&] { return engine->start(); }, [&] { engine->stop(); });
        !started)
        return fail(QString::fromStdString(started.error().description), true);
    opened.engine = std::move(engine);
    opened.run = std::move(run);
    return opened;
}

void MicAnalyzer::finishStart(const Uuid& token, Opened opened) {
    if (epoch_ != token) {
        MainThread::dispose(std::move(opened.engine));
        return;
    }
    setStarting(false);
    if (opened.channelCount) setChannelCount(*opened.channelCount);
    if (const auto& conditions = opened.conditions) {
        setCaptureMicChannel(conditions->micChannel);
        setCaptureReferenceChannel(conditions->referenceChannel);
        setSampleRate(conditions->rate);
        setHardwareIdentity(conditions->identity);
    }
    if (!opened.engine) {
        if (opened.failedToOpen) stop();
        setStatus(opened.failure);
        return;
    }
    engine_ = std::move(opened.engine);
    run_ = std::move(opened.run);
    setRunning(true);
    setStatus(run_->dual ? statusDual : statusSpectrum);
    // A block may have been handed over before the run was current; the tap hands over no other until it
    // is taken.
    deliver();
}

void MicAnalyzer::takeBlock() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wake_->fd, &count, sizeof count);
    deliver();
}

void MicAnalyzer::deliver() {
    // Only the current run's block matters: an ended run's block would be refused by its token anyway.
    const std::shared_ptr<CaptureRun> run = run_;
    if (!run || !run->ready.load(std::memory_order_acquire)) return;
    const std::span<const double> micBlock(run->micBlock.data(), run->frames);
    const std::span<const double> refBlock(run->refBlock.data(), run->dual ? run->frames : 0);
    consume(micBlock, refBlock, run->rate, run->dual, run->token, run->sampleTime);
    run->ready.store(false, std::memory_order_relaxed);
    run->release();
}

void MicAnalyzer::consume(std::span<const double> micBlock, std::span<const double> refBlock, double rate,
                          bool dual, const Uuid& token, std::optional<std::int64_t> sampleTime) {
    if (epoch_ != token) return;
    if (!running_) return;
    if (sampleTime) {
        if (nextSample_ && *nextSample_ != *sampleTime) {
            // A gap: nothing computed across it may be published.
            clearRings();
            setTransfer({});
            setDelayMS(std::nullopt);
            setAverages(0);
            ++continuity_;
        }
        nextSample_ = *sampleTime + static_cast<std::int64_t>(micBlock.size());
    }
    mic_->append(micBlock);
    ref_->append(refBlock);
    if (analyzing_) return;
    if (mic_->size() < (dual ? ringSamples : spectrumSamples)) return;

    analyzing_ = true;
    ++statistics_.analysesStarted;
    // The job in flight is the only other user of the analysis buffers, and none is in flight now.
    if (!analysis_) analysis_ = Analysis::make();
    mic_->copyTo(analysis_->mic);
    ref_->copyTo(analysis_->ref);
    const std::int64_t continuity = continuity_;
    QPointer<MicAnalyzer> self(this);
    MainThread::detach(
        [self, analysis = analysis_, dual, rate, token, continuity]() mutable {
            std::optional<std::span<const double>> reference;
            if (dual) reference = std::span<const double>(analysis->ref);
            AnalysisResult result =
                MeasurementDSP::analyze(analysis->workspace, analysis->mic, reference, rate);
            analysis.reset();  // after a stop(), the run's buffers go now rather than with the posted step
            MainThread::post(QCoreApplication::instance(),
                             [self, result = std::move(result), token, continuity]() mutable {
                                 if (self) self->finishAnalysis(std::move(result), token, continuity);
                             });
        },
        QThread::LowPriority);
}

void MicAnalyzer::finishAnalysis(AnalysisResult result, const Uuid& token, std::int64_t continuity) {
    // A result of a stopped run: a newer run may own `analyzing_` by now, so it is left alone.
    if (epoch_ != token) return;
    if (continuity_ == continuity) {
        setLastUpdated(referenceDateNow());
        setSpectrum(std::move(result.spectrum));
        setDelayMS(result.delayMS);
        setCorrelation(result.correlation);
        setTransfer(std::move(result.transfer));
        setAverages(result.averages);
        setCompensationMS(result.compensationMS);
        ++statistics_.resultsPublished;
    }
    analyzing_ = false;
}

void MicAnalyzer::engineFailed(const Uuid& token, const QString& description) {
    if (epoch_ != token) return;  // the failing run was already stopped
    stop();
    setStatus(description);
}

void MicAnalyzer::stop() {
    epoch_ = Uuid::generate();
    pending_.giveUp();
    if (engine_) {
        // Stopped here, so that no tap runs once stop() returns; destroyed on the pool, as letting go of
        // the device may wait on its server.
        engine_->stop();
        MainThread::dispose(std::move(engine_));
    }
    if (run_) {
        // No tap runs any more: the run's counts are final.
        endedBlocksReceived_ += run_->received.load(std::memory_order_relaxed);
        endedBlocksDropped_ += run_->dropped.load(std::memory_order_relaxed);
        run_.reset();
    }
    setStarting(false);
    setLastUpdated(std::nullopt);
    setSpectrum({});
    setRunning(false);
    // The run's buffers go: the rings now, the analysis buffers with the job in flight, if any.
    mic_->release();
    ref_->release();
    analysis_.reset();
    nextSample_.reset();
    analyzing_ = false;
    setDelayMS(std::nullopt);
    setCorrelation(0);
    setTransfer({});
    setAverages(0);
    setStatus(statusOff);
}

void MicAnalyzer::invalidate() {
    clearRings();
    setTransfer({});
    setDelayMS(std::nullopt);
    setAverages(0);
    setLastUpdated(std::nullopt);
    ++continuity_;
}

void MicAnalyzer::clearRings() {
    mic_->clear();
    ref_->clear();
}

}  // namespace quorvel
