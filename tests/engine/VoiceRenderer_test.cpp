#include "VoiceRenderer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "TempFiles.h"
#include "TestHome.h"
#include "ThreadGate.h"

namespace {

// Runs the event loop until `done` holds; a generous limit only keeps a broken render from hanging the run.
template <typename Pred>
bool waitFor(Pred done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Everything a render handed to its completion.
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

// espeak-ng, with a copy of what it delivered for each utterance, so a file can be checked sample for
// sample against the speech it was made from (the library need not say a text the same way twice).
class RecordingSynthesizer final : public SpeechSynthesizer {
public:
    Status write(const SpeechUtterance& u, const BufferHandler& onBuffer) override {
        {
            std::lock_guard lock(mutex_);
            said_[u.text].clear();
        }
        bool first = true;
        return real_.write(u, [&](const SpeechBuffer& b) {
            if (!onBuffer(b)) return false;
            if (b.frameLength > 0) {
                std::lock_guard lock(mutex_);
                said_[u.text].insert(said_[u.text].end(), b.floatChannelData[0],
                                     b.floatChannelData[0] + b.frameLength);
            }
            if (first && afterFirstBuffer) afterFirstBuffer();
            first = false;
            return true;
        });
    }
    void stopSpeaking() override { real_.stopSpeaking(); }

    // Runs on the synthesis thread after the first buffer of every utterance. Set before the first write.
    std::function<void()> afterFirstBuffer;

    std::vector<float> said(const std::string& utterance) {
        std::lock_guard lock(mutex_);
        return said_[utterance];
    }
    std::int64_t frames(const std::string& utterance) {
        return static_cast<std::int64_t>(said(utterance).size());
    }

private:
    EspeakSynthesizer real_;
    std::mutex mutex_;
    std::map<std::string, std::vector<float>> said_;
};

// Each test gets a temporary folder of its own, so that it sees only its own renders.
class VoiceRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        saved_ = tmp ? tmp : "";
        setenv("TMPDIR", TestHome::freshDir("voice").c_str(), 1);
    }
    void TearDown() override { setenv("TMPDIR", saved_.c_str(), 1); }

    std::shared_ptr<RecordingSynthesizer> synth = std::make_shared<RecordingSynthesizer>();

private:
    std::string saved_;
};

AudioBuffer readAll(const std::string& path) {
    auto reader = AudioFileReader::open(path);
    EXPECT_TRUE(reader.ok()) << path;
    if (!reader.ok()) return AudioBuffer(*AudioFormat::standard(1, 1), 0);
    AudioBuffer b(reader->processingFormat(), reader->length());
    EXPECT_TRUE(reader->read(b).ok());
    return b;
}

QStringList voiceFiles() {
    return QDir(QString::fromStdString(TempFiles::directory())).entryList({"voice-*.caf"}, QDir::Files);
}

bool allZero(const float* samples, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i)
        if (samples[i] != 0.0f) return false;
    return true;
}

// A synthesiser that plays out a script on the calling thread: each utterance's buffers, or a failure.
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

// `frames` frames of `channels` channels at 22050 Hz; channel c holds the value c + 1 (or no float data).
bool deliver(const SpeechSynthesizer::BufferHandler& onBuffer, int channels, std::int64_t frames,
             bool isFloat = true) {
    std::vector<std::vector<float>> data(static_cast<std::size_t>(channels));
    std::vector<const float*> pointers;
    for (int c = 0; c < channels; ++c) {
        data[static_cast<std::size_t>(c)].assign(static_cast<std::size_t>(std::max<std::int64_t>(frames, 1)),
                                                 float(c + 1));
        pointers.push_back(data[static_cast<std::size_t>(c)].data());
    }
    return onBuffer(SpeechBuffer{AudioFormat{channels, 22050}, frames, isFloat ? pointers.data() : nullptr});
}

// Renders "x" through a scripted synthesiser and returns what the completion got, checking that it was
// called once and that the renderer went idle.
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

}  // namespace

