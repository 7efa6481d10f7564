#include "screens/ChannelChecksView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "dsp/SignalSettings.h"
#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace {

// The slider moves in hundredths of a second.
constexpr double kSliderScale = 100;

// The A/V sync box: black, or white while the player's flash is lit, with the sparkle symbol centred.
class FlashBox final : public QWidget {
public:
    static constexpr double kRadius = 14;
    static constexpr int kHeight = 130;
    static constexpr int kSymbolSize = 32;

    explicit FlashBox(const AudioController& audio) : audio_(audio) {
        setObjectName(QStringLiteral("flashBox"));
        setFixedHeight(kHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const bool lit = audio_.flash();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath box;
        box.addRoundedRect(QRectF(rect()), kRadius, kRadius);
        p.fillPath(box, lit ? Qt::white : Qt::black);
        const QColor ink = lit ? QColor(Qt::black) : QColor::fromRgbF(1, 1, 1, 0.3f);
        const QRectF symbol(QPointF(rect().center()) - QPointF(kSymbolSize / 2.0, kSymbolSize / 2.0),
                            QSizeF(kSymbolSize, kSymbolSize));
        p.drawPixmap(symbol.toRect(),
                     QVIcons::pixmap(QStringLiteral("sparkle"), kSymbolSize, ink, devicePixelRatioF()));
    }

private:
    const AudioController& audio_;
};

}  // namespace

const QStringList& ChannelChecksView::sourceNames() {
    static const QStringList names{"Playback one",     "Playback two", "Graphics one", "Graphics two",
                                   "Video conference", "Record feed",  "Stream feed"};
    return names;
}

ChannelChecksView::ChannelChecksView(AudioController& audio, RoutedSignal& routed, VoiceRenderer& voice,
                                     MicAnalyzer& analyzer, QWidget* parent)
    : QVPage(QStringLiteral("Channel checks"), {}, nullptr, parent),
      audio_(audio),
      routed_(routed),
      voice_(voice),
      analyzer_(analyzer) {
    setObjectName(QStringLiteral("channelChecks"));
    add(buildLeftRightCard());
    add(buildVoiceCard());
    add(buildSyncCard());

    for (auto changed : {&AudioController::routeChanged, &AudioController::playingChanged,
                         &AudioController::pingPongChanged})
        connect(&audio_, changed, this, &ChannelChecksView::refreshEmphasis);
    connect(&audio_, &AudioController::intervalChanged, this, &ChannelChecksView::refreshInterval);
    connect(&audio_, &AudioController::flashChanged, flashBox_, qOverload<>(&QWidget::update));
    connect(&voice_, &VoiceRenderer::workingChanged, this, &ChannelChecksView::refreshVoice);
    refreshEmphasis();
    refreshInterval();
    refreshVoice();
    setVoiceName(voiceName_);
}

QString ChannelChecksView::intervalText(double seconds) { return qvFormat("%.1f s", seconds); }

void ChannelChecksView::check(AudioController::Route route, bool ping) {
    voice_.cancel();
    routed_.stop();
    analyzer_.invalidate();
    audio_.setPingPong(ping);
    audio_.setRoute(route);
    audio_.playSignal(SignalSettings{.kind = SignalKind::pink}, false);
}

void ChannelChecksView::speak() {
    routed_.stop();
    audio_.stop();
    analyzer_.invalidate();
    // The completion may arrive after the page is gone; it needs only the player.
    QPointer<AudioController> audio(&audio_);
    voice_.make(voiceName_, [audio](Result<std::string> rendered) {
        if (!audio) return;
        if (rendered) {
            audio->setPingPong(false);
            audio->setRoute(AudioController::Route::both);
            audio->playVoice(QString::fromStdString(rendered.value()));
        } else {
            audio->setStatus(QStringLiteral("Couldn't prepare voice"));
            audio->setErrorDetail(QString::fromStdString(rendered.error().description));
        }
    });
}

void ChannelChecksView::flashAndBeep() {
    voice_.cancel();
    routed_.stop();
    analyzer_.invalidate();
    audio_.setPingPong(false);
    audio_.setRoute(AudioController::Route::both);
    audio_.playSignal(SignalSettings{.kind = SignalKind::sync}, true);
}

