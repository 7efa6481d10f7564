#include "screens/AnalyzerView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "engine/InputPicker.h"
#include "engine/InterfacePicker.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVFrequencyAxis.h"
#include "kit/QVIcons.h"
#include "kit/QVMessageLine.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"
#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"
#include "screens/SpectrumPlot.h"

namespace quorvel {

namespace {
constexpr int kHighestChannel = 31;  // input channels 0 … 31, shown from 1
}  // namespace

AnalyzerView::AnalyzerView(MicAnalyzer& analyzer, QWidget* parent)
    : QVPage(QStringLiteral("Measure"), {}, nullptr, parent), analyzer_(analyzer) {
    buildHeader();
    buildPlotCard();
    buildInputCard();
    buildFooter();

    connect(&analyzer_, &MicAnalyzer::runningChanged, this, [this] {
        refreshRunning();
        refreshSpectrum();
        refreshFailure();
    });
    connect(&analyzer_, &MicAnalyzer::startingChanged, this, &AnalyzerView::refreshRunning);
    connect(&analyzer_, &MicAnalyzer::statusChanged, this, &AnalyzerView::refreshFailure);
    connect(&analyzer_, &MicAnalyzer::spectrumChanged, this, &AnalyzerView::refreshSpectrum);
    for (auto signal : {&MicAnalyzer::delayMSChanged, &MicAnalyzer::averagesChanged,
                        &MicAnalyzer::correlationChanged, &MicAnalyzer::equivalentMetersChanged})
        connect(&analyzer_, signal, this, &AnalyzerView::refreshReadouts);
    for (auto signal : {&MicAnalyzer::statusChanged, &MicAnalyzer::dualChanged,
                        &MicAnalyzer::micChannelChanged, &MicAnalyzer::referenceChannelChanged,
                        &MicAnalyzer::calibrationMSChanged, &MicAnalyzer::temperatureChanged})
        connect(&analyzer_, signal, this, &AnalyzerView::refreshInputs);

    refreshRunning();
    refreshSpectrum();
    refreshReadouts();
    refreshInputs();
    refreshFailure();
}

std::vector<SpectrumPoint> AnalyzerView::points(SpectrumMode mode,
                                                const std::vector<SpectrumPoint>& spectrum) {
    if (mode == SpectrumMode::fft) return spectrum;
    return SpectrumPlot::bands(spectrum);
}

QString AnalyzerView::peakReadout(const std::vector<SpectrumPoint>& spectrum) {
    if (spectrum.empty()) return readout(std::nullopt, "%.0f");
    const auto loudest = std::max_element(spectrum.begin(), spectrum.end(),
                                          [](const auto& x, const auto& y) { return x.db < y.db; });
    return readout(loudest->db, "%.0f");
}

void AnalyzerView::setMode(SpectrumMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    modePicker_->setIndex(int(mode_));
    refreshSpectrum();
}

// ---- building ----

// Each block is put in the page before it is filled, and each control made in place: a finished block put
// in the page would take every control in it through the style sheet once more.

void AnalyzerView::buildHeader() {
    auto* header = new QHBoxLayout;
    addLayout(header);
    liveBadge_ = new QVBadge({}, QVStyle::accent(), column());
    liveBadge_->setObjectName(QStringLiteral("liveBadge"));
    header->addWidget(liveBadge_);
    // Two lines at most, and their height also while hidden: the header stays as high whether a reason shows
    // or not, so a click below it that takes the reason away moves nothing, even with the page at its top.
    failure_ = new QVMessageLine(2, QVMessageLine::Space::kept, column());
    failure_->setObjectName(QStringLiteral("captureFailure"));
    QVStyle::setText(failure_, QVText::Caption, ScreenColors::orange(), QFont::DemiBold);
    // The reason takes the free width while it shows; otherwise the stretch keeps the button at the end.
    header->addWidget(failure_, 1);
    header->addStretch(0);
    startButton_ = new QPushButton(column());
    startButton_->setObjectName(QStringLiteral("startStop"));
    startButton_->setFont(QVStyle::font(QVText::Subheadline, QFont::DemiBold));
    startButton_->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none;"
                                               " border-radius: 7px; padding: 6px 14px; }")
                                    .arg(QVStyle::accent().name(), QVStyle::background().name()));
    connect(startButton_, &QPushButton::clicked, this, &AnalyzerView::pressStartStop);
    header->addWidget(startButton_);
}

