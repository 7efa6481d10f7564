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

// What a play decided before the render, for the steps after it.
struct RoutedSignal::Plan {
    Uuid token;
    double sampleRateHz = 0;
    int outputCount = 0;
    std::vector<int> speakers;  // in play order, counted from 1
    // Every output that sounds (the speakers, then the reference) with the file it plays: 0 the first,
    // 1 the second tone of a dual tone.
    std::vector<std::pair<int, int>> outputs;
    SignalKind kind = SignalKind::sine;
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

RoutedSignal::RoutedSignal(QObject* parent)
    : QObject(parent), generation_(Uuid::generate()), engine_(AudioHardware::system().makeEngine()) {
    player_.setVolume(volumeForLevel(level_));
}

// The engine goes first (it stops and no callback runs after), then the player it called.
RoutedSignal::~RoutedSignal() { engine_.reset(); }

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
    player_.setVolume(volumeForLevel(db));
    publish(this, level_, db, &RoutedSignal::levelChanged);
}

void RoutedSignal::stop() {
    generation_ = Uuid::generate();
    engine_->stop();
    player_.stop();  // frees the buffer now that no callback reads it
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
    auto plan = std::make_shared<Plan>();
    plan->token = generation_;
    setStatus("Preparing routed signal");
    setBusy(true);

    // The engine lives as long as this object and keeps its last binding, so a return to the system
    // default must be bound explicitly; otherwise the old interface would go on sounding.
    engine_->bindOutput(0);
    if (Status bound = InterfacePicker::apply(*engine_, false); !bound) {
        stop();
        setStatus(describe(bound.error()));
        return;
    }
    const DeviceFormat format = engine_->outputFormat();
    outputCount_ = format.channelCount;
    if (outputCount_ < 1 || outputCount_ > AudioEngine::maxOutputChannels)
        return refuse("Unsupported output channel count");

    const bool both = selection_ != "A" && selection_ != "B";
    std::vector<int> speakers;
    if (selection_ == "A")
        speakers = {channelA_};
    else if (selection_ == "B")
        speakers = {channelB_};
    else
        speakers = {channelA_, channelB_};
    auto available = [&](int output) { return output >= 1 && output <= outputCount_; };
    auto isSpeaker = [&](int output) {
        return std::find(speakers.begin(), speakers.end(), output) != speakers.end();
    };
    if (!std::all_of(speakers.begin(), speakers.end(), available) || (both && channelA_ == channelB_))
        return refuse("Choose distinct, available speaker outputs");
    if (sendReference_ && (!available(referenceOutput_) || isSpeaker(referenceOutput_)))
        return refuse("Reference needs its own available output");
    const bool dual = settings.kind == SignalKind::dual;
    if (dual && both && sendReference_)
        return refuse("Solo A or B for a single electrical reference when using separate tones");

    plan->sampleRateHz = format.sampleRateHz;
    plan->outputCount = outputCount_;
    plan->speakers = speakers;
    plan->kind = settings.kind;
    // A dual tone plays its second tone on speaker B only. Soloed, the reference carries what the one
    // speaker plays: with A alone no output gets the second tone, even one that is B's channel.
    const bool soloB = dual && selection_ == "B";
    for (std::size_t i = 0; i < speakers.size(); ++i)
        plan->outputs.emplace_back(speakers[i], dual && (soloB || i == 1) ? 1 : 0);
    if (sendReference_) plan->outputs.emplace_back(referenceOutput_, soloB ? 1 : 0);

    // A dual tone becomes two full-level sines, one per file, so each output can carry one tone alone.
    SignalSettings first = settings;
    std::optional<SignalSettings> second;
    if (dual) {
        first.kind = SignalKind::sine;
        second = settings;
        second->kind = SignalKind::sine;
        second->frequency = settings.frequency2;
    }
    const QPointer<RoutedSignal> self(this);
    MainThread::detach([self, plan, first, second] {
        auto renders = std::make_shared<Renders>();
        std::optional<Error> failure;
        for (const SignalSettings* s : {&first, second ? &*second : nullptr}) {
            if (!s) continue;
            auto made = SignalRenderer::make(*s, plan->sampleRateHz);
            if (!made) {
                failure = made.error();
                break;
            }
            renders->paths.push_back(std::move(*made));
        }
        if (failure) renders.reset();  // a second render that fails takes the first file with it
        MainThread::post(QCoreApplication::instance(), [self, plan, renders, failure]() mutable {
            if (self)
                self->finish(plan, failure ? Result<std::shared_ptr<Renders>>(*failure)
                                           : Result<std::shared_ptr<Renders>>(std::move(renders)));
        });
    });
}

void RoutedSignal::finish(const std::shared_ptr<const Plan>& plan,
                          Result<std::shared_ptr<Renders>> rendered) {
    if (!current(plan->token)) return;  // stale: the files go with the last holder
    if (!rendered) {
        stop();
        setStatus(describe(rendered.error()));
        return;
    }
    // Held until this function returns, so the files are gone by the time anything is published after it.
    const std::shared_ptr<Renders> renders = std::move(*rendered);

    const DeviceFormat now = engine_->outputFormat();
    if (now.sampleRateHz != plan->sampleRateHz || now.channelCount != plan->outputCount)
        return refuse("Output changed while preparing; choose outputs and restart");
    const Outcome started = start(*plan, renders->paths);
    if (started.failed) {
        stop();
        setStatus(started.message);
        return;
    }
    if (!started.message.isEmpty()) return refuse(started.message);
    QStringList outputs;
    for (int o : plan->speakers) outputs << QString::number(o);
    setPlaying(true);
    setStatus(
        QString::fromUtf8(rawValue(plan->kind).data(), static_cast<qsizetype>(rawValue(plan->kind).size())) +
        " → outputs " + outputs.join(", "));
    setBusy(false);
}

RoutedSignal::Outcome RoutedSignal::start(const Plan& plan, const std::vector<std::string>& files) {
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

    engine_->setOutput(plan.outputCount, player_.renderer());
    const Uuid token = plan.token;
    const QPointer<RoutedSignal> self(this);
    engine_->setFailureHandler([self, token](const Error& failure) {
        MainThread::post(QCoreApplication::instance(), [self, token, failure] {
            if (self) self->engineFailed(token, failure);
        });
    });
    player_.setVolume(volumeForLevel(level_));
    player_.schedule(std::move(buffer));
    if (Status started = engine_->start(); !started) return {describe(started.error()), true};
    return {};
}

// The sound server or the device went away while playing: say so rather than go on claiming to play.
void RoutedSignal::engineFailed(const Uuid& token, const Error& failure) {
    if (!current(token) || !isPlaying_) return;
    stop();
    setStatus(describe(failure));
}

}  // namespace quorvel
