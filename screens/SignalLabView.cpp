#include "screens/SignalLabView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "engine/AudioController.h"
#include "engine/MicAnalyzer.h"
#include "engine/RoutedSignal.h"
#include "engine/VoiceRenderer.h"
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVNumber.h"
#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"
#include "screens/SignalPreview.h"

namespace quorvel {

namespace {

constexpr int kBalanceSteps = 1000;  // the balance slider's resolution over 0 … 1

// The routed generator's speaker selections and the player's routes, in the order of their segments.
const QString kSelections[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Both")};
const AudioController::Route kRoutes[] = {AudioController::Route::left, AudioController::Route::both,
                                          AudioController::Route::right};

QString kindText(SignalKind kind) {
    const std::string_view raw = rawValue(kind);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

// A pill-shaped button of the family controls: caption text, 10 px above and below, sharing its row.
QPushButton* pill(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(qvLiteral(title), parent);
    button->setFont(QVStyle::font(QVText::Caption, QFont::DemiBold));
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

void paintPill(QPushButton* button, const QColor& fill) {
    const int radius = (button->fontMetrics().height() + 20) / 2;
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: rgba(%1, %2, %3, %4); color: %5; border: none;"
                       " border-radius: %6px; padding: 10px 8px; }"
                       "QPushButton:pressed { background: rgba(255, 255, 255, 40); }")
            .arg(fill.red())
            .arg(fill.green())
            .arg(fill.blue())
            .arg(fill.alpha())
            .arg(QVStyle::primary().name())
            .arg(radius));
}

QColor withAlpha(const QColor& color, double alpha) {
    QColor c = color;
    c.setAlphaF(float(alpha));
    return c;
}

QLabel* caption(const QString& text, QWidget* parent, const QColor& color = QVStyle::primary()) {
    auto* label = new QLabel(text, parent);
    QVStyle::setText(label, QVText::Caption, color);
    return label;
}

QCheckBox* switchBox(const QString& title, const QFont& font, QWidget* parent) {
    auto* box = new QCheckBox(qvLiteral(title), parent);
    box->setFont(font);
    return box;
}

}  // namespace

SignalLabView::SignalLabView(QVBinding<SignalSettings> signal, QVBinding<bool> interfaceMode,
                             AudioController& audio, RoutedSignal& routed, VoiceRenderer& voice,
                             MicAnalyzer& analyzer, QWidget* parent)
    : QVPage(QStringLiteral("Signal generator"), {}, nullptr, parent),
      signal_(std::move(signal)),
      interfaceMode_(std::move(interfaceMode)),
      audio_(audio),
      routed_(routed),
      voice_(voice),
      analyzer_(analyzer) {
    setObjectName(QStringLiteral("signalLab"));
    add(buildHeader());
    add(buildSignalCard());
    add(buildOutputCard());
    add(buildFiltersCard());

    // Everything the page shows of the models follows them; none of these runs a change rule.
    for (auto changed : {&AudioController::playingChanged, &AudioController::busyChanged,
                         &AudioController::selectedTrackIDChanged})
        connect(&audio_, changed, this, &SignalLabView::refreshPlayback);
    connect(&audio_, &AudioController::routeChanged, this,
            [this] { channel_->setIndex(indexIn(kRoutes, audio_.route())); });
    for (auto changed : {&RoutedSignal::isPlayingChanged, &RoutedSignal::busyChanged})
        connect(&routed_, changed, this, &SignalLabView::refreshPlayback);
    for (auto changed : {&RoutedSignal::statusChanged, &RoutedSignal::selectionChanged,
                         &RoutedSignal::channelAChanged, &RoutedSignal::channelBChanged,
                         &RoutedSignal::referenceOutputChanged, &RoutedSignal::sendReferenceChanged})
        connect(&routed_, changed, this, &SignalLabView::refreshRouting);
    refresh();
}

SignalFamily SignalLabView::category(SignalKind kind) {
    switch (kind) {
        case SignalKind::pink:
        case SignalKind::white:
        case SignalKind::brown:
            return SignalFamily::noise;
        case SignalKind::logSweep:
        case SignalKind::linearSweep:
            return SignalFamily::sweep;
        default:
            return SignalFamily::tone;
    }
}

std::vector<SignalKind> SignalLabView::kindsFor(SignalFamily family) {
    switch (family) {
        case SignalFamily::noise:
            return {SignalKind::pink, SignalKind::white, SignalKind::brown};
        case SignalFamily::tone:
            return {SignalKind::sine, SignalKind::dual, SignalKind::pulse};
        case SignalFamily::sweep:
            break;
    }
    return {SignalKind::logSweep, SignalKind::linearSweep};
}

bool SignalLabView::active() const {
    if (interfaceMode_.get()) return routed_.isPlaying();
    return audio_.playing() && !audio_.selectedTrackID();
}

void SignalLabView::stopSignal() {
    audio_.stop();
    routed_.stop();
    analyzer_.invalidate();
}

void SignalLabView::play() {
    voice_.cancel();
    analyzer_.invalidate();
    // Both starts return at once and prepare in the background; each begins with its own stop.
    if (interfaceMode_.get()) {
        audio_.stop();
        routed_.play(signal_.get());
    } else {
        routed_.stop();
        audio_.playSignal(signal_.get(), false);
    }
}

void SignalLabView::pressPlayButton() {
    if (active())
        stopSignal();
    else
        play();
}

void SignalLabView::chooseFamily(SignalFamily family) {
    if (family == family_) return;
    family_ = family;
    stopSignal();
    SignalSettings next = signal_.get();
    if (category(next.kind) != family_) {
        next.kind = kindsFor(family_).front();
        writeSignal(next);
    }
    refreshSettings();
}

void SignalLabView::chooseKind(SignalKind kind) {
    edit([kind](SignalSettings& s) { s.kind = kind; });
}

void SignalLabView::choosePreset(const SignalPreset& preset) {
    stopSignal();
    writeSignal(preset.settings);
    // The preset's kind already belongs to the family it selects, so the kind stays as the preset set it.
    chooseFamily(category(preset.settings.kind));
    refreshSettings();
}

void SignalLabView::chooseBand(const Band& band) {
    stopSignal();
    edit([&band](SignalSettings& s) {
        s.hp = band.hp;
        s.lp = band.lp;
        s.filtered = band.filtered;
    });
}

void SignalLabView::chooseQuickFrequency(double hz) {
    edit([hz](SignalSettings& s) { s.frequency = hz; });
}

void SignalLabView::chooseInterfaceMode(bool on) {
    if (on == interfaceMode_.get()) return;
    interfaceMode_.set(on);
    stopSignal();
    refreshRouting();
    refreshPlayback();
}

void SignalLabView::edit(const std::function<void(SignalSettings&)>& change) {
    SignalSettings next = signal_.get();
    change(next);
    writeSignal(next);
    refreshSettings();
}

void SignalLabView::writeSignal(const SignalSettings& next) {
    const SignalSettings previous = signal_.get();
    if (next == previous) return;
    signal_.set(next);
    if (next.kind != previous.kind) stopSignal();
}

// ---- Building ----

QWidget* SignalLabView::buildHeader() {
    auto* header = new QWidget(column());
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    // Segments in the order of SignalFamily.
    familyPicker_ = new SegmentedPicker(QStringLiteral("Signal family"), {"Noise", "Tone", "Sweep"}, header);
    familyPicker_->setObjectName(QStringLiteral("family"));
    connect(familyPicker_, &SegmentedPicker::chosen, this,
            [this](int index) { chooseFamily(static_cast<SignalFamily>(index)); });
    row->addWidget(familyPicker_, 1);

    presets_ = QVIcons::button(QStringLiteral("slider.horizontal.3"), 20, QVStyle::accent(),
                               QStringLiteral("Signal presets"), header);
    presets_->setObjectName(QStringLiteral("presets"));
    presets_->setFixedSize(40, 36);
    presets_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(presets_);
    for (const SignalPreset& preset : SignalPreset::seeded()) {
        QAction* item = menu->addAction(qvLiteral(QString::fromStdString(preset.id)));
        connect(item, &QAction::triggered, this, [this, preset] { choosePreset(preset); });
    }
    presets_->setMenu(menu);
    row->addWidget(presets_);
    return header;
}

QWidget* SignalLabView::buildSignalCard() {
    auto* card = new QVCard({}, nullptr, column());

    auto* titleRow = new QHBoxLayout;
    kindTitle_ = new QLabel(card);
    kindTitle_->setObjectName(QStringLiteral("kindTitle"));
    QVStyle::setText(kindTitle_, QVText::Title2, QVStyle::primary(), QFont::DemiBold);
    titleRow->addWidget(kindTitle_);
    titleRow->addStretch(1);
    badge_ = new QVBadge(QStringLiteral("Ready"), QVStyle::accent(), card);
    badge_->setObjectName(QStringLiteral("state"));
    titleRow->addWidget(badge_);
    card->addLayout(titleRow);

    preview_ = new SignalPreview(signal_.get().kind, card);
    preview_->setFixedHeight(95);
    card->add(preview_);

    type_ = new QComboBox(card);
    type_->setObjectName(QStringLiteral("type"));
    type_->setAccessibleName(QStringLiteral("Type"));
    type_->setFont(QVStyle::font(QVText::Body));
    connect(type_, &QComboBox::activated, this,
            [this](int index) { chooseKind(static_cast<SignalKind>(type_->itemData(index).toInt())); });
    card->add(type_);

    noise_ = buildNoiseControls(card);
    tone_ = buildToneControls(card);
    sweep_ = buildSweepControls(card);
    card->add(noise_);
    card->add(tone_);
    card->add(sweep_);

    playButton_ = new QVAction(
        QString(), QStringLiteral("play.fill"), true, [this] { pressPlayButton(); }, card);
    playButton_->setObjectName(QStringLiteral("play"));
    card->add(playButton_);
    return card;
}

QWidget* SignalLabView::buildNoiseControls(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    for (const Band& band : kBands) {
        QPushButton* button = pill(QString::fromUtf8(band.title), box);
        button->setObjectName(QStringLiteral("band"));
        connect(button, &QPushButton::clicked, this, [this, &band] { chooseBand(band); });
        row->addWidget(button, 1);
        bandButtons_.push_back(button);
        bandLit_.push_back(-1);
    }
    return box;
}

QWidget* SignalLabView::buildToneControls(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(QVCard::kSpacing);
    column->addWidget(
        number(QStringLiteral("Frequency"), &SignalSettings::frequency, QStringLiteral("Hz"), box));

    auto* quick = new QHBoxLayout;
    for (double hz : kQuickFrequencies) {
        QPushButton* button = pill(qvFormat("%.0f", hz), box);
        button->setObjectName(QStringLiteral("quickFrequency"));
        paintPill(button, withAlpha(Qt::white, 0.06));
        connect(button, &QPushButton::clicked, this, [this, hz] { chooseQuickFrequency(hz); });
        quick->addWidget(button, 1);
    }
    column->addLayout(quick);

    dual_ = new QWidget(box);
    auto* dualColumn = new QVBoxLayout(dual_);
    dualColumn->setContentsMargins(0, 0, 0, 0);
    dualColumn->setSpacing(QVCard::kSpacing);
    dualColumn->addWidget(
        number(QStringLiteral("Second tone"), &SignalSettings::frequency2, QStringLiteral("Hz"), dual_));
    auto* balanceRow = new QHBoxLayout;
    balanceRow->addWidget(caption(QStringLiteral("A"), dual_));
    balance_ = new QSlider(Qt::Horizontal, dual_);
    balance_->setObjectName(QStringLiteral("balance"));
    balance_->setAccessibleName(QStringLiteral("Balance"));
    balance_->setRange(0, kBalanceSteps);
    connect(balance_, &QSlider::valueChanged, this, [this](int step) {
        edit([step](SignalSettings& s) { s.balance = double(step) / kBalanceSteps; });
    });
    balanceRow->addWidget(balance_, 1);
    balanceRow->addWidget(caption(QStringLiteral("B"), dual_));
    dualColumn->addLayout(balanceRow);
    column->addWidget(dual_);
    return box;
}

QWidget* SignalLabView::buildSweepControls(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(QVCard::kSpacing);
    auto* range = new QHBoxLayout;
    range->addWidget(number(QStringLiteral("From"), &SignalSettings::start, QStringLiteral("Hz"), box));
    range->addWidget(number(QStringLiteral("To"), &SignalSettings::end, QStringLiteral("Hz"), box));
    column->addLayout(range);
    column->addWidget(
        number(QStringLiteral("Duration"), &SignalSettings::seconds, QStringLiteral("sec"), box));
    return box;
}

QWidget* SignalLabView::buildOutputCard() {
    auto* card = new QVCard({}, nullptr, column());
    auto* row = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("Output"), card);
    QVStyle::setText(title, QVText::Subheadline, QVStyle::primary(), QFont::Medium);
    row->addWidget(title);
    row->addStretch(1);
    // Stereo is segment 0, Interface segment 1.
    output_ = new SegmentedPicker(QStringLiteral("Output"), {"Stereo", "Interface"}, card);
    output_->setObjectName(QStringLiteral("output"));
    output_->setMaximumWidth(230);
    connect(output_, &SegmentedPicker::chosen, this, [this](int index) { chooseInterfaceMode(index == 1); });
    row->addWidget(output_);
    card->addLayout(row);

