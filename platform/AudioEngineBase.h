#pragma once
// What every AudioEngine keeps the same way: its bindings, tap, render callback and failure handler.
// Implementations add the formats, start() and stop(), and decide whether a device id may be bound.
// Changing a callback while running first stops the engine.
//
// Threads: the owner thread, as AudioEngine.
#include <algorithm>

#include "platform/AudioDevices.h"

namespace quorvel {

class AudioEngineBase : public AudioEngine {
public:
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

    void setOutput(int channelCount, AudioRender render) override {
        if (isRunning()) stop();
        outputChannels_ = render ? std::clamp(channelCount, 1, maxOutputChannels) : 0;
        render_ = std::move(render);
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

    std::uint32_t outputID_ = 0;
    std::uint32_t inputID_ = 0;
    AudioTap tap_;
    AudioRender render_;
    int outputChannels_ = 0;
    AudioFailureHandler failureHandler_;

private:
    std::int32_t bind(std::uint32_t id, std::uint32_t& slot) {
        if (isRunning()) return AudioStatus::engineRunning;
        if (id != 0)
            if (const std::int32_t status = checkDevice(id); status != 0) return status;
        slot = id;
        return AudioStatus::ok;
    }
};

}  // namespace quorvel
