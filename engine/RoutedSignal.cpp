#include "engine/RoutedSignal.h"

#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <optional>

#include "core/MainThread.h"
#include "core/Published.h"
#include "dsp/SignalRenderer.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"
#include "platform/AudioFile.h"
#include "platform/TempFiles.h"

namespace quorvel {

// What a play takes to its worker: the interface choice, the routing and the level's player as they were
// when it began.
struct RoutedSignal::Request {
    StoredInterface interface;
    QString selection;
    int channelA = 0;
    int channelB = 0;
    int referenceOutput = 0;
    bool sendReference = false;
    SignalSettings settings;
    Uuid token;
    PendingStart pending;
    std::shared_ptr<BufferPlayer> player;
};

// What a play's worker hands back.
struct RoutedSignal::Prepared {
    std::optional<int> outputCount;       // the output format was read
    QString status;                       // what the play ended with, or what plays
    bool failed = false;                  // the status is shown after stopping, not only ending the play
    std::unique_ptr<AudioEngine> engine;  // playing the loop
};

// What a play decided before the render, for the steps after it.
struct RoutedSignal::Plan {
    double sampleRateHz = 0;
    int outputCount = 0;
    // Every output that sounds (the speakers, then the reference) with the file it plays: 0 the first,
    // 1 the second tone of a dual tone.
    std::vector<std::pair<int, int>> outputs;
};

// The rendered files of one play. They are deleted when the last holder lets go, so a play that ends in
// any way, or whose result is never delivered, leaves nothing behind.
struct RoutedSignal::Renders {
    std::vector<std::string> paths;
    Renders() = default;
    Renders(const Renders&) = delete;
    Renders& operator=(const Renders&) = delete;
    ~Renders() {
        for (const auto& p : paths) TempFiles::removeQuietly(p);
    }
};

namespace {

QString describe(const Error& error) { return QString::fromStdString(error.description); }

// Every file read whole, in its own format.
Result<std::vector<AudioBuffer>> readAll(const std::vector<std::string>& paths, double limitBytes,
                                         int outputs, bool& tooLarge) {
    std::vector<AudioFileReader> readers;
    for (const auto& p : paths) {
        auto reader = AudioFileReader::open(p);
        if (!reader) return reader.error();
        readers.push_back(std::move(*reader));
    }
    const double bytes = static_cast<double>(readers.front().length()) * outputs * 4.0;
    if (!(bytes <= limitBytes)) {
        tooLarge = true;
        return std::vector<AudioBuffer>{};
    }
    std::vector<AudioBuffer> buffers;
    for (auto& r : readers) {
        AudioBuffer b(r.processingFormat(), r.length());
        if (Status s = r.read(b); !s) return s.error();
        buffers.push_back(std::move(b));
    }
    return buffers;
}

}  // namespace

RoutedSignal::RoutedSignal(QObject* parent) : QObject(parent), generation_(Uuid::generate()) {}

// The engine goes first (it stops and no callback runs after); a play on its way stops on its worker.
RoutedSignal::~RoutedSignal() {
    pending_.giveUp();
    engine_.reset();
}

void RoutedSignal::setChannelA(int output) {
    publish(this, channelA_, output, &RoutedSignal::channelAChanged);
}
void RoutedSignal::setChannelB(int output) {
    publish(this, channelB_, output, &RoutedSignal::channelBChanged);
}
void RoutedSignal::setReferenceOutput(int output) {
    publish(this, referenceOutput_, output, &RoutedSignal::referenceOutputChanged);
}
void RoutedSignal::setSendReference(bool send) {
    publish(this, sendReference_, send, &RoutedSignal::sendReferenceChanged);
}
void RoutedSignal::setSelection(const QString& selection) {
    publish(this, selection_, selection, &RoutedSignal::selectionChanged);
}
void RoutedSignal::setStatus(const QString& status) {
    publish(this, status_, status, &RoutedSignal::statusChanged);
}
void RoutedSignal::setPlaying(bool playing) {
    publish(this, isPlaying_, playing, &RoutedSignal::isPlayingChanged);
}
void RoutedSignal::setBusy(bool busy) { publish(this, busy_, busy, &RoutedSignal::busyChanged); }

float RoutedSignal::volumeForLevel(double db) {
    if (!(db >= -60)) return 0.001f;  // also NaN
    return static_cast<float>(std::pow(10.0, std::min(db, 0.0) / 20.0));
}

void RoutedSignal::setLevel(double db) {
    if (player_) player_->setVolume(volumeForLevel(db));
    publish(this, level_, db, &RoutedSignal::levelChanged);
}

void RoutedSignal::stop() {
    generation_ = Uuid::generate();
    pending_.giveUp();
    if (engine_) {
        // Silent once stop() returns; destroyed on the pool, as letting go of the device may wait on its
        // server.
        engine_->stop();
        MainThread::dispose(std::move(engine_));
    }
    // Its buffer goes with its last holder: the engine's callback, or the worker of a play given up.
    player_.reset();
    setPlaying(false);
    setBusy(false);
    setStatus(stoppedStatus);
}

void RoutedSignal::refuse(const QString& message) {
    setStatus(message);
    setBusy(false);
}

void RoutedSignal::play(const SignalSettings& settings) {
    stop();
    setStatus("Preparing routed signal");
    setBusy(true);
    pending_ = PendingStart();
    // The level reaches the player while the play is on its way, and sounds from its first sample.
    player_ = std::make_shared<BufferPlayer>();
    player_->setVolume(volumeForLevel(level_));
    const Request request{InterfacePicker::stored(),
                          selection_,
                          channelA_,
                          channelB_,
                          referenceOutput_,
                          sendReference_,
                          settings,
                          generation_,
                          pending_,
                          player_};
    MainThread::detachThen(
        this,
        [system = AudioHardware::shared(), request, self = QPointer<RoutedSignal>(this)] {
            return prepare(*system, request, self);
        },
        [this, token = generation_](Prepared prepared) { finish(token, std::move(prepared)); });
}

RoutedSignal::Prepared RoutedSignal::prepare(AudioSystem& system, const Request& request,
                                             const QPointer<RoutedSignal>& self) {
    Prepared prepared;
    auto ended = [&prepared](QString status, bool failed) {
        prepared.status = std::move(status);
        prepared.failed = failed;
        return std::move(prepared);
    };
    auto bound = request.interface.makeEngine(system, false);
    if (!bound) return ended(describe(bound.error()), true);
    std::unique_ptr<AudioEngine> engine = std::move(*bound);
    const DeviceFormat format = engine->outputFormat();
    const int outputCount = format.channelCount;
    prepared.outputCount = outputCount;
    if (outputCount < 1)
        return ended(
            QString::fromStdString(AudioHardware::missingDevice(system, "Unsupported output channel count")),
            false);
    if (outputCount > AudioEngine::maxOutputChannels) return ended("Unsupported output channel count", false);

    const QString& selection = request.selection;
    const bool both = selection != "A" && selection != "B";
    std::vector<int> speakers;
    if (selection == "A")
        speakers = {request.channelA};
    else if (selection == "B")
        speakers = {request.channelB};
    else
        speakers = {request.channelA, request.channelB};
    auto available = [&](int output) { return output >= 1 && output <= outputCount; };
    auto isSpeaker = [&](int output) {
        return std::find(speakers.begin(), speakers.end(), output) != speakers.end();
    };
    if (!std::all_of(speakers.begin(), speakers.end(), available) ||
        (both && request.channelA == request.channelB))
        return ended("Choose distinct, available speaker outputs", false);
    const int reference = request.referenceOutput;
    if (request.sendReference && (!available(reference) || isSpeaker(reference)))
        return ended("Reference needs its own available output", false);
    const SignalSettings& settings = request.settings;
    const bool dual = settings.kind == SignalKind::dual;
    if (dual && both && request.sendReference)
        return ended("Solo A or B for a single electrical reference when using separate tones", false);

    Plan plan;
    plan.sampleRateHz = format.sampleRateHz;
    plan.outputCount = outputCount;
    // A dual tone plays its second tone on speaker B only. Soloed, the reference carries what the one
    // speaker plays: with A alone no output gets the second tone, even one that is B's channel.
    const bool soloB = dual && selection == "B";
    for (std::size_t i = 0; i < speakers.size(); ++i)
        plan.outputs.emplace_back(speakers[i], dual && (soloB || i == 1) ? 1 : 0);
    if (request.sendReference) plan.outputs.emplace_back(reference, soloB ? 1 : 0);

    // A dual tone becomes two full-level sines, one per file, so each output can carry one tone alone.
    SignalSettings first = settings;
    std::optional<SignalSettings> second;
    if (dual) {
        first.kind = SignalKind::sine;
        second = settings;
        second->kind = SignalKind::sine;
        second->frequency = settings.frequency2;
    }
    // Held until this function returns: the files are gone by the time anything is published.
    Renders renders;
    for (const SignalSettings* s : {&first, second ? &*second : nullptr}) {
        if (!s) continue;
        auto made = SignalRenderer::make(*s, plan.sampleRateHz);
        if (!made) return ended(describe(made.error()), true);
        renders.paths.push_back(std::move(*made));
    }

    const DeviceFormat now = engine->outputFormat();
    if (now.sampleRateHz != plan.sampleRateHz || now.channelCount != plan.outputCount)
        return ended("Output changed while preparing; choose outputs and restart", false);
    const Outcome started = start(*engine, request, plan, renders.paths, self);
    if (!started.message.isEmpty()) return ended(started.message, started.failed);
    QStringList outputs;
    for (int o : speakers) outputs << QString::number(o);
    prepared.status = QString::fromUtf8(rawValue(settings.kind).data(),
                                        static_cast<qsizetype>(rawValue(settings.kind).size())) +
                      " → outputs " + outputs.join(", ");
    prepared.engine = std::move(engine);
    return prepared;
}

void RoutedSignal::finish(const Uuid& token, Prepared prepared) {
    if (!current(token)) {
        MainThread::dispose(std::move(prepared.engine));
        return;
    }
    if (prepared.outputCount) outputCount_ = *prepared.outputCount;
    if (prepared.failed) {
        stop();
        setStatus(prepared.status);
        return;
    }
    if (!prepared.engine) return refuse(prepared.status);
    engine_ = std::move(prepared.engine);
    setPlaying(true);
    setStatus(prepared.status);
    setBusy(false);
}

RoutedSignal::Outcome RoutedSignal::start(AudioEngine& engine, const Request& request, const Plan& plan,
                                          const std::vector<std::string>& files,
                                          const QPointer<RoutedSignal>& self) {
    const auto format = AudioFormat::standard(plan.sampleRateHz, plan.outputCount);
    if (!format) return {"Unsupported output channel count", false};
    bool tooLarge = false;
    auto sources = readAll(files, bufferLimitBytes, plan.outputCount, tooLarge);
    if (tooLarge) return {"Shorten cycle duration for this channel count", false};
    if (!sources) return {describe(sources.error()), true};

    const std::int64_t frames = sources->front().frameLength();
    auto buffer = std::make_shared<AudioBuffer>(*format, frames);
    buffer->setFrameLength(frames);
    for (const auto& [o, file] : plan.outputs) {
        const AudioBuffer& source = (*sources)[static_cast<std::size_t>(file)];
        const std::int64_t n = std::min(frames, source.frameLength());
        std::copy(source.channel(0), source.channel(0) + n, buffer->channel(o - 1));
    }

    // The callback holds the player, which may outlive this object while a worker stops the engine.
    engine.setOutput(plan.outputCount,
                     [player = request.player](float* const* channels, int channelCount, std::int64_t n) {
                         player->render(channels, channelCount, n);
                     });
    engine.setFailureHandler([self, token = request.token](const Error& failure) {
        MainThread::post(QCoreApplication::instance(), [self, token, failure] {
            if (self) self->engineFailed(token, failure);
        });
    });
    request.player->schedule(std::move(buffer));
    if (Status started = request.pending.start([&] { return engine.start(); }, [&] { engine.stop(); });
        !started)
        return {describe(started.error()), true};
    return {};
}

// The sound server or the device went away while playing, or as the play's result was on its way back:
// say so rather than go on claiming to play.
void RoutedSignal::engineFailed(const Uuid& token, const Error& failure) {
    if (!current(token) || !(isPlaying_ || busy_)) return;
    stop();
    setStatus(describe(failure));
}

}  // namespace quorvel