// The whole file, sample for sample: what the synthesiser says for each side, in its own channel only,
// each followed by 0.5 s (11025 frames at 22050 Hz) of silence. The text is used as typed, also empty.
TEST_F(VoiceRendererTest, RendersLeftThenSilenceThenRight) {
    for (const std::string text : {"Playback one", ""}) {
        SCOPED_TRACE("text \"" + text + "\"");
        VoiceRenderer voice(synth);
        std::vector<bool> announced;
        QObject::connect(&voice, &VoiceRenderer::workingChanged,
                         [&] { announced.push_back(voice.working()); });
        Outcome outcome;
        voice.make(QString::fromStdString(text), outcome.completion());
        EXPECT_TRUE(voice.working());
        ASSERT_TRUE(waitFor([&] { return outcome.calls > 0; }));
        EXPECT_FALSE(voice.working());
        EXPECT_EQ(announced, (std::vector<bool>{true, false}));
        ASSERT_TRUE(outcome.result->ok()) << outcome.result->error().description;
        const std::vector<float> left = synth->said(text + ". Left.");
        const std::vector<float> right = synth->said(text + ". Right.");
        const auto L = static_cast<std::int64_t>(left.size()), R = static_cast<std::int64_t>(right.size());
        ASSERT_GT(L, 0);
        ASSERT_GT(R, 0);

        const std::string path = outcome.result->value();
        EXPECT_EQ(voice.url(), path);
        EXPECT_TRUE(QRegularExpression("^voice-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.caf$")
                        .match(QString::fromStdString(std::filesystem::path(path).filename().string()))
                        .hasMatch())
            << path;
        EXPECT_EQ(std::filesystem::path(path).parent_path().string(), TempFiles::directory());

        const AudioBuffer file = readAll(path);
        ASSERT_EQ(file.format(), (AudioFormat{2, 22050}));
        ASSERT_EQ(file.frameLength(), L + 11025 + R + 11025);
        const float* ch0 = file.channel(0);
        const float* ch1 = file.channel(1);
        EXPECT_TRUE(std::equal(left.begin(), left.end(), ch0));
        EXPECT_TRUE(allZero(ch1, L));
        EXPECT_TRUE(allZero(ch0 + L, 11025));
        EXPECT_TRUE(allZero(ch1 + L, 11025));
        EXPECT_TRUE(allZero(ch0 + L + 11025, R + 11025));
        EXPECT_TRUE(std::equal(right.begin(), right.end(), ch1 + L + 11025));
        EXPECT_TRUE(allZero(ch1 + L + 11025 + R, 11025));

        // Nothing further arrives later.
        QCoreApplication::processEvents();
        EXPECT_EQ(outcome.calls, 1);
    }
}

TEST_F(VoiceRendererTest, SecondRequestWhileWorkingIsIgnored) {
    VoiceRenderer voice(synth);
    Outcome first, second;
    voice.make("Stage monitor", first.completion());
    const auto path = voice.url();
    voice.make("Something else", second.completion());
    EXPECT_EQ(voice.url(), path);
    ASSERT_TRUE(waitFor([&] { return first.calls > 0; }));
    ASSERT_TRUE(first.result->ok());
    EXPECT_EQ(first.result->value(), path);
    EXPECT_EQ(readAll(*path).frameLength(),
              synth->frames("Stage monitor. Left.") + synth->frames("Stage monitor. Right.") + 22050);
    EXPECT_EQ(voiceFiles().size(), 1);
    EXPECT_EQ(second.calls, 0);
}

