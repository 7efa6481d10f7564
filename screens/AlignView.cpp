#include "screens/AlignView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "dsp/AlignmentDSP.h"
#include "engine/MicAnalyzer.h"
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVFrequencyAxis.h"
#include "kit/QVIcons.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"
#include "kit/QVStyle.h"
#include "library/MeasurementStore.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace {

QString toText(const std::string& s) { return QString::fromStdString(s); }

std::optional<Uuid> idFromData(const QVariant& data) {
    if (!data.isValid() || data.toString().isEmpty()) return std::nullopt;
    return Uuid::parse(data.toString().toStdString());
}

QLineEdit* roundedField(const QString& placeholder, const QString& text) {
    auto* field = new QLineEdit(text);
    field->setPlaceholderText(placeholder);
    field->setStyleSheet(
        QStringLiteral("QLineEdit { background: rgba(255, 255, 255, 15); border: 1px solid "
                       "rgba(255, 255, 255, 30); border-radius: 6px; padding: 4px 6px; }"));
    return field;
}

}  // namespace

AlignView::AlignView(MicAnalyzer& analyzer, MeasurementStore& store, std::function<void()> onOpenMeasure,
                     QWidget* parent)
    : QVPage(QStringLiteral("Alignment"), {}, nullptr, parent),
      analyzer_(analyzer),
      store_(store),
      onOpenMeasure_(std::move(onOpenMeasure)) {
    // Segments in the order of AlignMode.
    modePicker_ = new SegmentedPicker(QStringLiteral("Alignment"),
                                      {QStringLiteral("Speaker delay"), QStringLiteral("Main + sub")});
    connect(modePicker_, &SegmentedPicker::chosen, this,
            [this](int index) { setMode(static_cast<AlignMode>(index)); });
    add(modePicker_);

    buildPlotCard();
    buildCaptureCard();
    buildCompareCard();
    buildResultCard();
    buildSavedCard();

    connect(&analyzer_, &MicAnalyzer::transferChanged, this, &AlignView::refreshPlot);
    connect(&analyzer_, &MicAnalyzer::averagesChanged, this, [this] {
        refreshLegend();
        refreshCapture();
    });
    connect(&analyzer_, &MicAnalyzer::delayMSChanged, this, &AlignView::refreshCapture);
    connect(&analyzer_, &MicAnalyzer::runningChanged, this, &AlignView::refreshCapture);
    connect(&store_, &MeasurementStore::tracesChanged, this, &AlignView::refreshTraces);
    connect(&store_, &MeasurementStore::messageChanged, this, &AlignView::refreshCapture);

    modePicker_->setIndex(int(mode_));
    refreshTraces();
    refreshCapture();
    refreshResult();
}

// ---- pure parts ----

const TransferTrace* AlignView::resolve(const std::vector<TransferTrace>& traces,
                                        const std::optional<Uuid>& id) {
    if (!id) return nullptr;
    for (const TransferTrace& t : traces)
        if (t.id == *id) return &t;
    return nullptr;
}

TransferPlot::Traces AlignView::plots(const std::vector<TransferTrace>& traces, const std::optional<Uuid>& a,
                                      const std::optional<Uuid>& b, TransferField field,
                                      const std::vector<TransferBin>& live) {
    const TransferTrace* first = resolve(traces, a);
    const TransferTrace* second = resolve(traces, b);
    if (!first || !second) return {live};
    if (field == TransferField::phase)
        return {AlignmentDSP::withCompensation(*first), AlignmentDSP::withCompensation(*second)};
    return {first->bins, second->bins};
}

// ---- building ----

void AlignView::buildPlotCard() {
    auto* card = new QVCard({}, nullptr, column());
    // Segments in the order of TransferField.
    fieldPicker_ = new SegmentedPicker(
        QStringLiteral("Plot"),
        {QStringLiteral("Magnitude"), QStringLiteral("Phase"), QStringLiteral("Coherence")}, card);
    fieldPicker_->setIndex(int(field_));
    connect(fieldPicker_, &SegmentedPicker::chosen, this,
            [this](int index) { setField(static_cast<TransferField>(index)); });
    card->add(fieldPicker_);
    plot_ = new TransferPlot({}, field_, kThreshold, card);
    card->add(plot_);
    card->add(new QVFrequencyAxis(card));

    auto* legend = new QHBoxLayout;
    firstBadge_ = new QVBadge(QStringLiteral("Live"), QVStyle::accent(), card);
    secondBadge_ = new QVBadge({}, ScreenColors::orange(), card);
    firstBadge_->setObjectName(QStringLiteral("firstBadge"));
    secondBadge_->setObjectName(QStringLiteral("secondBadge"));
    averagesLabel_ = new QLabel(card);
    QVStyle::setText(averagesLabel_, QVText::Caption, QVStyle::secondary());
    legend->addWidget(firstBadge_);
    legend->addWidget(secondBadge_);
    legend->addStretch(1);
    legend->addWidget(averagesLabel_);
    card->addLayout(legend);
    add(card);
}

