#pragma once
// Spoken source identification: a short text spoken once for the left loudspeaker and once for the
// right, rendered into one temporary stereo file for the player to loop.
//
// The file, "voice-<UUID>.caf" in the temporary folder, is 2-channel 32-bit float CAF at the
// synthesiser's rate (22050 Hz with espeak-ng): "<text>. Left." on channel 0 with channel 1 silent,
// 0.5 s of silence, "<text>. Right." on channel 1 with channel 0 silent, 0.5 s of silence.
//
// Synthesis runs on a pool thread; each buffer is copied there and written on the main thread in the
// order the synthesiser delivered it. Every request and every cancel renews a token, and work carrying
// an older token is dropped.
//
// Published state: working() is a Q_PROPERTY written through publish() (core/Published.h).
//
// Threads: main thread only (construction, destruction and every member).
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/AudioFile.h"
#include "platform/Result.h"
#include "platform/SpeechSynthesizer.h"
#include "platform/Uuid.h"

namespace quorvel {

class VoiceRenderer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool working READ working NOTIFY workingChanged)
public:
    // Receives the path of the finished file, or the failure. Runs on the main thread.
    using Completion = std::function<void(Result<std::string>)>;

    // Speaking speed on the synthesiser's 0 ... 1 scale (about 150 words per minute with espeak-ng).
    static constexpr double speechRate = 0.43;
    static constexpr const char* language = "en-US";
    static constexpr double silenceSeconds = 0.5;

    // Speaks through espeak-ng.
    explicit VoiceRenderer(QObject* parent = nullptr);
    // Speaks through `synth` (tests hand in a fake).
    explicit VoiceRenderer(std::shared_ptr<SpeechSynthesizer> synth, QObject* parent = nullptr);
    // Cancels a render still running (its file is deleted); a finished file is left to its user.
    ~VoiceRenderer() override;

    // True from make() until the file is finished, has failed or is cancelled.
    bool working() const { return working_; }
    // Path of the current or last render; absent before the first and after cancel().
    const std::optional<std::string>& url() const { return url_; }

    // Renders `text` (used as it stands, also when empty) into a fresh file and then calls `completion`
    // once with its path or the failure: a file error as the audio-file layer gives it, a synthesiser
    // error, or "Unsupported speech sample format" (domain "Quorvel", code 1). Ignored, and `completion`
    // never called, while working().
    void make(const QString& text, Completion completion);

    // Stops a running render at once, drops its completion without calling it, and deletes the file at
    // url() (also a finished one); safe when idle, never fails.
    void cancel();

signals:
    void workingChanged();

private:
    struct Chunk;

    void setWorking(bool working);
    void renewEpoch();
    void render(const std::string& text, int side);
    void receive(const Uuid& epoch, const std::shared_ptr<Chunk>& chunk, int side, const std::string& text);
    Status writeSilence();
    Status openFile(double sampleRate);
    void finish(Result<std::string> result);

    std::shared_ptr<SpeechSynthesizer> synth_;
    Uuid epoch_ = Uuid::generate();
    // Shared with the synthesis of the current epoch; raised when the epoch is renewed so that a
    // synthesis still running or not yet begun stops before its next buffer.
    std::shared_ptr<std::atomic<bool>> stale_ = std::make_shared<std::atomic<bool>>(false);
    bool working_ = false;
    std::optional<AudioFileWriter> file_;
    std::optional<std::string> url_;
    Completion completion_;
};

}  // namespace quorvel
