#pragma once
// The Channel checks page: pink noise on the left or right channel alone or alternating (ping-pong), a
// spoken source ID ("<name>. Left." on the left channel, then "<name>. Right." on the right), and a
// flash-plus-beep check of picture-to-sound timing.
//
// The page has no audio logic of its own: each of its five start buttons stops the other sources and
// restarts the measurement's averaging, then drives the stereo player (AudioController). Route,
// ping-pong, interval and flash live in the player and outlast the page; leaving the page stops nothing.
// The page keeps only the source name, "Playback one" whenever the page is built.
//
// Main thread only. The four models outlive the page; a spoken ID still being prepared when the page
// goes is played all the same.
#include <QString>
#include <QStringList>
#include <QWidget>

#include "engine/AudioController.h"
#include "kit/QVPage.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace quorvel {

class MicAnalyzer;
class QVAction;
class RoutedSignal;
class VoiceRenderer;

class ChannelChecksView : public QVPage {
    Q_OBJECT
public:
    // The source picker's names, in order.
    static const QStringList& sourceNames();
    // Slider range of the ping-pong interval, seconds.
    static constexpr double kMinInterval = 0.25;
    static constexpr double kMaxInterval = 5;

    ChannelChecksView(AudioController& audio, RoutedSignal& routed, VoiceRenderer& voice,
                      MicAnalyzer& analyzer, QWidget* parent = nullptr);

    const QString& voiceName() const { return voiceName_; }

    // The noise check: cancels a spoken ID in preparation, stops the routed generator, restarts the
    // averaging, sets ping-pong and the route, then loops pink noise on the player. Returns at once.
    void check(AudioController::Route route, bool ping);
    // Stops the routed generator and the player, restarts the averaging and prepares the spoken ID of
    // voiceName(); once it is ready it loops on both channels (ping-pong off, route both).
    void speak();
    // Cancels a spoken ID in preparation, stops the routed generator, restarts the averaging, sets
    // ping-pong off and the route to both, then loops the sync beep with the flash.
    void flashAndBeep();

    // The text of an interval read-out: one decimal as printf writes it, then " s" (0.25 → "0.2 s").
    static QString intervalText(double seconds);

private:
    QWidget* buildLeftRightCard();
    QWidget* buildVoiceCard();
    QWidget* buildSyncCard();
    void setVoiceName(const QString& name);
    // Show the models' current state, each what its change touches. None runs an action.
    void refreshEmphasis();
    void refreshInterval();
    void refreshVoice();

    AudioController& audio_;
    RoutedSignal& routed_;
    VoiceRenderer& voice_;
    MicAnalyzer& analyzer_;
    QString voiceName_ = QStringLiteral("Playback one");

    QVAction* left_ = nullptr;
    QVAction* right_ = nullptr;
    QVAction* pingPong_ = nullptr;
    QSlider* interval_ = nullptr;
    QLabel* intervalText_ = nullptr;
    QComboBox* source_ = nullptr;
    QLineEdit* sourceField_ = nullptr;
    QVAction* speak_ = nullptr;
    QWidget* flashBox_ = nullptr;
};

}  // namespace quorvel