void AlignView::buildCaptureCard() {
    auto* card = new QVCard(QStringLiteral("Capture"), nullptr, column());
    auto* row = new QHBoxLayout;
    nameField_ = roundedField(QStringLiteral("Trace name"), name_);
    connect(nameField_, &QLineEdit::textEdited, this, [this](const QString& text) { name_ = text; });
    row->addWidget(nameField_, 1);
    saveButton_ = new QPushButton(QVIcons::icon(QStringLiteral("camera"), QVStyle::background()),
                                  qvLiteral(QStringLiteral("Save")));
    saveButton_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                       " padding: 5px 12px; font-weight: 600; }"
                       "QPushButton:disabled { background: rgba(255, 255, 255, 25); color: %3; }")
            .arg(QVStyle::accent().name(), QVStyle::background().name(), QVStyle::secondary().name()));
    saveButton_->setObjectName(QStringLiteral("save"));
    connect(saveButton_, &QPushButton::clicked, this, &AlignView::save);
    row->addWidget(saveButton_);
    card->addLayout(row);

    setUpButton_ = new QPushButton(QVIcons::icon(QStringLiteral("mic"), QVStyle::accent()),
                                   qvLiteral(QStringLiteral("Set up measurement")));
    setUpButton_->setObjectName(QStringLiteral("setUp"));
    setUpButton_->setFlat(true);
    setUpButton_->setFont(QVStyle::font(QVText::Subheadline));
    setUpButton_->setStyleSheet(
        QStringLiteral("QPushButton { border: none; background: transparent; color: %1;"
                       " text-align: left; padding: 0; }")
            .arg(QVStyle::accent().name()));
    connect(setUpButton_, &QPushButton::clicked, this, [this] {
        if (onOpenMeasure_) onOpenMeasure_();
    });
    card->add(setUpButton_, Qt::AlignLeft);

    storeMessage_ = new QLabel;
    storeMessage_->setObjectName(QStringLiteral("storeMessage"));
    storeMessage_->setWordWrap(true);
    QVStyle::setText(storeMessage_, QVText::Caption, QVStyle::secondary());
    storeMessage_->setMaximumHeight(2 * storeMessage_->fontMetrics().lineSpacing() + 2);
    card->add(storeMessage_);

    auto* group = new Disclosure(QStringLiteral("Capture context"), nullptr,
                                 QVStyle::font(QVText::Subheadline), 10, card);
    auto* context = new QWidget(group->body());
    auto* column = new QVBoxLayout(context);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    auto* positionField = roundedField(QStringLiteral("Mic position"), position_);
    connect(positionField, &QLineEdit::textEdited, this, [this](const QString& text) { position_ = text; });
    auto* setupField = roundedField(QStringLiteral("Reference setup"), setup_);
    connect(setupField, &QLineEdit::textEdited, this, [this](const QString& text) { setup_ = text; });
    column->addWidget(positionField);
    column->addWidget(setupField);
    group->setContent(context);
    card->add(group);
    add(card);
}

void AlignView::buildCompareCard() {
    auto* card = new QVCard(QStringLiteral("Compare"), nullptr, column());
    auto picker = [card](QLabel*& title, QComboBox*& box) {
        auto* row = new QHBoxLayout;
        title = new QLabel(card);
        QVStyle::setText(title, QVText::Body);
        box = new PopupPicker(card);
        box->setMinimumWidth(220);
        row->addWidget(title);
        row->addStretch(1);
        row->addWidget(box);
        card->addLayout(row);
    };
    picker(pickerTitleA_, pickerA_);
    picker(pickerTitleB_, pickerB_);
    pickerA_->setObjectName(QStringLiteral("pickerA"));
    pickerB_->setObjectName(QStringLiteral("pickerB"));
    connect(pickerA_, &QComboBox::currentIndexChanged, this,
            [this](int index) { setA(idFromData(pickerA_->itemData(index))); });
    connect(pickerB_, &QComboBox::currentIndexChanged, this,
            [this](int index) { setB(idFromData(pickerB_->itemData(index))); });

    bandRow_ = new QWidget(card);
    auto* band = new QHBoxLayout(bandRow_);
    band->setContentsMargins(0, 0, 0, 0);
    lowField_ =
        new QVNumber(QStringLiteral("Low"), {[this] { return low_; }, [this](const double& v) { setLow(v); }},
                     QStringLiteral("Hz"), bandRow_);
    highField_ = new QVNumber(QStringLiteral("High"),
                              {[this] { return high_; }, [this](const double& v) { setHigh(v); }},
                              QStringLiteral("Hz"), bandRow_);
    band->addWidget(lowField_);
    band->addWidget(highField_);
    card->add(bandRow_);

    findButton_ = new QVAction(
        {}, QStringLiteral("arrow.left.and.right"), true, [this] { find(); }, card);
    findButton_->setObjectName(QStringLiteral("find"));
    card->add(findButton_);
    messageLabel_ = new QLabel(card);
    messageLabel_->setObjectName(QStringLiteral("compareMessage"));
    messageLabel_->setWordWrap(true);
    QVStyle::setText(messageLabel_, QVText::Caption, ScreenColors::orange());
    card->add(messageLabel_);
    add(card);
}

