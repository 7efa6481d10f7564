#include "SpeechSynthesizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ThreadGate.h"

namespace {

struct Spoken {
    std::vector<float> samples;  // every buffer's samples, in order
    int buffers = 0;             // buffers with speech
    int closings = 0;            // zero-frame buffers
    bool speechAfterClosing = false;
    bool formatOK = true;
};

Spoken speak(SpeechSynthesizer& synth, const std::string& text, double rate = 0.43) {
    Spoken out;
    Status status = synth.write(SpeechUtterance{text, rate, "en-US"}, [&](const SpeechBuffer& b) {
        out.formatOK = out.formatOK && b.format == (AudioFormat{1, 22050}) && b.floatChannelData;
        if (b.frameLength == 0) {
            ++out.closings;
            return true;
        }
        if (out.closings) out.speechAfterClosing = true;
        ++out.buffers;
        out.samples.insert(out.samples.end(), b.floatChannelData[0], b.floatChannelData[0] + b.frameLength);
        return true;
    });
    EXPECT_TRUE(status.ok()) << status.error().description;
    return out;
}

double seconds(const Spoken& s) { return static_cast<double>(s.samples.size()) / 22050.0; }

}  // namespace

// The renderer relies on these: one mono float format, speech in buffers of at least one frame, and
// exactly one closing buffer at the very end.
TEST(EspeakSynthesizer, SpeaksMonoFloatAndClosesOnce) {
    EspeakSynthesizer synth;
    const Spoken first = speak(synth, "Playback one. Left.");
    EXPECT_TRUE(first.formatOK);
    EXPECT_EQ(first.closings, 1);
    EXPECT_FALSE(first.speechAfterClosing);
    EXPECT_GT(first.buffers, 1);
    EXPECT_GT(seconds(first), 0.5);
    float peak = 0;
    for (float s : first.samples) peak = std::max(peak, std::abs(s));
    EXPECT_GT(peak, 0.05f);
    EXPECT_LE(peak, 1.0f);

    // Empty text still closes (with or without speech).
    EXPECT_EQ(speak(synth, "").closings, 1);
}

// 0.43 is a calm pace: slower than the normal 0.5, and "twenty words" take roughly 20 / 150 minutes.
TEST(EspeakSynthesizer, RateSetsTheSpeakingSpeed) {
    EXPECT_NEAR(EspeakSynthesizer::wordsPerMinute(0.43), 150, 2);
    EXPECT_EQ(EspeakSynthesizer::wordsPerMinute(0.5), 175);
    EXPECT_EQ(EspeakSynthesizer::wordsPerMinute(0.0), 80);
    EXPECT_EQ(EspeakSynthesizer::wordsPerMinute(5.0), 450);

    EspeakSynthesizer synth;
    const std::string text =
        "Check the left and right main speakers, then the front fills, the delays and the subs, one after "
        "the "
        "other.";  // twenty words
    const double calm = seconds(speak(synth, text, 0.43));
    const double normal = seconds(speak(synth, text, 0.5));
    const double fast = seconds(speak(synth, text, 1.0));
    EXPECT_GT(calm, normal);
    EXPECT_GT(normal, fast);
    // espeak-ng's words are nominal (pauses and long words vary the pace): allow a wide band.
    EXPECT_GT(calm, 20.0 / 150.0 * 60.0 * 0.7);
    EXPECT_LT(calm, 20.0 / 150.0 * 60.0 * 1.4);
}

// A stop from another thread takes effect before the next buffer; a write begun after it runs normally.
TEST(EspeakSynthesizer, StopFromAnotherThreadEndsTheRunningWrite) {
    EspeakSynthesizer synth;
    ThreadGate gate;
    int buffers = 0;
    Status status;
    std::thread writer([&] {
        status = synth.write(
            SpeechUtterance{"This sentence goes on for a while, so it needs many buffers.", 0.43, "en-US"},
            [&](const SpeechBuffer&) {
                if (++buffers == 1) gate.enterAndWait();
                return true;
            });
    });
    gate.waitEntered();
    synth.stopSpeaking();
    gate.open();
    writer.join();
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(buffers, 1);

    const Spoken after = speak(synth, "Playback one.");
    EXPECT_EQ(after.closings, 1);
    EXPECT_GT(after.buffers, 0);
}

TEST(EspeakSynthesizer, HandlerReturningFalseEndsWithoutClosing) {
    EspeakSynthesizer synth;
    int buffers = 0;
    Status status = synth.write(SpeechUtterance{"A longer sentence with several words in it.", 0.43, "en-US"},
                                [&](const SpeechBuffer&) {
                                    ++buffers;
                                    return false;
                                });
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(buffers, 1);
}

// The library is one per process: writes from several threads and synthesiser objects take turns, each
// whole (no handler ever runs beside another) and each with its own speed.
TEST(EspeakSynthesizer, ConcurrentWritesTakeTurns) {
    const std::vector<std::pair<std::string, double>> jobs = {{"Playback one. Left.", 0.43},
                                                              {"Stage monitor. Right.", 0.8},
                                                              {"Sub bass.", 0.3},
                                                              {"Front fill.", 0.43}};
    std::vector<double> alone;
    {
        EspeakSynthesizer synth;
        for (auto& [text, rate] : jobs) alone.push_back(seconds(speak(synth, text, rate)));
    }
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::vector<Spoken> got(jobs.size() * 3);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < got.size(); ++i)
        threads.emplace_back([&, i] {
            EspeakSynthesizer synth;
            const auto& [text, rate] = jobs[i % jobs.size()];
            Status status = synth.write(SpeechUtterance{text, rate, "en-US"}, [&](const SpeechBuffer& b) {
                if (inside.fetch_add(1) != 0) overlapped = true;
                if (b.frameLength == 0) ++got[i].closings;
                got[i].samples.insert(got[i].samples.end(), b.floatChannelData[0],
                                      b.floatChannelData[0] + b.frameLength);
                inside.fetch_sub(1);
                return true;
            });
            EXPECT_TRUE(status.ok());
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(overlapped);
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].closings, 1) << i;
        // The same text at the same speed varies by a few milliseconds from one utterance to the next.
        EXPECT_NEAR(seconds(got[i]), alone[i % jobs.size()], 0.05 * alone[i % jobs.size()])
            << jobs[i % jobs.size()].first;
    }
}

TEST(EspeakSynthesizer, UnknownLanguageFailsAndLeavesTheVoiceUsable) {
    EspeakSynthesizer synth;
    int buffers = 0;
    Status status = synth.write(SpeechUtterance{"Left.", 0.43, "xx-nowhere"}, [&](const SpeechBuffer&) {
        ++buffers;
        return true;
    });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, "espeak-ng");
    EXPECT_EQ(buffers, 0);
    const Spoken after = speak(synth, "Left.");
    EXPECT_EQ(after.closings, 1);
    EXPECT_GT(seconds(after), 0.2);
}
