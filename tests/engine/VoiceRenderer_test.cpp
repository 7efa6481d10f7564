#include "engine/VoiceRenderer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>

#include "TestHome.h"
#include "platform/TempFiles.h"

namespace quorvel {

namespace {

// Runs the event loop until `done` holds; the limit only keeps a broken render from hanging the run.
template <typename Pred>
bool waitFor(Pred done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

struct Outcome {
    int calls = 0;
    std::optional<Result<std::string>> result;
    VoiceRenderer::Completion completion() {
        return [this](Result<std::string> r) {
            ++calls;
            result.emplace(std::move(r));
        };
    }
};

// espeak-ng, keeping what it delivered for each utterance, so that a file can be checked sample for sample
// against the speech it was made from (the library need not say a text the same way twice). Optionally
// holds the synthesis thread after the first buffer until `release` is set.
class RecordingSynthesizer final : public SpeechSynthesizer {
public:
    Status write(const SpeechUtterance& u, const BufferHandler& onBuffer) override {
        bool first = true;
        return real_.write(u, [&](const SpeechBuffer& b) {
            if (!onBuffer(b)) return false;
            {
                std::lock_guard lock(mutex_);
                said_[u.text].insert(said_[u.text].end(), b.floatChannelData[0],
                                     b.floatChannelData[0] + b.frameLength);
            }
            if (first && holdAfterFirstBuffer) release.wait();
            first = false;
            return true;
        });
    }
    void stopSpeaking() override { real_.stopSpeaking(); }

    std::vector<float> said(const std::string& utterance) {
        std::lock_guard lock(mutex_);
        return said_[utterance];
    }

    bool holdAfterFirstBuffer = false;  // set before the first write
    std::shared_future<void> release;

private:
    EspeakSynthesizer real_;
    std::mutex mutex_;
    std::map<std::string, std::vector<float>> said_;
};

// A synthesiser that plays out a script on the calling thread.
class ScriptedSynthesizer final : public SpeechSynthesizer {
public:
    using Script = std::function<Status(const SpeechUtterance&, const BufferHandler&)>;
    explicit ScriptedSynthesizer(Script script) : script_(std::move(script)) {}
    Status write(const SpeechUtterance& u, const BufferHandler& onBuffer) override {
        return script_(u, onBuffer);
    }
    void stopSpeaking() override {}

private:
    Script script_;
};

// A mono buffer of `frames` samples of 1.0 at 22050 Hz, with or without float data.
void deliver(const SpeechSynthesizer::BufferHandler& onBuffer, std::int64_t frames, bool isFloat = true) {
    std::vector<float> ones(static_cast<std::size_t>(frames) + 1, 1.0f);
    const float* channels[1] = {ones.data()};
    onBuffer(SpeechBuffer{AudioFormat{1, 22050}, frames, isFloat ? channels : nullptr});
}

// Renders "x" through a script; checks that the completion ran once and the renderer went idle.
Result<std::string> renderScripted(ScriptedSynthesizer::Script script) {
    VoiceRenderer voice(std::make_shared<ScriptedSynthesizer>(std::move(script)));
    Outcome outcome;
    voice.make("x", outcome.completion());
    EXPECT_TRUE(waitFor([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(voice.working());
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome.calls, 1);
    if (!outcome.result) return Error{"test", 0, "no completion", {}};
    return *outcome.result;
}

AudioBuffer readAll(const std::string& path) {
    auto reader = AudioFileReader::open(path);
    EXPECT_TRUE(reader.ok()) << path;
    if (!reader.ok()) return AudioBuffer(*AudioFormat::standard(1, 1), 0);
    AudioBuffer b(reader->processingFormat(), reader->length());
    EXPECT_TRUE(reader->read(b).ok());
    return b;
}

bool allZero(const float* samples, std::int64_t count) {
    return std::all_of(samples, samples + count, [](float s) { return s == 0.0f; });
}

}  // namespace

// The whole file, sample for sample: what the synthesiser said for each side, in that side's channel only,
// each followed by 0.5 s (11025 frames at 22050 Hz) of silence. The text is used as typed, also empty.
TEST(VoiceRenderer, RendersLeftThenSilenceThenRight) {
    auto synth = std::make_shared<RecordingSynthesizer>();
    for (const std::string text : {"Playback one", ""}) {
        SCOPED_TRACE("text \"" + text + "\"");
        VoiceRenderer voice(synth);
        std::vector<bool> announced;
        QObject::connect(&voice, &VoiceRenderer::workingChanged,
                         [&] { announced.push_back(voice.working()); });
        Outcome outcome;
        voice.make(QString::fromStdString(text), outcome.completion());
        ASSERT_TRUE(waitFor([&] { return outcome.calls > 0; }));
        EXPECT_EQ(announced, (std::vector<bool>{true, false}));
        ASSERT_TRUE(outcome.result->ok()) << outcome.result->error().description;

        const std::string path = outcome.result->value();
        const std::filesystem::path name(path);
        EXPECT_EQ(name.parent_path().string(), TempFiles::directory());
        EXPECT_TRUE(name.filename().string().starts_with("voice-") && name.extension() == ".caf") << path;

        const std::vector<float> left = synth->said(text + ". Left.");
        const std::vector<float> right = synth->said(text + ". Right.");
        const auto L = static_cast<std::int64_t>(left.size()), R = static_cast<std::int64_t>(right.size());
        ASSERT_GT(L, 0);
        ASSERT_GT(R, 0);
        const AudioBuffer file = readAll(path);
        ASSERT_EQ(file.format(), (AudioFormat{2, 22050}));
        ASSERT_EQ(file.frameLength(), L + 11025 + R + 11025);
        const float* ch0 = file.channel(0);
        const float* ch1 = file.channel(1);
        EXPECT_TRUE(std::equal(left.begin(), left.end(), ch0));
        EXPECT_TRUE(allZero(ch1, L + 11025));
        EXPECT_TRUE(allZero(ch0 + L, 11025 + R + 11025));
        EXPECT_TRUE(std::equal(right.begin(), right.end(), ch1 + L + 11025));
        EXPECT_TRUE(allZero(ch1 + L + 11025 + R, 11025));
    }
}

// While a render runs a second request is ignored. Cancelled mid-speech, the partial file goes at once,
// the synthesis stops at its next buffer, the completion never runs, and buffers still on their way are
// dropped: a render started right after comes out whole.
TEST(VoiceRenderer, CancelMidSpeechAndRequestsWhileWorking) {
    auto synth = std::make_shared<RecordingSynthesizer>();
    std::promise<void> release;
    synth->release = release.get_future().share();
    synth->holdAfterFirstBuffer = true;
    VoiceRenderer voice(synth);

    const std::string longText = "A long source name that takes several seconds to say";
    Outcome cancelled, ignored;
    voice.make(QString::fromStdString(longText), cancelled.completion());
    const std::string partial = *voice.url();
    voice.make("Something else", ignored.completion());
    EXPECT_EQ(voice.url(), partial);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(partial); }));
    ASSERT_TRUE(voice.working());
    voice.cancel();
    EXPECT_FALSE(voice.working());
    EXPECT_FALSE(std::filesystem::exists(partial));
    release.set_value();

