#include "platform/AudioFileStream.h"

#include <soxr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace quorvel {

namespace {
// How long a pull that may wait waits for the worker before it gives up and leaves silence.
constexpr auto longestWait = std::chrono::seconds(10);
// How often an idle or blocked worker looks again without being woken (the audio thread never wakes it).
constexpr auto workerPoll = std::chrono::milliseconds(5);
}  // namespace

Result<std::unique_ptr<AudioFileStream>> AudioFileStream::open(const std::string& path, double outputRateHz) {
    auto reader = AudioFileReader::open(path);
    if (!reader) return reader.error();
    if (!AudioFormat::standard(outputRateHz, 2)) return Error{"soxr", 1, "Invalid output rate"};
    std::unique_ptr<AudioFileStream> stream(new AudioFileStream(std::move(*reader), outputRateHz));
    if (stream->converting_) {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t error = nullptr;
        stream->converter_ =
            soxr_create(stream->sourceRate_, outputRateHz, 2, &error, &io, &quality, nullptr);
        if (error || !stream->converter_) return Error{"soxr", 1, error ? error : "soxr_create failed"};
    }
    stream->worker_ = std::thread([s = stream.get()] { s->run(); });
    return stream;
}

AudioFileStream::AudioFileStream(AudioFileReader reader, double rateHz)
    : rate_(rateHz),
      sourceRate_(reader.processingFormat().sampleRate),
      converting_(sourceRate_ != rateHz),
      reader_(std::move(reader)),
      in_(reader_.processingFormat(), slotFrames) {
    const double ratio = rate_ / sourceRate_;
    // Source blocks small enough that a block converts into about one slot, even from 1 kHz to 768 kHz.
    sourceBlockFrames_ =
        converting_ ? std::clamp<std::int64_t>(
                          static_cast<std::int64_t>(static_cast<double>(slotFrames) / ratio), 16, slotFrames)
                    : slotFrames;
    const auto sourceLength = static_cast<double>(reader_.length());
    length_ = std::min<std::int64_t>(
        converting_ ? static_cast<std::int64_t>(std::llround(sourceLength * ratio)) : reader_.length(),
        static_cast<std::int64_t>(frameMask));
    aheadSlots_ = static_cast<std::uint64_t>(
        std::max<double>(2, std::ceil(readAheadSeconds * rate_ / static_cast<double>(slotFrames))));
    slots_.resize(static_cast<std::size_t>(2 * aheadSlots_));
    for (Slot& s : slots_) {
        s.left.resize(static_cast<std::size_t>(slotFrames));
        s.right.resize(static_cast<std::size_t>(slotFrames));
    }
    inLeft_.resize(static_cast<std::size_t>(slotFrames));
    inRight_.resize(static_cast<std::size_t>(slotFrames));
    stageLeft_.resize(static_cast<std::size_t>(slotFrames));
    stageRight_.resize(static_cast<std::size_t>(slotFrames));
}

AudioFileStream::~AudioFileStream() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable()) worker_.join();
    if (converter_) soxr_delete(converter_);
}

// ---- owner

void AudioFileStream::kick() {
    {
        std::lock_guard lock(mutex_);
        kicked_ = true;
    }
    wake_.notify_one();
}

void AudioFileStream::seek(std::int64_t frame) {
    const std::uint64_t now = cursor_.load(std::memory_order_relaxed);
    cursor_.store(cursorOf(generationOf(now) + 1, std::clamp<std::int64_t>(frame, 0, length())),
                  std::memory_order_release);
    kick();
}

void AudioFileStream::setLooping(bool endless) {
    if (looping_.exchange(endless, std::memory_order_relaxed) != endless) seek(position());
}

std::optional<Error> AudioFileStream::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

// ---- audio thread

