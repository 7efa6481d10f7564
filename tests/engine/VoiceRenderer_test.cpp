#include "engine/VoiceRenderer.h"

#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <future>
#include <mutex>

#include "platform/TempFiles.h"

namespace quorvel {

namespace {

using BufferHandler = SpeechSynthesizer::BufferHandler;

// What the synthesiser says for a text: 40 samples a character, all different from 0.
std::vector<float> speech(const std::string& text) {
    std::vector<float> samples(text.size() * 40);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i % 97 + 1) / 128;
    return samples;
}

// Hands `samples` over at 22050 Hz in 64-frame buffers (float unless !isFloat), then the closing one.
void deliver(const BufferHandler& onBuffer, const std::vector<float>& samples, bool isFloat = true) {
    for (std::size_t at = 0;; at += 64) {
        // As the synthesiser's: after silence the closing buffer points nowhere.
        const float* channels[1] = {samples.data() + std::min(at, samples.size())};
        const auto frames = static_cast<std::int64_t>(
            at < samples.size() ? std::min<std::size_t>(64, samples.size() - at) : 0);
        if (!onBuffer(SpeechBuffer{AudioFormat{1, 22050}, frames, isFloat ? channels : nullptr}) || !frames)
            return;
    }
}

// A synthesiser playing a script on the synthesis thread (by default: speaks), keeping what it was asked.
class ScriptedSynthesizer final : public SpeechSynthesizer {
public:
    using Script = std::function<Status(const SpeechUtterance&, const BufferHandler&)>;
    explicit ScriptedSynthesizer(Script script =
                                     [](const SpeechUtterance& u, const BufferHandler& onBuffer) {
                                         deliver(onBuffer, speech(u.text));
                                         return Status::success();
                                     })
        : script_(std::move(script)) {}
    Status write(const SpeechUtterance& u, const BufferHandler& onBuffer) override {
        {
            std::lock_guard lock(mutex_);
            heard_.push_back(u.text + " @" + std::to_string(u.rate) + " " + u.language);
        }
        return script_(u, onBuffer);
    }
    void stopSpeaking() override {}
    std::vector<std::string> heard() {
        std::lock_guard lock(mutex_);
        return heard_;
    }

private:
    Script script_;
    std::mutex mutex_;
    std::vector<std::string> heard_;
};

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

// Renders `text`; checks that the completion ran once and the renderer went idle.
Result<std::string> render(VoiceRenderer& voice, const QString& text) {
    Outcome outcome;
    voice.make(text, outcome.completion());
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.calls > 0; }, 30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(voice.working());
    return outcome.result.value_or(Error{"test", 0, "no completion", {}});
}

AudioBuffer readAll(const std::string& path) {
    auto reader = AudioFileReader::open(path);
    EXPECT_TRUE(reader.ok()) << path;
    if (!reader.ok()) return AudioBuffer(*AudioFormat::standard(1, 1), 0);
    AudioBuffer b(reader->processingFormat(), reader->length());
    EXPECT_TRUE(reader->read(b).ok());
    return b;
}

}  // namespace

// "<text>. Left." on the left only, 0.5 s silence, "<text>. Right." on the right only, 0.5 s silence.
TEST(VoiceRenderer, RendersLeftThenSilenceThenRight) {
    for (const std::string text : {"Playback one", ""}) {
        SCOPED_TRACE("text \"" + text + "\"");
        auto synth = std::make_shared<ScriptedSynthesizer>();
        VoiceRenderer voice(synth);
        std::vector<bool> announced;
        QObject::connect(&voice, &VoiceRenderer::workingChanged,
                         [&] { announced.push_back(voice.working()); });
        const auto made = render(voice, QString::fromStdString(text));
        ASSERT_TRUE(made.ok()) << made.error().description;
        EXPECT_EQ(announced, (std::vector<bool>{true, false}));
        EXPECT_EQ(synth->heard(), (std::vector<std::string>{text + ". Left. @0.430000 en-US",
                                                            text + ". Right. @0.430000 en-US"}));
        const std::filesystem::path path(made.value());
        EXPECT_EQ(path.parent_path().string(), TempFiles::directory());
        EXPECT_TRUE(path.filename().string().starts_with("voice-") && path.extension() == ".caf") << path;

        const AudioBuffer file = readAll(path);
        ASSERT_EQ(file.format(), (AudioFormat{2, 22050}));
        auto left = speech(text + ". Left."), right = speech(text + ". Right.");
        const std::size_t L = left.size(), R = right.size();
        left.resize(L + 11025 + R + 11025);
        right.insert(right.begin(), L + 11025, 0.0f);
        right.resize(L + 11025 + R + 11025);
        EXPECT_TRUE(
            std::equal(left.begin(), left.end(), file.channel(0), file.channel(0) + file.frameLength()));
        EXPECT_TRUE(
            std::equal(right.begin(), right.end(), file.channel(1), file.channel(1) + file.frameLength()));
    }
}

