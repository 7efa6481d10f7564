#include "SoundModels.h"

#include <QSettings>
#include <QTest>
#include <QThreadPool>
#include <cstdlib>

#include "TestHome.h"
#include "engine/AudioHardware.h"
#include "engine/InterfacePicker.h"

namespace quorvel {

SoundModels::SoundModels(std::shared_ptr<SpeechSynthesizer> speech) {
    system = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{{.name = "Interface", .inputChannels = 4, .outputChannels = 4}}, period);
    for (int k = 0; k < 4; ++k) system->connect("Interface", k, k, 0);
    AudioHardware::install(system);
    QSettings("Quorvel", "Quorvel").remove(InterfacePicker::settingsKey);
    // A temporary folder of its own, so renders of other tests never count here.
    setenv("TMPDIR", TestHome::freshDir("tmp").c_str(), 1);
    audio = std::make_unique<AudioController>(
        AudioController::Setup{.clock = [s = system.get()] { return double(s->clock()) / rate; }});
    voice = speech ? std::make_unique<VoiceRenderer>(std::move(speech)) : std::make_unique<VoiceRenderer>();
    analyzer = std::make_unique<MicAnalyzer>();
    routed = std::make_unique<RoutedSignal>();
}

SoundModels::~SoundModels() {
    voice->cancel();
    routed->stop();
    analyzer->stop();
    audio->stop();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

bool SoundModels::settle() {
    return QTest::qWaitFor([this] { return !audio->busy() && !routed->busy(); }, 30000);
}

void SoundModels::step() {
    system->pump(period);
    audio->tick();
}

}  // namespace quorvel