void AnalyzerView::buildPlotCard() {
    auto* card = new QVCard;
    add(card);
    // Segments in the order of SpectrumMode.
    modePicker_ = new SegmentedPicker(QStringLiteral("Display"),
                                      {QStringLiteral("⅓-octave RTA"), QStringLiteral("FFT")}, card);
    modePicker_->setIndex(int(mode_));
    connect(modePicker_, &SegmentedPicker::chosen, this,
            [this](int index) { setMode(static_cast<SpectrumMode>(index)); });
    card->add(modePicker_);
    plot_ = new SpectrumPlot(card);
    card->add(plot_);

    auto* under = new QVBoxLayout;
    under->setSpacing(8);
    card->addLayout(under);
    under->addWidget(new QVFrequencyAxis(card));
    auto* metrics = new QHBoxLayout;
    metrics->setSpacing(16);
    under->addLayout(metrics);
    peak_ = new QVMetric({}, QStringLiteral("Peak bin · dBFS"), QVStyle::accent(), card);
    arrival_ = new QVMetric({}, QStringLiteral("Arrival · ms"), QVStyle::accent(), card);
    averages_ = new QVMetric({}, QStringLiteral("Averages"), QVStyle::primary(), card);
    peak_->setObjectName(QStringLiteral("peak"));
    arrival_->setObjectName(QStringLiteral("arrival"));
    averages_->setObjectName(QStringLiteral("averages"));
    for (QVMetric* m : {peak_, arrival_, averages_}) metrics->addWidget(m, 1);
}

void AnalyzerView::buildInputCard() {
    auto* card = new QVCard(QStringLiteral("Input"));
    inputCard_ = card;
    add(card);
    auto* row = new QHBoxLayout;
    card->addLayout(row);
    auto* label = new QLabel(QStringLiteral("Interface"), card);
    QVStyle::setText(label, QVText::Body);
    row->addWidget(label);
    row->addStretch(1);
    // Each opening asks for a new device list; the list shown meanwhile is the last one, and the new one
    // replaces it when it comes.
    auto* interfaces = new PopupPicker(card);
    interfaces->opening = [this] {
        if (hardware_) hardware_->refresh();
    };
    interfaces_ = interfaces;
    interfaces_->setObjectName(QStringLiteral("interfaces"));
    interfaces_->setMinimumWidth(220);
    connect(interfaces_, &QComboBox::currentIndexChanged, this, &AnalyzerView::chooseInterface);
    row->addWidget(interfaces_);

    auto* refresh = new QPushButton(QVIcons::icon(QStringLiteral("arrow.clockwise"), QVStyle::accent()),
                                    qvLiteral(QStringLiteral("Refresh devices")), card);
    refresh->setFont(QVStyle::font(QVText::Caption));
    refresh->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; color: %1; padding: 0; }")
            .arg(QVStyle::accent().name()));
    refresh->setObjectName(QStringLiteral("refreshDevices"));
    connect(refresh, &QPushButton::clicked, this, [this] {
        if (hardware_) hardware_->refresh();
    });
    card->add(refresh, Qt::AlignLeft);

    micStepper_ = new Stepper(
        0, kHighestChannel,
        [](int channel) { return qvFormat("Mic · channel %lld", static_cast<long long>(channel) + 1); },
        card);
    connect(micStepper_, &Stepper::stepped, this, [this](int channel) {
        if (channel == analyzer_.micChannel()) return;
        analyzer_.setMicChannel(channel);
        analyzer_.stop();
    });
    card->add(micStepper_);

    referenceSwitch_ = new QCheckBox(qvLiteral(QStringLiteral("Electrical reference")), card);
    referenceSwitch_->setObjectName(QStringLiteral("referenceSwitch"));
    QVStyle::setText(referenceSwitch_, QVText::Body);
    connect(referenceSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        if (on == analyzer_.dual()) return;
        analyzer_.setDual(on);
        analyzer_.stop();
    });
    card->add(referenceSwitch_);

    referenceStepper_ = new Stepper(
        0, kHighestChannel,
        [](int channel) { return qvFormat("Reference · channel %lld", static_cast<long long>(channel) + 1); },
        card);
    connect(referenceStepper_, &Stepper::stepped, this, [this](int channel) {
        if (channel == analyzer_.referenceChannel()) return;
        analyzer_.setReferenceChannel(channel);
        analyzer_.stop();
    });
    card->add(referenceStepper_);

    status_ = new QLabel(card);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    QVStyle::setText(status_, QVText::Caption, QVStyle::secondary());
    status_->setMaximumHeight(2 * status_->fontMetrics().lineSpacing() + 2);
    card->add(status_);
}