void AlignView::buildResultCard() {
    resultCard_ = new QVCard({}, nullptr, column());
    resultCard_->setObjectName(QStringLiteral("resultCard"));
    auto* badges = new QHBoxLayout;
    badges->addWidget(new QVBadge(QStringLiteral("Starting candidate"), ScreenColors::orange()));
    invertBadge_ = new QVBadge(QStringLiteral("Invert sub"), ScreenColors::orange());
    badges->addWidget(invertBadge_);
    badges->addStretch(1);
    resultCard_->addLayout(badges);
    resultMetric_ = new QVMetric({}, {}, QVStyle::accent());
    resultMetric_->setObjectName(QStringLiteral("resultMetric"));
    resultCard_->add(resultMetric_);
    auto* apply = new QLabel(QStringLiteral("Apply in your processor, then verify both together."));
    apply->setWordWrap(true);
    QVStyle::setText(apply, QVText::Subheadline);
    resultCard_->add(apply);
    noteLabel_ = new QLabel;
    noteLabel_->setWordWrap(true);
    QVStyle::setText(noteLabel_, QVText::Caption, QVStyle::secondary());
    resultCard_->add(
        new Disclosure(QStringLiteral("Candidate details"), noteLabel_, QVStyle::font(QVText::Body), 8));
    add(resultCard_);
}

void AlignView::buildSavedCard() {
    savedCard_ = new QVCard({}, nullptr, column());
    savedCard_->setObjectName(QStringLiteral("savedCard"));
    savedGroup_ = new Disclosure({}, nullptr, QVStyle::font(QVText::Body), 0, savedCard_);
    auto* rows = new QWidget(savedGroup_->body());
    savedRows_ = new QVBoxLayout(rows);
    savedRows_->setContentsMargins(0, 0, 0, 0);
    savedRows_->setSpacing(0);
    savedGroup_->setContent(rows);
    savedGroup_->setObjectName(QStringLiteral("savedGroup"));
    savedCard_->add(savedGroup_);
    add(savedCard_);
}

// ---- the user's changes ----

void AlignView::clearResult() {
    result_.reset();
    refreshResult();
}

void AlignView::setMode(AlignMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    modePicker_->setIndex(int(mode_));
    clearResult();
    refreshCompare();
}

void AlignView::setField(TransferField field) {
    if (field == field_) return;
    field_ = field;
    fieldPicker_->setIndex(int(field_));
    refreshPlot();
}

void AlignView::setA(std::optional<Uuid> id) {
    if (id == a_) return;
    a_ = id;
    clearResult();
    refreshTraces();
}

void AlignView::setB(std::optional<Uuid> id) {
    if (id == b_) return;
    b_ = id;
    clearResult();
    refreshTraces();
}

void AlignView::setLow(double hz) {
    if (hz == low_) return;
    low_ = hz;
    lowField_->refresh();
    clearResult();
}

void AlignView::setHigh(double hz) {
    if (hz == high_) return;
    high_ = hz;
    highField_->refresh();
    clearResult();
}

void AlignView::save() {
    // The store makes the full check and reports the outcome in its message.
    store_.capture(analyzer_, name_, position_, setup_);
}

void AlignView::find() {
    result_.reset();
    const TransferTrace* first = resolve(store_.traces(), a_);
    const TransferTrace* second = resolve(store_.traces(), b_);
    if (first && second)
        result_ = subMode() ? AlignmentDSP::sub(*first, *second, low_, high_, kThreshold)
                            : AlignmentDSP::arrival(*first, *second);
    message_ = result_ ? QString() : QStringLiteral("Choose compatible, coherent traces.");
    refreshCompare();
    refreshResult();
}

