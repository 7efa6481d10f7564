#include "app/TransportBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/QuorvelView.h"
#include "app/RoutePicker.h"
#include "engine/AudioController.h"
#include "engine/RoutedSignal.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

const QColor kOrange = QColor::fromRgbF(1.0f, 0.624f, 0.039f);
// The slider works in hundredths of a dB so that it moves as smoothly as a continuous control.
constexpr int kSteps = 100;

}  // namespace

// A small turning arc, shown while a source is being prepared.
class TransportBar::Spinner : public QWidget {
public:
    explicit Spinner(QWidget* parent = nullptr) : QWidget(parent) {
        setFixedSize(16, 16);
        timer_.setInterval(80);
        connect(&timer_, &QTimer::timeout, this, [this] {
            angle_ = (angle_ + 30) % 360;
            update();
        });
    }

protected:
    void showEvent(QShowEvent*) override { timer_.start(); }
    void hideEvent(QHideEvent*) override { timer_.stop(); }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QVStyle::secondary(), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(2, 2, 12, 12), -angle_ * 16, 270 * 16);
    }

private:
    QTimer timer_;
    int angle_ = 0;
};

TransportBar::TransportBar(QuorvelView& view, QWidget* parent) : QWidget(parent), view_(view) {
    setObjectName(QStringLiteral("transport"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 0, 20, 12);
    column->setSpacing(10);

    auto* divider = new QWidget;
    divider->setFixedHeight(1);
    divider->setAttribute(Qt::WA_StyledBackground, true);
    divider->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 20);"));
    column->addWidget(divider);

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    icon_ = new QLabel;
    icon_->setFixedSize(18, 18);
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("transportStatus"));
    QVStyle::setText(status_, QVText::Subheadline, QVStyle::primary(), QFont::Medium);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status_->setMinimumWidth(40);
    error_ = QVIcons::button(QStringLiteral("exclamationmark.circle.fill"), 18, kOrange,
                             QStringLiteral("Playback error details"));
    connect(error_, &QToolButton::clicked, this, [this] { view_.setShowingError(true); });
    spinner_ = new Spinner;
    playPause_ =
        QVIcons::button(QStringLiteral("play.fill"), 18, QVStyle::primary(), QStringLiteral("Play or pause"));
    playPause_->setProperty("symbol", QStringLiteral("play.fill"));
    playPause_->setFixedSize(30, 30);
    stop_ =
        QVIcons::button(QStringLiteral("stop.fill"), 18, QVStyle::primary(), QStringLiteral("Stop playback"));
    stop_->setFixedSize(30, 30);
    connect(stop_, &QToolButton::clicked, &view_, &QuorvelView::stopAll);
    connect(playPause_, &QToolButton::clicked, this, [this] { view_.audio().togglePlayback(); });
    statusRow->addWidget(icon_);
    statusRow->addWidget(status_, 1);
    statusRow->addSpacing(8);
    statusRow->addWidget(error_);
    statusRow->addWidget(spinner_);
    statusRow->addWidget(playPause_);
    statusRow->addWidget(stop_);
    column->addLayout(statusRow);

    auto* levelRow = new QHBoxLayout;
    levelRow->setSpacing(10);
    levelRow->addWidget(QVIcons::label(QStringLiteral("speaker.wave.1.fill"), 12, QVStyle::secondary()));
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setObjectName(QStringLiteral("levelSlider"));
    slider_->setAccessibleName(QStringLiteral("Level"));
    slider_->setRange(int(kMinLevelDB) * kSteps, int(kMaxLevelDB) * kSteps);
    slider_->setSingleStep(kSteps);
    slider_->setPageStep(6 * kSteps);
    connect(slider_, &QSlider::valueChanged, this, [this](int v) { setLevelTarget(double(v) / kSteps); });
    level_ = new QLabel;
    level_->setObjectName(QStringLiteral("levelText"));
    level_->setFont(QVStyle::monospaceFont(QVText::Caption));
    level_->setFixedWidth(48);
    level_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    musicVolume_ = new QLabel(QStringLiteral("Music server \u00b7 server volume"));
    musicVolume_->setObjectName(QStringLiteral("musicVolume"));
    QVStyle::setText(musicVolume_, QVText::Caption, QVStyle::secondary());
    musicVolume_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    route_ = new RoutePicker;
    route_->setFixedSize(30, 26);
    levelRow->addWidget(slider_, 1);
    levelRow->addWidget(level_);
    levelRow->addWidget(musicVolume_, 1);
    levelRow->addWidget(route_);
    column->addLayout(levelRow);

    AudioController* audio = &view_.audio();
    for (auto change : {&AudioController::statusChanged, &AudioController::errorDetailChanged,
                        &AudioController::busyChanged, &AudioController::playingChanged,
                        &AudioController::isMusicSourceChanged, &AudioController::hasPlaybackChanged,
                        &AudioController::levelChanged})
        connect(audio, change, this, &TransportBar::refresh);
    RoutedSignal* routed = &view_.routed();
    for (auto change : {&RoutedSignal::isPlayingChanged, &RoutedSignal::statusChanged,
                        &RoutedSignal::busyChanged, &RoutedSignal::levelChanged})
        connect(routed, change, this, &TransportBar::refresh);
    connect(&view_, &QuorvelView::toolChanged, this, &TransportBar::refresh);
    connect(&view_, &QuorvelView::interfaceModeChanged, this, &TransportBar::refresh);
    refresh();
}

