#include "engine/VoiceRenderer.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "core/MainThread.h"
#include "core/Published.h"
#include "dsp/QuorvelError.h"
#include "platform/TempFiles.h"

namespace quorvel {

// A copy of one synthesiser buffer, made on the synthesis thread and written on the main thread.
struct VoiceRenderer::Chunk {
    AudioFormat format;
    std::int64_t frameLength = 0;        // 0 ends the side's utterance
    std::optional<AudioBuffer> samples;  // absent when the synthesiser's samples were not float
};

VoiceRenderer::VoiceRenderer(QObject* parent)
    : VoiceRenderer(std::make_shared<EspeakSynthesizer>(), parent) {}

VoiceRenderer::VoiceRenderer(std::shared_ptr<SpeechSynthesizer> synth, QObject* parent)
    : QObject(parent), synth_(std::move(synth)) {
    assert(synth_);
}

VoiceRenderer::~VoiceRenderer() {
    stale_->store(true, std::memory_order_release);
    synth_->stopSpeaking();
    if (working_) {
        file_.reset();
        if (url_) TempFiles::removeQuietly(*url_);
    }
}

void VoiceRenderer::setWorking(bool working) {
    publish(this, working_, working, &VoiceRenderer::workingChanged);
}

void VoiceRenderer::renewEpoch() {
    epoch_ = Uuid::generate();
    // Release pairs with the acquire in the synthesis handler: the flag is all it reads.
    stale_->store(true, std::memory_order_release);
    stale_ = std::make_shared<std::atomic<bool>>(false);
}

void VoiceRenderer::make(const QString& text, Completion completion) {
    if (working_) return;
    renewEpoch();
    completion_ = std::move(completion);
    auto created = TempFiles::create("voice", "caf");
    if (!created) {
        // Reported later, like any failure of the synthesis, so that callers see one order of events.
        setWorking(true);
        MainThread::post(this, [this, epoch = epoch_, error = created.error()]() {
            if (epoch_ == epoch && working_) finish(error);
        });
        return;
    }
    url_ = std::move(created.value());
    render(text.toStdString(), 0);
    setWorking(true);
}

void VoiceRenderer::cancel() {
    renewEpoch();
    synth_->stopSpeaking();
    completion_ = nullptr;
    file_.reset();  // closes; an error there no longer matters
    if (url_) TempFiles::removeQuietly(*url_);
    url_.reset();
    // Announced last, so that a listener starting a new render finds this one fully gone.
    setWorking(false);
}

void VoiceRenderer::render(const std::string& text, int side) {
    const std::string utterance = text + ". " + (side == 0 ? "Left" : "Right") + ".";
    QPointer<VoiceRenderer> self(this);
    MainThread::detach([self, synth = synth_, stale = stale_, epoch = epoch_, side, text, utterance]() {
        // Steps go to the application object, which outlives every renderer, and find the renderer on the
        // main thread; posts from this one thread keep their order.
        auto deliver = [&](std::shared_ptr<Chunk> chunk) {
            MainThread::post(QCoreApplication::instance(),
                             [self, epoch, chunk = std::move(chunk), side, text]() {
                                 if (self) self->receive(epoch, chunk, side, text);
                             });
        };
        const Status spoken =
            synth->write(SpeechUtterance{utterance, speechRate, language}, [&](const SpeechBuffer& b) {
                if (stale->load(std::memory_order_acquire)) return false;
                const auto format = AudioFormat::standard(b.format.sampleRate, b.format.channelCount);
                if (!format) return true;  // nothing could hold it: dropped
                auto chunk = std::make_shared<Chunk>();
                chunk->format = *format;
                chunk->frameLength = std::max<std::int64_t>(b.frameLength, 0);
                if (b.floatChannelData) {
                    AudioBuffer& copy =
                        chunk->samples.emplace(*format, std::max<std::int64_t>(chunk->frameLength, 1));
                    copy.setFrameLength(chunk->frameLength);
                    // A closing buffer carries no samples and may point nowhere.
                    for (int c = 0; c < format->channelCount && chunk->frameLength > 0; ++c)
                        std::memcpy(copy.channel(c), b.floatChannelData[c],
                                    static_cast<std::size_t>(chunk->frameLength) * sizeof(float));
                }
                deliver(std::move(chunk));
                return true;
            });
        if (spoken) return;
        // A synthesiser that fails delivers no closing buffer: without this the render would never end.
        MainThread::post(QCoreApplication::instance(), [self, epoch, error = spoken.error()]() {
            if (self && self->epoch_ == epoch && self->working_) self->finish(error);
        });
    });
}

void VoiceRenderer::receive(const Uuid& epoch, const std::shared_ptr<Chunk>& chunk, int side,
                            const std::string& text) {
    if (epoch != epoch_ || !working_ || !url_) return;

    if (chunk->frameLength == 0) {
        // The side's utterance is over. A side that brought no speech still gets its silence, so the
        // right side keeps its place and a render always ends with a file.
        if (!file_) {
            if (Status opened = openFile(chunk->format.sampleRate); !opened) return finish(opened.error());
        }
        if (Status written = writeSilence(); !written) return finish(written.error());
        if (side == 0)
            render(text, 1);
        else
            finish(*url_);
        return;
    }

    if (!chunk->samples) return finish(QuorvelError::make(1, "Unsupported speech sample format"));
    if (!file_) {
        if (Status opened = openFile(chunk->format.sampleRate); !opened) return finish(opened.error());
    }
    AudioBuffer out(file_->format(), chunk->frameLength);
    out.setFrameLength(chunk->frameLength);
    std::copy_n(chunk->samples->channel(0), chunk->frameLength, out.channel(side));
    if (Status written = file_->write(out); !written) finish(written.error());
}

Status VoiceRenderer::openFile(double sampleRate) {
    const auto format = AudioFormat::standard(sampleRate, 2);
    if (!format) return QuorvelError::make(1, "Unsupported speech sample format");
    auto created = AudioFileWriter::create(*url_, *format);
    if (!created) return created.error();
    file_.emplace(std::move(created.value()));
    return Status::success();
}

Status VoiceRenderer::writeSilence() {
    const auto frames = static_cast<std::int64_t>(std::floor(silenceSeconds * file_->format().sampleRate));
    AudioBuffer silence(file_->format(), frames);  // starts zeroed
    silence.setFrameLength(frames);
    return file_->write(silence);
}

void VoiceRenderer::finish(Result<std::string> result) {
    // Whatever the synthesis still has is no longer wanted.
    stale_->store(true, std::memory_order_release);
    if (file_) {
        // Closing completes the header: a file that cannot be completed is no finished render.
        Status closed = file_->close();
        file_.reset();
        if (!closed && result.ok()) result = closed.error();
    }
    Completion done = std::move(completion_);
    completion_ = nullptr;
    setWorking(false);
    if (done) done(std::move(result));
}

}  // namespace quorvel