QWidget* ChannelChecksView::buildLeftRightCard() {
    auto* card = new QVCard(QStringLiteral("Left / right"), nullptr, column());
    auto* sides = new QHBoxLayout;
    left_ = new QVAction(QStringLiteral("Left"), QStringLiteral("l.circle"), false,
                         [this] { check(AudioController::Route::left, false); });
    left_->setObjectName(QStringLiteral("left"));
    right_ = new QVAction(QStringLiteral("Right"), QStringLiteral("r.circle"), false,
                          [this] { check(AudioController::Route::right, false); });
    right_->setObjectName(QStringLiteral("right"));
    sides->addWidget(left_);
    sides->addWidget(right_);
    card->addLayout(sides);

    pingPong_ = new QVAction(QStringLiteral("Ping-pong"), QStringLiteral("arrow.left.arrow.right"), false,
                             [this] { check(AudioController::Route::both, true); });
    pingPong_->setObjectName(QStringLiteral("pingPong"));
    card->add(pingPong_);

    auto* intervalRow = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Interval"));
    QVStyle::setText(label, QVText::Caption);
    intervalRow->addWidget(label);
    interval_ = new QSlider(Qt::Horizontal);
    interval_->setObjectName(QStringLiteral("interval"));
    interval_->setAccessibleName(QStringLiteral("Interval"));
    interval_->setRange(int(kMinInterval * kSliderScale), int(kMaxInterval * kSliderScale));
    connect(interval_, &QSlider::valueChanged, this,
            [this](int hundredths) { audio_.setInterval(hundredths / kSliderScale); });
    intervalRow->addWidget(interval_, 1);
    intervalText_ = new QLabel;
    intervalText_->setObjectName(QStringLiteral("intervalText"));
    intervalText_->setFont(QVStyle::monospaceFont(QVText::Caption));
    intervalRow->addWidget(intervalText_);
    card->addLayout(intervalRow);
    return card;
}

QWidget* ChannelChecksView::buildVoiceCard() {
    auto* card = new QVCard(QStringLiteral("Spoken source ID"), nullptr, column());
    auto* pickerRow = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Source"));
    QVStyle::setText(label, QVText::Body);
    pickerRow->addWidget(label);
    source_ = new QComboBox;
    source_->setObjectName(QStringLiteral("source"));
    source_->setAccessibleName(QStringLiteral("Source"));
    source_->addItems(sourceNames());
    connect(source_, &QComboBox::activated, this, [this](int index) {
        setVoiceName(sourceNames().value(index));
        const QSignalBlocker quiet(sourceField_);
        sourceField_->setText(voiceName_);
    });
    pickerRow->addWidget(source_, 1);
    card->addLayout(pickerRow);

    sourceField_ = new QLineEdit(voiceName_);
    sourceField_->setObjectName(QStringLiteral("sourceField"));
    sourceField_->setPlaceholderText(QStringLiteral("Or enter a source name"));
    connect(sourceField_, &QLineEdit::textEdited, this, &ChannelChecksView::setVoiceName);
    card->add(sourceField_);

    speak_ = new QVAction(QStringLiteral("Speak left + right"), QStringLiteral("person.wave.2"), true,
                          [this] { speak(); });
    speak_->setObjectName(QStringLiteral("speak"));
    card->add(speak_);
    return card;
}

QWidget* ChannelChecksView::buildSyncCard() {
    auto* card = new QVCard(QStringLiteral("A/V sync"), nullptr, column());
    flashBox_ = new FlashBox(audio_);
    card->add(flashBox_);
    auto* flash = new QVAction(QStringLiteral("Flash + beep"), QStringLiteral("sparkles"), false,
                               [this] { flashAndBeep(); });
    flash->setObjectName(QStringLiteral("flashBeep"));
    card->add(flash);
    card->add(new QVBadge(QStringLiteral("Visual check \u00B7 approximate timing"), ScreenColors::orange()),
              Qt::AlignLeft);
    return card;
}

void ChannelChecksView::setVoiceName(const QString& name) {
    voiceName_ = name;
    const QSignalBlocker quiet(source_);
    // A typed name that is none of the listed ones leaves the picker without a choice.
    source_->setCurrentIndex(int(sourceNames().indexOf(name)));
}

void ChannelChecksView::refreshEmphasis() {
    const bool playing = audio_.playing();
    // Each emphasis has its own test: a left route left over while ping-pong runs lights both.
    left_->setProminent(playing && audio_.route() == AudioController::Route::left);
    right_->setProminent(playing && audio_.route() == AudioController::Route::right);
    pingPong_->setProminent(playing && audio_.pingPong());
}

void ChannelChecksView::refreshInterval() {
    if (!interval_->isSliderDown()) {
        const QSignalBlocker quiet(interval_);
        interval_->setValue(int(std::lround(audio_.interval() * kSliderScale)));
    }
    intervalText_->setText(intervalText(audio_.interval()));
}

void ChannelChecksView::refreshVoice() {
    const bool working = voice_.working();
    speak_->setTitle(working ? QStringLiteral("Preparing\u2026") : QStringLiteral("Speak left + right"));
    speak_->setEnabled(!working);
}

}  // namespace quorvel