QString TransportBar::levelText(double levelDB) {
    if (!std::isfinite(levelDB)) return QStringLiteral("-- dB");
    const double whole = std::trunc(levelDB);
    // Far outside any level the slider can set; clamped so the conversion stays defined.
    const long long shown = whole <= -1e15  ? -1000000000000000LL
                            : whole >= 1e15 ? 1000000000000000LL
                                            : static_cast<long long>(whole);
    return qvFormat("%lld dB", shown);
}

QString TransportBar::statusText() const { return status_->text(); }

QString TransportBar::shownLevelText() const { return level_->text(); }

bool TransportBar::drivesRouted() const {
    return view_.tool() == QuorvelTool::signals_ && view_.interfaceMode();
}

double TransportBar::levelTarget() const {
    return drivesRouted() ? view_.routed().level() : view_.audio().level();
}

void TransportBar::setLevelTarget(double db) {
    if (drivesRouted())
        view_.routed().setLevel(db);
    else
        view_.audio().setLevel(db);
}

void TransportBar::refresh() {
    const AudioController& audio = view_.audio();
    const RoutedSignal& routed = view_.routed();
    const bool sounding = routed.isPlaying() || audio.playing();
    const QString icon = sounding ? QStringLiteral("waveform") : QStringLiteral("waveform.circle");
    if (icon != statusIcon_) {
        statusIcon_ = icon;
        icon_->setPixmap(QVIcons::pixmap(statusIcon_, 18, QVStyle::accent(), devicePixelRatioF()));
    }
    if (routed.isPlaying())
        status_->setText(routed.status());
    else if (audio.idle())
        status_->setText(QStringLiteral("Ready"));
    else
        status_->setText(audio.status());
    status_->setToolTip(status_->text());
    error_->setVisible(audio.errorDetail().has_value());
    spinner_->setVisible(audio.busy() || routed.busy());
    const QString playIcon = audio.playing() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill");
    if (playPause_->property("symbol").toString() != playIcon) {
        playPause_->setIcon(QVIcons::icon(playIcon, QVStyle::primary()));
        playPause_->setProperty("symbol", playIcon);
    }
    playPause_->setEnabled(audio.hasPlayback());

    const bool music = audio.isMusicSource();
    slider_->setVisible(!music);
    level_->setVisible(!music);
    musicVolume_->setVisible(music);
    const double target = levelTarget();
    const QSignalBlocker quiet(slider_);
    slider_->setValue(int(std::lround(std::clamp(target, kMinLevelDB, kMaxLevelDB) * kSteps)));
    level_->setText(levelText(target));
}

void TransportBar::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), QVStyle::background()); }

}  // namespace quorvel