    // Interface: speakers, channel routing and the routed generator's status.
    interfaceControls_ = new QWidget(card);
    auto* routing = new QVBoxLayout(interfaceControls_);
    routing->setContentsMargins(0, 0, 0, 0);
    routing->setSpacing(QVCard::kSpacing);
    speakers_ = new SegmentedPicker(QStringLiteral("Speakers"), {"A", "B", "A + B"}, interfaceControls_);
    speakers_->setObjectName(QStringLiteral("speakers"));
    connect(speakers_, &SegmentedPicker::chosen, this,
            [this](int index) { routed_.setSelection(kSelections[index]); });
    routing->addWidget(speakers_);

    auto* group = new Disclosure(QStringLiteral("Channel routing"), nullptr, QVStyle::font(QVText::Body), 12,
                                 interfaceControls_);
    auto* channels = new QWidget(group->body());
    auto* channelColumn = new QVBoxLayout(channels);
    channelColumn->setContentsMargins(0, 0, 0, 0);
    channelColumn->setSpacing(14);
    const auto outputLabel = [](const char* prefix) {
        return [prefix](int output) { return QString::fromUtf8(prefix) + QString::number(output); };
    };
    channelA_ = new Stepper(1, 64, outputLabel("A \u00B7 output "), channels);
    channelA_->setObjectName(QStringLiteral("channelA"));
    connect(channelA_, &Stepper::stepped, &routed_, &RoutedSignal::setChannelA);
    channelB_ = new Stepper(1, 64, outputLabel("B \u00B7 output "), channels);
    channelB_->setObjectName(QStringLiteral("channelB"));
    connect(channelB_, &Stepper::stepped, &routed_, &RoutedSignal::setChannelB);
    sendReference_ = switchBox(QStringLiteral("Loopback reference"), QVStyle::font(QVText::Body), channels);
    sendReference_->setObjectName(QStringLiteral("sendReference"));
    connect(sendReference_, &QCheckBox::clicked, &routed_, &RoutedSignal::setSendReference);
    referenceOutput_ = new Stepper(1, 64, outputLabel("Reference \u00B7 output "), channels);
    referenceOutput_->setObjectName(QStringLiteral("referenceOutput"));
    connect(referenceOutput_, &Stepper::stepped, &routed_, &RoutedSignal::setReferenceOutput);
    dualHint_ =
        caption(QStringLiteral("Solo A or B for reference measurement"), channels, ScreenColors::orange());
    dualHint_->setObjectName(QStringLiteral("dualHint"));
    for (QWidget* w :
         std::initializer_list<QWidget*>{channelA_, channelB_, sendReference_, referenceOutput_, dualHint_})
        channelColumn->addWidget(w);
    group->setContent(channels);
    group->setObjectName(QStringLiteral("channelRouting"));
    routing->addWidget(group);