void AnalyzerView::buildReferenceCard() {
    referenceCard_ = new QVCard;
    referenceCard_->setObjectName(QStringLiteral("referenceCard"));
    addBelow(inputCard_, referenceCard_);
    auto* metrics = new QHBoxLayout;
    referenceCard_->addLayout(metrics);
    path_ = new QVMetric({}, QStringLiteral("Equivalent path · m"), QVStyle::accent(), referenceCard_);
    correlation_ = new QVMetric({}, QStringLiteral("Correlation"), QVStyle::primary(), referenceCard_);
    path_->setObjectName(QStringLiteral("path"));
    correlation_->setObjectName(QStringLiteral("correlation"));
    metrics->addWidget(path_, 1);
    metrics->addWidget(correlation_, 1);

    auto* calibration = new QWidget;
    auto* column = new QVBoxLayout(calibration);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    latencyField_ = new QVNumber(QStringLiteral("Fixed latency"),
                                 {[this] { return analyzer_.calibrationMS(); },
                                  [this](const double& v) { analyzer_.setCalibrationMS(v); }},
                                 QStringLiteral("ms"));
    temperatureField_ = new QVNumber(QStringLiteral("Air temperature"),
                                     {[this] { return analyzer_.temperature(); },
                                      [this](const double& v) { analyzer_.setTemperature(v); }},
                                     QStringLiteral("°C"));
    column->addWidget(latencyField_);
    column->addWidget(temperatureField_);
    referenceCard_->add(new Disclosure(QStringLiteral("Delay calibration"), calibration,
                                       QVStyle::font(QVText::Subheadline), 12));

    auto* note = new QLabel(QStringLiteral("One interface · broadband reference"), referenceCard_);
    QVStyle::setText(note, QVText::Caption, QVStyle::secondary());
    referenceCard_->add(note);
}

void AnalyzerView::buildFooter() {
    auto* footer = new QHBoxLayout;
    footer->setSpacing(6);
    addLayout(footer);
    footer->addWidget(QVIcons::label(QStringLiteral("info.circle"), 12, QVStyle::secondary(), column()));
    auto* text = new QLabel(QStringLiteral("Uncalibrated dBFS · hardware validation pending"), column());
    QVStyle::setText(text, QVText::Caption2, QVStyle::secondary());
    footer->addWidget(text);
    footer->addStretch(1);
}

// ---- actions ----

void AnalyzerView::showEvent(QShowEvent* event) {
    QVPage::showEvent(event);
    if (hardware_) return;
    hardware_ = new InterfacePicker(this);
    inputs_ = new InputPicker(this);
    connect(hardware_, &InterfacePicker::devicesChanged, this, &AnalyzerView::fillInterfaces);
    connect(hardware_, &InterfacePicker::selectedChanged, this, &AnalyzerView::fillInterfaces);
    fillInterfaces();
}

