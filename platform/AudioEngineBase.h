#pragma once
// What every AudioEngine keeps the same way: its bindings, tap, render callback and failure handler, and
// how the output meets the device (OutputLayout), with the mix-down to one output. Implementations add the
// formats, start() and stop(), and decide whether a device id may be bound. Changing a callback while
// running first stops the engine.
//
// Threads: the owner thread, as AudioEngine, except deviceRender()'s callback (the audio thread).
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/AudioDevices.h"

namespace quorvel {

class AudioEngineBase : public AudioEngine {
public:
    AudioEngineBase() = default;
    AudioEngineBase(const AudioEngineBase&) = delete;  // mixedRender_ points at this engine
    AudioEngineBase& operator=(const AudioEngineBase&) = delete;

    std::int32_t bindOutput(std::uint32_t deviceID) override { return bind(deviceID, outputID_); }
    std::int32_t bindInput(std::uint32_t deviceID) override { return bind(deviceID, inputID_); }
    std::uint32_t boundOutput() const override { return outputID_; }
    std::uint32_t boundInput() const override { return inputID_; }

    void installTap(AudioTap tap) override {
        if (isRunning()) stop();
        tap_ = std::move(tap);
    }
    void removeTap() override { installTap(nullptr); }
    bool hasTap() const override { return static_cast<bool>(tap_); }

    void setOutput(int channelCount, AudioRender render, OutputLayout layout = OutputLayout::exact) override {
        if (isRunning()) stop();
        outputChannels_ = render ? std::clamp(channelCount, 1, maxOutputChannels) : 0;
        render_ = std::move(render);
        layout_ = layout;
    }
    void clearOutput() override { setOutput(0, nullptr); }
    bool hasOutput() const override { return static_cast<bool>(render_); }

    void setFailureHandler(AudioFailureHandler handler) override {
        if (isRunning()) stop();
        failureHandler_ = std::move(handler);
    }

protected:
    // 0 when `deviceID` (never 0) may be bound now, else the status that refuses it.
    virtual std::int32_t checkDevice(std::uint32_t deviceID) = 0;

    // For start(), with a render set: the channels the output stream opens on `device`, which has
    // `deviceOutputs` outputs (outputChannels_, or 1 when they are mixed down to its one output), with the
    // mix-down's buffers made; or the error that refuses the device.
    Result<int> prepareOutput(const std::string& device, int deviceOutputs) {
        mixing_ = layout_ == OutputLayout::mixToMono && deviceOutputs == 1 && outputChannels_ > 1;
        if (mixing_) {
            mixSamples_.assign(static_cast<std::size_t>(outputChannels_ * mixBlockFrames), 0.0f);
            for (int c = 0; c < outputChannels_; ++c)
                mixPointers_[static_cast<std::size_t>(c)] = mixSamples_.data() + c * mixBlockFrames;
            return 1;
        }
        if (deviceOutputs < outputChannels_)
            return Error{AudioStatus::errorDomain, 0,
                         "The device " + device + " has " + std::to_string(deviceOutputs) + " outputs, " +
                             std::to_string(outputChannels_) + " were asked for"};
        return outputChannels_;
    }
    // What the output stream calls for the channels prepareOutput() gave, with buffers it has zeroed.
    const AudioRender& deviceRender() const { return mixing_ ? mixedRender_ : render_; }

    std::uint32_t outputID_ = 0;
    std::uint32_t inputID_ = 0;
    AudioTap tap_;
    AudioRender render_;
    int outputChannels_ = 0;
    AudioFailureHandler failureHandler_;

private:
    // Frames the mix-down renders at a time; a longer period is rendered in several parts.
    static constexpr std::int64_t mixBlockFrames = 1024;

    // Audio thread: renders `frames` frames of every channel and writes their average to `out`.
    void mixDown(float* out, std::int64_t frames) {
        const float scale = 1.0f / static_cast<float>(outputChannels_);
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t n = std::min(frames - done, mixBlockFrames);
            for (int c = 0; c < outputChannels_; ++c)
                std::fill_n(mixPointers_[static_cast<std::size_t>(c)], n, 0.0f);
            render_(mixPointers_.data(), outputChannels_, n);
            for (std::int64_t t = 0; t < n; ++t) {
                float sum = 0;
                for (int c = 0; c < outputChannels_; ++c) sum += mixPointers_[static_cast<std::size_t>(c)][t];
                out[done + t] = sum * scale;
            }
            done += n;
        }
    }

    OutputLayout layout_ = OutputLayout::exact;
    // The mix-down of the run: made by prepareOutput(), used by the audio thread while running.
    bool mixing_ = false;
    std::vector<float> mixSamples_;
    std::array<float*, maxOutputChannels> mixPointers_{};
    const AudioRender mixedRender_ = [this](float* const* out, int, std::int64_t frames) {
        mixDown(out[0], frames);
    };

    std::int32_t bind(std::uint32_t id, std::uint32_t& slot) {
        if (isRunning()) return AudioStatus::engineRunning;
        if (id != 0)
            if (const std::int32_t status = checkDevice(id); status != 0) return status;
        slot = id;
        return AudioStatus::ok;
    }
};

}  // namespace quorvel