// A second request is ignored; a cancel deletes the partial file at once and drops late buffers.
TEST(VoiceRenderer, CancelMidSpeechAndRequestsWhileWorking) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> taken{0};
    auto synth =
        std::make_shared<ScriptedSynthesizer>([&](const SpeechUtterance& u, const BufferHandler& onBuffer) {
            bool first = true;
            deliver(
                [&](const SpeechBuffer& b) {
                    if (!onBuffer(b)) return false;
                    if (u.text.starts_with("A long")) ++taken;
                    if (std::exchange(first, false) && u.text.starts_with("A long")) released.wait();
                    return true;
                },
                speech(u.text));
            return Status::success();
        });
    VoiceRenderer voice(synth);
    Outcome cancelled, ignored;
    voice.make("A long source name that takes several seconds to say", cancelled.completion());
    const std::string partial = *voice.url();
    voice.make("Something else", ignored.completion());
    EXPECT_EQ(voice.url(), partial);
    ASSERT_TRUE(QTest::qWaitFor([&] { return taken == 1; }, 30000));
    EXPECT_TRUE(std::filesystem::exists(partial));
    voice.cancel();
    EXPECT_FALSE(voice.working());
    EXPECT_FALSE(std::filesystem::exists(partial));
    release.set_value();

    const auto next = render(voice, "Next");
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(
        readAll(next.value()).frameLength(),
        static_cast<std::int64_t>(speech("Next. Left.").size() + speech("Next. Right.").size()) + 22050);
    EXPECT_EQ(cancelled.calls + ignored.calls, 0);
    EXPECT_FALSE(std::filesystem::exists(partial));
    EXPECT_EQ(taken, 1) << "one buffer, not the sentence";
}

// Non-float buffers and synthesiser failures end the render; a silent side still gets its silence.
TEST(VoiceRenderer, FailuresAndSilentSidesEndTheRender) {
    const Error broken{"espeak-ng", -1, "The speech synthesiser could not start", {}};
    struct Case {
        ScriptedSynthesizer::Script script;
        std::optional<Error> error;
    };
    for (const auto& [script, error] :
         {Case{[](const SpeechUtterance&u, const BufferHandler&onBuffer) {
                   deliver(onBuffer, speech(u.text), false);
                   return Status::success();
               },
               Error{"Quorvel", 1, "Unsupported speech sample format", {}}},
          Case{[&](const SpeechUtterance&, const BufferHandler&) -> Status { return broken; }, broken},
          Case{[](const SpeechUtterance&u, const BufferHandler&onBuffer) {
                   deliver(onBuffer,
                           u.text.ends_with("Right.") ? std::vector<float>(50, 1.0f) : std::vector<float>{});
                   return Status::success();
               },
               std::nullopt}}) {
        VoiceRenderer voice(std::make_shared<ScriptedSynthesizer>(script));
        const auto made = render(voice, "x");
        if (error) {
            ASSERT_FALSE(made.ok());
            EXPECT_EQ(made.error(), *error);
            continue;
        }
        ASSERT_TRUE(made.ok());
        const AudioBuffer file = readAll(made.value());
        ASSERT_EQ(file.frameLength(), 11025 + 50 + 11025);
        EXPECT_EQ(file.channel(1)[11025], 1.0f);
    }

    // No file can be made: the file error, reported later like any other.
    const std::string folder = TempFiles::directory();
    setenv("TMPDIR", (folder + "/missing").c_str(), 1);
    VoiceRenderer voice(std::make_shared<ScriptedSynthesizer>());
    const auto made = render(voice, "x");
    setenv("TMPDIR", folder.c_str(), 1);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().domain, "posix");
}

}  // namespace quorvel
