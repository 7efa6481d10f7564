#include "platform/SpeechSynthesizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace quorvel {

namespace {
struct Spoken {
    std::int64_t frames = 0;
    int buffers = 0;   // buffers with speech
    int closings = 0;  // zero-frame buffers
    bool speechAfterClosing = false;
    bool formatOK = true;
};

Spoken speak(SpeechSynthesizer& synth, const std::string& text, double rate = 0.43) {
    Spoken out;
    Status status = synth.write(SpeechUtterance{text, rate, "en-US"}, [&](const SpeechBuffer& b) {
        out.formatOK = out.formatOK && b.format == (AudioFormat{1, 22050}) && b.floatChannelData;
        if (b.frameLength == 0) ++out.closings;
        if (b.frameLength > 0 && out.closings) out.speechAfterClosing = true;
        out.buffers += b.frameLength > 0;
        out.frames += b.frameLength;
        return true;
    });
    EXPECT_TRUE(status.ok()) << status.error().description;
    return out;
}
}  // namespace

// One mono float format, natural length, one closing buffer at the end (empty text too), rate 0.43.
TEST(EspeakSynthesizer, SpeaksMonoFloatAndClosesOnce) {
    EspeakSynthesizer synth;
    for (const char* text : {"Playback one. Left.", ""}) {
        const Spoken s = speak(synth, text);
        EXPECT_TRUE(s.formatOK) << text;
        if (*text) {
            EXPECT_TRUE(s.frames > 22050 / 2 && s.frames < 4 * 22050) << s.frames;  // about 2 s
        }
        EXPECT_EQ(s.closings, 1) << text;
        EXPECT_FALSE(s.speechAfterClosing) << text;
    }
    const std::string text = "Check the left and right main speakers, then the front fills and the subs.";
    EXPECT_GT(speak(synth, text, 0.43).frames, speak(synth, text, 0.5).frames);
    // 350 words a minute at rate 1, within espeak's 80 ... 450; a rate that is no number speaks normally.
    for (const auto& [rate, wpm] : {std::pair{0.43, 151}, {0.5, 175}, {NAN, 175}, {0.0, 80}, {2.0, 450}})
        EXPECT_EQ(EspeakSynthesizer::wordsPerMinute(rate), wpm) << rate;
    // A language without a voice is refused, not spoken in the last one.
    int buffers = 0;
    const Status refused =
        synth.write(SpeechUtterance{"Left.", 0.43, "xx-Nowhere"}, [&](const SpeechBuffer&) {
            ++buffers;
            return true;
        });
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "No speech voice for the language xx-Nowhere");
    EXPECT_EQ(buffers, 0);
    EXPECT_EQ(speak(synth, "Left.").closings, 1);
}

// A stop from another thread ends the write without a closing buffer; the next write runs normally.
TEST(EspeakSynthesizer, StopFromAnotherThreadEndsTheRunningWrite) {
    EspeakSynthesizer synth;
    int buffers = 0;
    Status status =
        synth.write(SpeechUtterance{"This sentence needs many buffers to be spoken.", 0.43, "en-US"},
                    [&](const SpeechBuffer&) {
                        if (++buffers == 1) std::thread([&] { synth.stopSpeaking(); }).join();
                        return true;
                    });
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(buffers, 1);
    EXPECT_EQ(speak(synth, "Playback one.").closings, 1);
}

// Writes from several threads and synthesisers take turns, each whole, each closing once.
TEST(EspeakSynthesizer, ConcurrentWritesTakeTurns) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<int> closings(8, 0);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < closings.size(); ++i)
        threads.emplace_back([&, i] {
            EspeakSynthesizer synth;
            const std::string text = i % 2 ? "Playback one. Left." : "Stage monitor. Right.";
            Status status = synth.write(SpeechUtterance{text, 0.3 + 0.1 * double(i), "en-US"},
                                        [&](const SpeechBuffer& b) {
                                            if (inside.fetch_add(1) != 0) overlapped = true;
                                            closings[i] += b.frameLength == 0;
                                            inside.fetch_sub(1);
                                            return true;
                                        });
            EXPECT_TRUE(status.ok());
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(closings, std::vector<int>(8, 1));
}

}  // namespace quorvel