void AnalyzerView::pressStartStop() {
    // A start on its way is given up like a running capture.
    if (analyzer_.running() || analyzer_.starting()) {
        analyzer_.stop();
        return;
    }
    analyzer_.start();  // returns at once; the analyser publishes the outcome
}

void AnalyzerView::chooseInterface(int index) {
    if (!hardware_ || index < 0) return;
    const auto id = static_cast<std::uint32_t>(interfaces_->itemData(index).toULongLong());
    if (id == hardware_->selected()) return;
    hardware_->setSelected(id);
    analyzer_.stop();
    hardware_->save();
}

void AnalyzerView::fillInterfaces() {
    const QSignalBlocker block(interfaces_);
    interfaces_->clear();
    interfaces_->addItem(QStringLiteral("System default"), QVariant::fromValue<qulonglong>(0));
    for (const InterfaceOption& option : hardware_->devices())
        interfaces_->addItem(option.label(), QVariant::fromValue<qulonglong>(option.id));
    const auto selected = QVariant::fromValue<qulonglong>(hardware_->selected());
    // A chosen device that is not listed now (its server stopped, or it was unplugged) stays chosen, by
    // name, and says it cannot be used.
    if (interfaces_->findData(selected) < 0)
        interfaces_->addItem(hardware_->selectedName() + QStringLiteral(" — unavailable"), selected);
    interfaces_->setCurrentIndex(interfaces_->findData(selected));
}

// ---- showing the analyser ----

void AnalyzerView::refreshRunning() {
    const bool running = analyzer_.running();
    const bool stoppable = running || analyzer_.starting();
    liveBadge_->setTitle(running                ? QStringLiteral("Live")
                         : analyzer_.starting() ? QStringLiteral("Starting\u2026")
                                                : QStringLiteral("Mic off"));
    liveBadge_->setColor(running ? QVStyle::accent() : QVStyle::secondary());
    startButton_->setText(qvLiteral(stoppable ? QStringLiteral("Stop") : QStringLiteral("Start mic")));
    startButton_->setIcon(QVIcons::icon(stoppable ? QStringLiteral("stop.fill") : QStringLiteral("mic.fill"),
                                        QVStyle::background()));
}

void AnalyzerView::refreshSpectrum() {
    const std::vector<SpectrumPoint>& spectrum = analyzer_.spectrum();
    plot_->setPoints(points(mode_, spectrum));
    plot_->setEmptyTitle(!spectrum.empty()     ? QString()
                         : analyzer_.running() ? QStringLiteral("Listening…")
                                               : QStringLiteral("Ready to measure"));
    peak_->setValue(peakReadout(spectrum));
}

void AnalyzerView::refreshReadouts() {
    arrival_->setValue(readout(analyzer_.delayMS(), "%.2f"));
    averages_->setValue(qvFormat("%lld", static_cast<long long>(analyzer_.averages())));
    if (!referenceCard_) return;
    path_->setValue(readout(analyzer_.equivalentMeters(), "%.2f"));
    correlation_->setValue(qvFormat("%.2f", analyzer_.correlation()));
}

void AnalyzerView::refreshInputs() {
    micStepper_->setValue(analyzer_.micChannel());
    referenceStepper_->setValue(analyzer_.referenceChannel());
    {
        const QSignalBlocker block(referenceSwitch_);
        referenceSwitch_->setChecked(analyzer_.dual());
    }
    referenceStepper_->setVisible(analyzer_.dual());
    if (analyzer_.dual() && !referenceCard_) {
        buildReferenceCard();
        refreshReadouts();
    }
    if (referenceCard_) referenceCard_->setVisible(analyzer_.dual());
    status_->setText(analyzer_.status());
    status_->setVisible(showsStatus(analyzer_.status()));
    if (referenceCard_) {
        latencyField_->refresh();
        temperatureField_->refresh();
    }
}

void AnalyzerView::refreshFailure() {
    const bool failed = endedByFailure(analyzer_.running(), analyzer_.status());
    failure_->setText(failed ? analyzer_.status() : QString());
    failure_->setVisible(failed);
}

}  // namespace quorvel