    Outcome next;
    voice.make("Next", next.completion());
    ASSERT_TRUE(waitFor([&] { return next.calls > 0; }));
    ASSERT_TRUE(next.result->ok());
    EXPECT_EQ(
        readAll(next.result->value()).frameLength(),
        static_cast<std::int64_t>(synth->said("Next. Left.").size() + synth->said("Next. Right.").size()) +
            22050);
    EXPECT_EQ(cancelled.calls, 0);
    EXPECT_EQ(ignored.calls, 0);
    EXPECT_FALSE(std::filesystem::exists(partial));
    EXPECT_LT(synth->said(longText + ". Left.").size(), 2000u);  // one buffer (about 60 ms), not the sentence
}

// Buffers without float samples fail with the system's own error; a synthesiser failure ends the render
// instead of leaving it working for ever; a side with no speech still gets its silence, so the right side
// keeps its place and the render ends with a file.
TEST(VoiceRenderer, FailuresAndSilentSidesEndTheRender) {
    const auto notFloat = renderScripted([](const SpeechUtterance&, const auto& onBuffer) {
        deliver(onBuffer, 100, false);
        deliver(onBuffer, 0, false);
        return Status::success();
    });
    ASSERT_FALSE(notFloat.ok());
    EXPECT_EQ(notFloat.error(), (Error{"Quorvel", 1, "Unsupported speech sample format", {}}));

    const Error broken{"espeak-ng", -1, "The speech synthesiser could not start", {}};
    const auto failed = renderScripted([&](const SpeechUtterance&, const auto&) -> Status { return broken; });
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), broken);

    const auto silentLeft = renderScripted([](const SpeechUtterance& u, const auto& onBuffer) {
        if (u.text.ends_with("Right.")) deliver(onBuffer, 50);
        deliver(onBuffer, 0);
        return Status::success();
    });
    ASSERT_TRUE(silentLeft.ok());
    const AudioBuffer file = readAll(silentLeft.value());
    ASSERT_EQ(file.frameLength(), 11025 + 50 + 11025);
    EXPECT_EQ(file.channel(1)[11025], 1.0f);
}

}  // namespace quorvel