    routedStatus_ = caption(QString(), interfaceControls_, QVStyle::secondary());
    routedStatus_->setObjectName(QStringLiteral("routedStatus"));
    routedStatus_->setWordWrap(true);
    routedStatus_->setMaximumHeight(2 * routedStatus_->fontMetrics().lineSpacing() + 2);
    routing->addWidget(routedStatus_);
    card->add(interfaceControls_);

    // Stereo: the player's channel.
    channel_ = new SegmentedPicker(QStringLiteral("Channel"), {"L", "L + R", "R"}, card);
    channel_->setObjectName(QStringLiteral("channel"));
    connect(channel_, &SegmentedPicker::chosen, this, [this](int index) { audio_.setRoute(kRoutes[index]); });
    card->add(channel_);
    return card;
}

QWidget* SignalLabView::buildFiltersCard() {
    auto* card = new QVCard({}, nullptr, column());
    const QFont groupFont = QVStyle::font(QVText::Subheadline, QFont::Medium);
    auto* group = new Disclosure(QStringLiteral("Filters & timing"), nullptr, groupFont, 12, card);
    auto* content = new QWidget(group->body());
    content->setFont(groupFont);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    filtered_ = switchBox(QStringLiteral("HP / LP"), groupFont, content);
    filtered_->setObjectName(QStringLiteral("filtered"));
    connect(filtered_, &QCheckBox::clicked, this,
            [this](bool on) { edit([on](SignalSettings& s) { s.filtered = on; }); });
    column->addWidget(filtered_);

    corners_ = new QWidget(content);
    auto* cornerColumn = new QVBoxLayout(corners_);
    cornerColumn->setContentsMargins(0, 0, 0, 0);
    cornerColumn->setSpacing(12);
    cornerColumn->addWidget(
        number(QStringLiteral("High-pass"), &SignalSettings::hp, QStringLiteral("Hz"), corners_));
    cornerColumn->addWidget(
        number(QStringLiteral("Low-pass"), &SignalSettings::lp, QStringLiteral("Hz"), corners_));
    column->addWidget(corners_);

    cycle_ = number(QStringLiteral("Cycle"), &SignalSettings::seconds, QStringLiteral("sec"), content);
    column->addWidget(cycle_);
    column->addWidget(
        caption(QStringLiteral("6 dB/oct filters \u00B7 dBFS output"), content, QVStyle::secondary()));

    group->setContent(content);
    group->setObjectName(QStringLiteral("filtersTiming"));
    card->add(group);
    return card;
}

QVNumber* SignalLabView::number(const QString& title, double SignalSettings::*field, const QString& unit,
                                QWidget* parent) {
    // Another field may show the same value ("Duration" and "Cycle"), and edits move the band highlight:
    // each edit shows the whole page again.
    QVBinding<double> binding{
        [this, field] { return signal_.get().*field; },
        [this, field](const double& value) { edit([&](SignalSettings& s) { s.*field = value; }); }};
    auto* n = new QVNumber(title, std::move(binding), unit, parent);
    n->setObjectName(title);
    numbers_.push_back(n);
    return n;
}

// ---- Showing ----

void SignalLabView::refresh() {
    refreshSettings();
    refreshPlayback();
    refreshRouting();
    channel_->setIndex(indexIn(kRoutes, audio_.route()));
}

void SignalLabView::refreshSettings() {
    const SignalSettings s = signal_.get();
    familyPicker_->setIndex(int(family_));
    kindTitle_->setText(kindText(s.kind));
    preview_->setKind(s.kind);

    {
        const QSignalBlocker quiet(type_);
        const std::vector<SignalKind> offered = kinds();
        bool same = type_->count() == int(offered.size());
        for (int i = 0; same && i < type_->count(); ++i) same = type_->itemData(i).toInt() == int(offered[i]);
        if (!same) {  // rebuilt only when the family changed, so an open list is left alone
            type_->clear();
            for (SignalKind k : offered) type_->addItem(kindText(k), int(k));
        }
        // A kind outside the family (a page built while a tone plays, say) leaves no item chosen.
        type_->setCurrentIndex(type_->findData(int(s.kind)));
    }

    noise_->setVisible(family_ == SignalFamily::noise);
    tone_->setVisible(family_ == SignalFamily::tone);
    sweep_->setVisible(family_ == SignalFamily::sweep);
    for (std::size_t i = 0; i < kBands.size(); ++i) {
        // Only the two corners count: the filter switch may be off under a highlighted band.
        const int lit = s.hp == kBands[i].hp && s.lp == kBands[i].lp ? 1 : 0;
        if (lit == bandLit_[i]) continue;
        bandLit_[i] = lit;
        paintPill(bandButtons_[i], lit ? withAlpha(QVStyle::accent(), 0.16) : withAlpha(Qt::white, 0.05));
    }
    dual_->setVisible(s.kind == SignalKind::dual);
    if (!balance_->isSliderDown()) {
        const QSignalBlocker quiet(balance_);
        balance_->setValue(int(std::lround(std::clamp(s.balance, 0.0, 1.0) * kBalanceSteps)));
    }
    dualHint_->setVisible(s.kind == SignalKind::dual && routed_.sendReference());

    {
        const QSignalBlocker quiet(filtered_);
        filtered_->setChecked(s.filtered);
    }
    corners_->setVisible(s.filtered);
    cycle_->setVisible(family_ != SignalFamily::sweep);
    for (QVNumber* n : numbers_) n->refresh();
    refreshPlayback();  // the play button names the kind
}

void SignalLabView::refreshPlayback() {
    const SignalKind kind = signal_.get().kind;
    const bool isActive = active();
    badge_->setTitle(isActive ? QStringLiteral("Playing") : QStringLiteral("Ready"));
    playButton_->setTitle(isActive ? QStringLiteral("Stop signal")
                                   : QStringLiteral("Play ") + kindText(kind).toLower());
    playButton_->setIconName(isActive ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"));
    playButton_->setEnabled(!audio_.busy() && !routed_.busy());
}

void SignalLabView::refreshRouting() {
    const bool interfaceMode = interfaceMode_.get();
    output_->setIndex(interfaceMode ? 1 : 0);
    interfaceControls_->setVisible(interfaceMode);
    channel_->setVisible(!interfaceMode);
    speakers_->setIndex(indexIn(kSelections, routed_.selection()));
    channelA_->setValue(routed_.channelA());
    channelB_->setValue(routed_.channelB());
    {
        const QSignalBlocker quiet(sendReference_);
        sendReference_->setChecked(routed_.sendReference());
    }
    referenceOutput_->setValue(routed_.referenceOutput());
    referenceOutput_->setVisible(routed_.sendReference());
    dualHint_->setVisible(signal_.get().kind == SignalKind::dual && routed_.sendReference());
    routedStatus_->setText(routed_.status());
    routedStatus_->setVisible(routed_.status() != QLatin1String(RoutedSignal::stoppedStatus));
}

}  // namespace quorvel