// Cancelled mid-speech: the partial file goes at once, the synthesis stops at its next buffer, the
// completion never runs, and buffers still on their way are dropped (a new render right after is not
// disturbed by them).
TEST_F(VoiceRendererTest, CancelMidSpeechDeletesTheFileAndDropsTheCompletion) {
    VoiceRenderer voice(synth);
    voice.cancel();  // idle: nothing happens
    EXPECT_FALSE(voice.working());

    const std::string longText = "A long source name that takes several seconds to say";
    auto gate = std::make_shared<ThreadGate>();
    synth->afterFirstBuffer = [gate] { gate->enterAndWait(); };
    Outcome cancelled;
    voice.make(QString::fromStdString(longText), cancelled.completion());
    const std::string partial = *voice.url();
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(partial); }));
    ASSERT_TRUE(voice.working());
    voice.cancel();
    EXPECT_FALSE(voice.working());
    EXPECT_FALSE(voice.url());
    EXPECT_FALSE(std::filesystem::exists(partial));
    gate->open();  // from here on the hook lets every utterance through

    Outcome next;
    voice.make("Next", next.completion());
    ASSERT_TRUE(waitFor([&] { return next.calls > 0; }));
    ASSERT_TRUE(next.result->ok());
    EXPECT_EQ(readAll(next.result->value()).frameLength(),
              synth->frames("Next. Left.") + synth->frames("Next. Right.") + 22050);
    EXPECT_EQ(cancelled.calls, 0);
    EXPECT_FALSE(std::filesystem::exists(partial));
    const auto firstBuffer = synth->frames(longText + ". Left.");
    EXPECT_GT(firstBuffer, 0);
    EXPECT_LT(firstBuffer, 2000);  // one buffer of espeak-ng's (about 60 ms), not the whole sentence
    EXPECT_EQ(voiceFiles(),
              QStringList{QString::fromStdString(std::filesystem::path(next.result->value()).filename())});

    // A later cancel also removes the finished file: the renderer owns it until someone plays it.
    voice.cancel();
    EXPECT_TRUE(voiceFiles().isEmpty());
}

// Buffers unlike espeak-ng's: only the first channel of a multichannel buffer is used; a buffer without
// float samples fails the render with the system's own error.
TEST_F(VoiceRendererTest, HandlesUnusualSpeechBuffers) {
    const auto twoChannels = renderScripted([](const SpeechUtterance&, const auto& onBuffer) {
        deliver(onBuffer, 2, 100);
        deliver(onBuffer, 2, 0);
        return Status::success();
    });
    ASSERT_TRUE(twoChannels.ok());
    const AudioBuffer file = readAll(twoChannels.value());
    ASSERT_EQ(file.frameLength(), 100 + 11025 + 100 + 11025);
    EXPECT_EQ(file.channel(0)[0], 1.0f);
    EXPECT_EQ(file.channel(1)[0], 0.0f);
    EXPECT_EQ(file.channel(0)[100 + 11025], 0.0f);
    EXPECT_EQ(file.channel(1)[100 + 11025], 1.0f);  // the buffer's channel 1 held 2.0

    const auto notFloat = renderScripted([](const SpeechUtterance&, const auto& onBuffer) {
        deliver(onBuffer, 1, 100, false);
        deliver(onBuffer, 1, 0, false);
        return Status::success();
    });
    ASSERT_FALSE(notFloat.ok());
    EXPECT_EQ(notFloat.error(), (Error{"Quorvel", 1, "Unsupported speech sample format", {}}));
}

// Failures end the render with the error instead of leaving it working for ever: a synthesiser that
// cannot speak, a side with no speech at all (its silence is still written, so the right side keeps its
// place), and a temporary folder that cannot take the file.
TEST_F(VoiceRendererTest, FailuresEndTheRender) {
    const Error broken{"espeak-ng", -1, "The speech synthesiser could not start", {}};
    const auto failed = renderScripted([&](const SpeechUtterance&, const auto&) -> Status { return broken; });
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), broken);

    const auto silentLeft = renderScripted([](const SpeechUtterance& u, const auto& onBuffer) {
        if (u.text.ends_with("Right.")) deliver(onBuffer, 1, 50);
        deliver(onBuffer, 1, 0);
        return Status::success();
    });
    ASSERT_TRUE(silentLeft.ok());
    const AudioBuffer file = readAll(silentLeft.value());
    ASSERT_EQ(file.frameLength(), 11025 + 50 + 11025);
    EXPECT_EQ(file.channel(1)[11025], 1.0f);

    setenv("TMPDIR", (TestHome::root() + "/no-such-folder").c_str(), 1);
    VoiceRenderer voice;
    Outcome outcome;
    voice.make("x", outcome.completion());
    ASSERT_TRUE(waitFor([&] { return outcome.calls > 0; }));
    ASSERT_FALSE(outcome.result->ok());
    EXPECT_EQ(outcome.result->error().domain, "sndfile");
    EXPECT_FALSE(voice.working());
}