void AlignView::remove(const Uuid& id) {
    std::vector<TransferTrace> kept;
    for (const TransferTrace& t : store_.traces())
        if (t.id != id) kept.push_back(t);
    store_.setTraces(std::move(kept));
    store_.save();  // a failure shows in the store's message
    clearResult();
}

// ---- showing the state ----

void AlignView::refreshPlot() {
    plot_->setField(field_);
    plot_->setTraces(plots(store_.traces(), a_, b_, field_, analyzer_.transfer()));
}

void AlignView::refreshLegend() {
    const TransferTrace* first = resolve(store_.traces(), a_);
    const TransferTrace* second = resolve(store_.traces(), b_);
    firstBadge_->setTitle(first ? toText(first->name) : QStringLiteral("Live"));
    secondBadge_->setVisible(second != nullptr);
    if (second) secondBadge_->setTitle(toText(second->name));
    averagesLabel_->setText(qvFormat("%lld averages", static_cast<long long>(analyzer_.averages())));
}

void AlignView::refreshCapture() {
    saveButton_->setEnabled(canSave(analyzer_.delayMS(), analyzer_.averages()));
    setUpButton_->setVisible(!analyzer_.running());
    storeMessage_->setText(store_.message());
    storeMessage_->setVisible(!store_.message().isEmpty());
}

void AlignView::fillPicker(QComboBox* picker, const std::optional<Uuid>& chosen) {
    const QSignalBlocker block(picker);
    picker->clear();
    picker->addItem(QStringLiteral("Choose trace"), QString());
    int current = chosen ? -1 : 0;  // an id that no longer resolves leaves nothing chosen
    for (const TransferTrace& t : store_.traces()) {
        picker->addItem(toText(t.name), QString::fromStdString(t.id.toString()));
        if (current < 0 && chosen && t.id == *chosen) current = picker->count() - 1;
    }
    picker->setCurrentIndex(current);
}

void AlignView::refreshTraces() {
    fillPicker(pickerA_, a_);
    fillPicker(pickerB_, b_);

    const std::vector<TransferTrace>& traces = store_.traces();
    savedCard_->setVisible(!traces.empty());
    savedGroup_->setTitle(qvFormat("Saved traces · %lld", static_cast<long long>(traces.size())));
    clearLayout(savedRows_);
    for (const TransferTrace& t : traces) {
        auto* row = new QWidget;
        row->setObjectName(QStringLiteral("savedTrace"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 8, 0, 8);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(3);
        auto* name = new QLabel(toText(t.name));
        QVStyle::setText(name, QVText::Subheadline, QVStyle::primary(), QFont::Medium);
        auto* detail =
            new QLabel(qvFormat("%.2f", t.arrivalMS) + QStringLiteral(" ms · ") + toText(t.position));
        detail->setObjectName(QStringLiteral("savedDetail"));
        QVStyle::setText(detail, QVText::Caption, QVStyle::secondary());
        texts->addWidget(name);
        texts->addWidget(detail);
        line->addLayout(texts);
        line->addStretch(1);
        const Uuid id = t.id;
        QToolButton* trash = QVIcons::button(QStringLiteral("trash"), 16, QVStyle::secondary(),
                                             QStringLiteral("Remove ") + toText(t.name));
        connect(trash, &QToolButton::clicked, this, [this, id] { remove(id); });
        line->addWidget(trash);
        savedRows_->addWidget(row);
    }
    refreshCompare();
    refreshLegend();
    refreshPlot();
}

void AlignView::refreshCompare() {
    const bool sub = subMode();
    pickerTitleA_->setText(sub ? QStringLiteral("Main") : QStringLiteral("Speaker A"));
    pickerTitleB_->setText(sub ? QStringLiteral("Sub") : QStringLiteral("Speaker B"));
    bandRow_->setVisible(sub);
    findButton_->setTitle(sub ? QStringLiteral("Find sub alignment") : QStringLiteral("Find speaker delay"));
    findButton_->setEnabled(resolve(store_.traces(), a_) && resolve(store_.traces(), b_));
    messageLabel_->setText(message_);
    messageLabel_->setVisible(!message_.isEmpty());
}

void AlignView::refreshResult() {
    resultCard_->setVisible(result_.has_value());
    if (!result_) return;
    invertBadge_->setVisible(result_->invertPolarity);
    resultMetric_->setValue(qvFormat("%.2f ms", result_->delayMS));
    resultMetric_->setLabel(QStringLiteral("Add delay to ") + toText(result_->target));
    noteLabel_->setText(toText(result_->note));
}

}  // namespace quorvel