AudioFileStream::Pulled AudioFileStream::pull(float* left, float* right, std::int64_t frames, bool mayWait) {
    std::uint64_t cursor = cursor_.load(std::memory_order_acquire);
    const std::uint32_t generation = generationOf(cursor);
    if (generation != readGeneration_) {
        readGeneration_ = generation;
        readOffset_ = 0;
    }
    Pulled pulled;
    std::int64_t position = frameOf(cursor);
    const auto waitUntil =
        mayWait ? std::chrono::steady_clock::now() + longestWait : std::chrono::steady_clock::time_point{};
    while (pulled.frames < frames) {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            if (!mayWait || std::chrono::steady_clock::now() > waitUntil) break;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            continue;
        }
        const Slot& slot = slots_[tail % slots_.size()];
        if (slot.generation != readGeneration_) {  // read ahead before a seek
            tail_.store(tail + 1, std::memory_order_release);
            readOffset_ = 0;
            continue;
        }
        const std::int64_t available = slot.frames - readOffset_;
        if (available == 0) {
            // The end-of-file slot stays in place: it keeps answering "ended" until a seek.
            if (slot.endsFile) {
                pulled.ended = true;
                break;
            }
            tail_.store(tail + 1, std::memory_order_release);
            readOffset_ = 0;
            continue;
        }
        const std::int64_t n = std::min(available, frames - pulled.frames);
        const auto from = static_cast<std::size_t>(readOffset_);
        std::memcpy(left + pulled.frames, slot.left.data() + from,
                    static_cast<std::size_t>(n) * sizeof(float));
        std::memcpy(right + pulled.frames, slot.right.data() + from,
                    static_cast<std::size_t>(n) * sizeof(float));
        pulled.frames += n;
        readOffset_ += n;
        position = slot.start + readOffset_;
        if (slot.wrapped && slot.length > 0) position %= slot.length;
    }
    // A seek stored meanwhile by the owner wins over this advance (and over its end).
    if (!cursor_.compare_exchange_strong(cursor, cursorOf(generation, position), std::memory_order_acq_rel))
        pulled.ended = false;
    return pulled;
}

void AudioFileStream::drain() {
    const std::uint32_t generation = generationOf(cursor_.load(std::memory_order_acquire));
    if (generation != readGeneration_) {
        readGeneration_ = generation;
        readOffset_ = 0;
    }
    for (std::uint64_t tail = tail_.load(std::memory_order_relaxed);
         tail != head_.load(std::memory_order_acquire) &&
         slots_[tail % slots_.size()].generation != generation;
         ++tail)
        tail_.store(tail + 1, std::memory_order_release);
}

// ---- worker

void AudioFileStream::run() {
    std::unique_lock lock(mutex_);
    while (!quit_) {
        const std::uint64_t cursor = cursor_.load(std::memory_order_acquire);
        if (!passStarted_ || generationOf(cursor) != passGeneration_) {
            lock.unlock();
            startPass(generationOf(cursor), frameOf(cursor));
            lock.lock();
            continue;
        }
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        const std::uint64_t tail = tail_.load(std::memory_order_acquire);
        // Slots of older passes still count against the ring, not against this pass's read-ahead.
        const bool full =
            head - tail >= slots_.size() || head - std::max(tail, passFirstSlot_) >= aheadSlots_;
        if (passEnded_ || full) {
            wake_.wait_for(lock, workerPoll, [this] { return quit_ || kicked_; });
            kicked_ = false;
            continue;
        }
        lock.unlock();
        fill(slots_[head % slots_.size()]);
        head_.store(head + 1, std::memory_order_release);
        lock.lock();
    }
}

void AudioFileStream::startPass(std::uint32_t generation, std::int64_t frame) {
    passGeneration_ = generation;
    passFirstSlot_ = head_.load(std::memory_order_relaxed);
    passStarted_ = true;
    passEnded_ = false;
    failed_ = false;
    restartAtZero();
    emitted_ = frame;
    reader_.setFramePosition(
        converting_ ? static_cast<std::int64_t>(static_cast<double>(frame) * sourceRate_ / rate_) : frame);
}

void AudioFileStream::restartAtZero() {
    reader_.setFramePosition(0);
    if (converter_) soxr_clear(converter_);
    inFrames_ = inDone_ = 0;
    stageFrames_ = stageDone_ = 0;
    sourceDone_ = false;
    emitted_ = 0;
}

void AudioFileStream::fail(const Error& error) {
    failed_ = true;
    std::lock_guard lock(mutex_);
    if (!failure_) failure_ = error;
}

