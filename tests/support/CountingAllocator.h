#pragma once
// A global allocator that counts allocations on threads that armed it (JACK test programs), and an audio
// system whose engines arm it around every tap and render, to prove callbacks allocate nothing.
#include <memory>

#include "platform/AudioDevices.h"

namespace CountingAllocator {

// Counting on or off for the calling thread (audio callbacks arm their own thread).
void armThisThread(bool on);
long count();
void reset();

}  // namespace CountingAllocator

namespace quorvel {

// Forwards to `inner`; the taps and renders its engines run count their allocations.
class CountingSystem : public AudioSystem {
public:
    explicit CountingSystem(std::shared_ptr<AudioSystem> inner) : inner_(std::move(inner)) {}
    Result<std::vector<AudioDeviceInfo>> devices() override { return inner_->devices(); }
    std::uint32_t defaultInputDevice() override { return inner_->defaultInputDevice(); }
    std::uint32_t defaultOutputDevice() override { return inner_->defaultOutputDevice(); }
    std::unique_ptr<AudioEngine> makeEngine() override {
        return std::make_unique<Engine>(inner_->makeEngine());
    }

private:
    // Runs `call` with counting armed on the calling (audio) thread.
    template <typename Call>
    static auto armed(Call call) {
        return [call = std::move(call)](auto&&... args) {
            CountingAllocator::armThisThread(true);
            call(args...);
            CountingAllocator::armThisThread(false);
        };
    }
    class Engine : public AudioEngine {
    public:
        explicit Engine(std::unique_ptr<AudioEngine> inner) : inner_(std::move(inner)) {}
        std::int32_t bindOutput(std::uint32_t id) override { return inner_->bindOutput(id); }
        std::int32_t bindInput(std::uint32_t id) override { return inner_->bindInput(id); }
        std::uint32_t boundOutput() const override { return inner_->boundOutput(); }
        std::uint32_t boundInput() const override { return inner_->boundInput(); }
        DeviceFormat inputFormat() override { return inner_->inputFormat(); }
        DeviceFormat outputFormat() override { return inner_->outputFormat(); }
        void installTap(AudioTap tap) override {
            inner_->installTap(tap ? AudioTap(armed(std::move(tap))) : tap);
        }
        void removeTap() override { inner_->removeTap(); }
        bool hasTap() const override { return inner_->hasTap(); }
        void setOutput(int channels, AudioRender render, OutputLayout layout = OutputLayout::exact) override {
            inner_->setOutput(channels, render ? AudioRender(armed(std::move(render))) : render, layout);
        }
        void clearOutput() override { inner_->clearOutput(); }
        bool hasOutput() const override { return inner_->hasOutput(); }
        void setFailureHandler(AudioFailureHandler handler) override {
            inner_->setFailureHandler(std::move(handler));
        }
        Status start() override { return inner_->start(); }
        void stop() override { inner_->stop(); }
        bool isRunning() const override { return inner_->isRunning(); }

    private:
        std::unique_ptr<AudioEngine> inner_;
    };

    std::shared_ptr<AudioSystem> inner_;
};

}  // namespace quorvel