void AudioFileStream::fill(Slot& slot) {
    slot.generation = passGeneration_;
    slot.start = emitted_;
    slot.frames = 0;
    slot.wrapped = false;
    slot.endsFile = false;
    const bool estimated = reader_.lengthIsEstimate();
    while (slot.frames < slotFrames) {
        const std::int64_t length = length_.load(std::memory_order_relaxed);
        // An estimated length is known once the source has run dry (or a read failed).
        const bool exact = !estimated || sourceDone_;
        bool passOver = exact && emitted_ >= length;
        if (!passOver) {
            const std::int64_t room = slotFrames - slot.frames;
            const std::int64_t limit = exact ? length - emitted_ : room;
            if (stageDone_ < stageFrames_) {
                const std::int64_t n = std::min({stageFrames_ - stageDone_, room, limit});
                const auto to = static_cast<std::size_t>(slot.frames);
                const auto from = static_cast<std::size_t>(stageDone_);
                std::memcpy(slot.left.data() + to, stageLeft_.data() + from,
                            static_cast<std::size_t>(n) * sizeof(float));
                std::memcpy(slot.right.data() + to, stageRight_.data() + from,
                            static_cast<std::size_t>(n) * sizeof(float));
                slot.frames += n;
                stageDone_ += n;
                emitted_ += n;
                if (!exact && emitted_ > length) length_.store(emitted_, std::memory_order_relaxed);
                continue;
            }
            if (!sourceDone_ && decode()) continue;
            sourceDone_ = true;
            if (estimated) {
                // The end of the data is the true length.
                length_.store(emitted_, std::memory_order_relaxed);
                passOver = true;
            } else if (failed_) {
                passOver = true;
            } else {
                // Conversion may come out a frame or two short of the stated length: silence fills it, so
                // the length never changes under the player.
                const std::int64_t n = std::min(room, limit);
                std::fill_n(slot.left.data() + slot.frames, n, 0.0f);
                std::fill_n(slot.right.data() + slot.frames, n, 0.0f);
                slot.frames += n;
                emitted_ += n;
                continue;
            }
        }
        if (looping_.load(std::memory_order_relaxed) && !failed_ &&
            length_.load(std::memory_order_relaxed) > 0) {
            restartAtZero();
            slot.wrapped = true;
            continue;
        }
        slot.endsFile = true;
        passEnded_ = true;
        break;
    }
    slot.length = length_.load(std::memory_order_relaxed);
}

bool AudioFileStream::decode() {
    if (inDone_ >= inFrames_) {
        std::int64_t got = 0;
        if (!failed_) {
            if (Status read = reader_.read(in_, sourceBlockFrames_); !read) fail(read.error());
            got = in_.frameLength();
        }
        if (got == 0) {
            if (!converting_) return false;
            // The converter keeps the tail of the signal until told that the input has ended.
            float* out[2] = {stageLeft_.data(), stageRight_.data()};
            std::size_t produced = 0;
            soxr_process(converter_, nullptr, 0, nullptr, static_cast<void*>(out),
                         static_cast<std::size_t>(slotFrames), &produced);
            stageFrames_ = static_cast<std::int64_t>(produced);
            stageDone_ = 0;
            return produced > 0;
        }
        const float* l = in_.channel(0);
        const float* r = in_.channelCount() > 1 ? in_.channel(1) : l;
        float* toLeft = converting_ ? inLeft_.data() : stageLeft_.data();
        float* toRight = converting_ ? inRight_.data() : stageRight_.data();
        std::copy_n(l, got, toLeft);
        std::copy_n(r, got, toRight);
        if (!converting_) {
            stageFrames_ = got;
            stageDone_ = 0;
            return true;
        }
        inFrames_ = got;
        inDone_ = 0;
    }
    const float* in[2] = {inLeft_.data() + inDone_, inRight_.data() + inDone_};
    float* out[2] = {stageLeft_.data(), stageRight_.data()};
    std::size_t used = 0, produced = 0;
    if (soxr_error_t e = soxr_process(
            converter_, static_cast<const void*>(in), static_cast<std::size_t>(inFrames_ - inDone_), &used,
            static_cast<void*>(out), static_cast<std::size_t>(slotFrames), &produced)) {
        fail(Error{"soxr", 1, e});
        inDone_ = inFrames_;
        return false;
    }
    // A converter that takes nothing and gives nothing would stall the worker: drop the block instead.
    inDone_ = used > 0 || produced > 0 ? inDone_ + static_cast<std::int64_t>(used) : inFrames_;
    stageFrames_ = static_cast<std::int64_t>(produced);
    stageDone_ = 0;
    return true;
}

}  // namespace quorvel
