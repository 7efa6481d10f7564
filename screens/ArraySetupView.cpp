#include "screens/ArraySetupView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <limits>

#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVIcons.h"
#include "kit/QVMetric.h"
#include "kit/QVNumber.h"
#include "kit/QVStyle.h"
#include "screens/ScreenControls.h"

namespace quorvel {

namespace {

const char* const kEndFire = "End-fire";
const char* const kGradient = "Gradient";
// The stored kinds, in the order of the layout picker's segments.
const QString kKinds[] = {QString::fromUtf8(kEndFire), QString::fromUtf8(kGradient)};

// The speaker symbol of one element on its rounded tile, as wide as the column and 82 px high.
class SpeakerTile final : public QWidget {
public:
    SpeakerTile(const QColor& color, QWidget* parent) : QWidget(parent), color_(color) {
        setFixedHeight(82);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath tile;
        tile.addRoundedRect(QRectF(rect()), 15, 15);
        p.fillPath(tile, QColor::fromRgbF(1, 1, 1, 0.04f));
        const int side = 38;
        const QPixmap symbol =
            QVIcons::pixmap(QStringLiteral("speaker.fill"), side, color_, devicePixelRatioF());
        p.drawPixmap(QPointF((width() - side) / 2.0, (height() - side) / 2.0), symbol);
    }

private:
    QColor color_;
};

// A stored setting is used only when the page's control could have set it; anything else (a count the
// stepper does not reach, an unknown label, a number the field does not take) reads as absent.
QString readChoice(const QSettings& s, const char* key, const QStringList& offered) {
    const QString stored = s.value(key).toString();
    return offered.contains(stored) ? stored : offered.front();
}

int readInt(const QSettings& s, const char* key, int low, int high, int fallback) {
    bool ok = false;
    const int v = s.value(key).toInt(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

double readNumber(const QSettings& s, const char* key, double low, double high, double fallback) {
    bool ok = false;
    const double v = s.value(key).toDouble(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

void store(const char* key, const QVariant& value) { QSettings().setValue(key, value); }

}  // namespace

const QStringList& ArraySetupView::models() {
    static const QStringList list{QStringLiteral("Meyer 700-HP"), QStringLiteral("Meyer 600-HP"),
                                  QStringLiteral("Custom matched subs")};
    return list;
}

const QStringList& ArraySetupView::checklist() {
    static const QStringList list{QStringLiteral("Match presets, gains & patch"),
                                  QStringLiteral("Measure each sub separately"),
                                  QStringLiteral("Apply starting delay & polarity"),
                                  QStringLiteral("Check front summation"),
                                  QStringLiteral("Check rear rejection"),
                                  QStringLiteral("Refine and re-measure"),
                                  QStringLiteral("Align the array to mains"),
                                  QStringLiteral("Verify other audience positions")};
    return list;
}

ArraySetupView::ArraySetupView(QWidget* parent) : QVPage(QStringLiteral("Sub arrays"), {}, nullptr, parent) {
    const QSettings settings;
    model_ = readChoice(settings, modelKey, models());
    kind_ = readChoice(settings, kindKey, {kKinds[0], kKinds[1]});
    count_ = readInt(settings, countKey, countLow, countHigh, 2);
    spacing_ = readNumber(settings, spacingKey, std::numeric_limits<double>::lowest(),
                          std::numeric_limits<double>::max(), 1.2);
    temperature_ = readNumber(settings, temperatureKey, temperatureLow, temperatureHigh, 20.0);

    kindPicker_ = new SegmentedPicker(
        QStringLiteral("Layout"), {QStringLiteral("End-fire"), QStringLiteral("Cardioid pair")}, column());
    connect(kindPicker_, &SegmentedPicker::chosen, this, [this](int index) { setKind(kKinds[index]); });
    add(kindPicker_);

    buildDiagram();
    buildLayoutCard();
    buildProcessorCard();
    buildChecklist();
    refresh();
}

void ArraySetupView::buildDiagram() {
    auto* card = new QVCard({}, nullptr, column());
    auto* header = new QHBoxLayout;
    header->addWidget(new QVBadge(QStringLiteral("Calculated starting point"), ScreenColors::orange(), card));
    header->addStretch(1);
    // The audience is to the right of the drawing: the rear element stands at the left.
    auto* audience = new QHBoxLayout;
    audience->setSpacing(4);
    auto* audienceText = new QLabel(QStringLiteral("Audience"), card);
    QVStyle::setText(audienceText, QVText::Caption, QVStyle::secondary());
    audience->addWidget(audienceText);
    audience->addWidget(QVIcons::label(QStringLiteral("arrow.right"), 12, QVStyle::secondary(), card));
    header->addLayout(audience);
    card->addLayout(header);

    auto* rowHolder = new QWidget(card);
    elementRow_ = new QHBoxLayout(rowHolder);
    elementRow_->setContentsMargins(0, 12, 0, 12);
    elementRow_->setSpacing(8);
    card->add(rowHolder);

    quarterWave_ = new QVMetric({}, QStringLiteral("Quarter-wave design frequency"), QVStyle::accent(), card);
    quarterWave_->setObjectName(QStringLiteral("quarterWave"));
    card->add(quarterWave_);
    add(card);
}

void ArraySetupView::buildLayoutCard() {
    auto* card = new QVCard(QStringLiteral("Layout"), nullptr, column());

    auto* modelRow = new QHBoxLayout;
    auto* modelLabel = new QLabel(QStringLiteral("Subwoofer"), card);
    QVStyle::setText(modelLabel, QVText::Body);
    modelRow->addWidget(modelLabel);
    modelRow->addStretch(1);
    modelPicker_ = new QComboBox(card);
    modelPicker_->addItems(models());
    connect(modelPicker_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0) setModel(models().at(index));
    });
    modelRow->addWidget(modelPicker_);
    card->addLayout(modelRow);

    countStepper_ = new Stepper(
        countLow, countHigh, [](int n) { return qvFormat("%lld subs", static_cast<long long>(n)); }, card);
    connect(countStepper_, &Stepper::stepped, this, &ArraySetupView::setCount);
    card->add(countStepper_);

    spacingField_ = new QVNumber(QStringLiteral("Center spacing"),
                                 {[this] { return spacing_; }, [this](const double& v) { setSpacing(v); }},
                                 QStringLiteral("m"), card);
    card->add(spacingField_);

    auto* group = new Disclosure(QStringLiteral("Temperature & patch"), nullptr,
                                 QVStyle::font(QVText::Subheadline), 12, card);
    auto* patch = new QWidget(group->body());
    auto* patchColumn = new QVBoxLayout(patch);
    patchColumn->setContentsMargins(0, 0, 0, 0);
    patchColumn->setSpacing(12);
    temperatureField_ =
        new QVNumber(QStringLiteral("Temperature"),
                     {[this] { return temperature_; }, [this](const double& v) { setTemperature(v); }},
                     QStringLiteral("°C"), patch);
    patchColumn->addWidget(temperatureField_);
    outputStepper_ = new Stepper(
        outputStartLow, outputStartHigh,
        [](int n) { return qvFormat("First output · %lld", static_cast<long long>(n)); }, patch);
    connect(outputStepper_, &Stepper::stepped, this, &ArraySetupView::setOutputStart);
    patchColumn->addWidget(outputStepper_);
    group->setContent(patch);
    card->add(group);
    add(card);
}

void ArraySetupView::buildProcessorCard() {
    auto* card = new QVCard(QStringLiteral("Processor starting settings"), nullptr, column());
    auto* rows = new QWidget(card);
    processorRows_ = new QVBoxLayout(rows);
    processorRows_->setContentsMargins(0, 0, 0, 0);
    processorRows_->setSpacing(0);
    card->add(rows);
    auto* note = new QLabel(QStringLiteral("Ideal-source model · verify with measurements"), card);
    QVStyle::setText(note, QVText::Caption, QVStyle::secondary());
    card->add(note);
    add(card);
}

void ArraySetupView::buildChecklist() {
    auto* card = new QVCard({}, nullptr, column());
    verify_ = new Disclosure({}, nullptr, QVStyle::font(QVText::Subheadline, QFont::Medium), 14, card);
    auto* steps = new QWidget(verify_->body());
    auto* column = new QVBoxLayout(steps);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    for (int i = 0; i < checklist().size(); ++i) {
        auto* button = new QPushButton(qvLiteral(checklist().at(i)), steps);
        button->setFlat(true);
        button->setIconSize(QSize(18, 18));
        button->setFont(QVStyle::font(QVText::Subheadline));
        button->setStyleSheet(QStringLiteral("QPushButton { text-align: left; border: none; padding: 0;"
                                             " background: transparent; color: %1; }")
                                  .arg(QVStyle::primary().name()));
        connect(button, &QPushButton::clicked, this, [this, i] { toggleStep(i); });
        column->addWidget(button);
        stepButtons_.push_back(button);
    }
    verify_->setContent(steps);
    verify_->setObjectName(QStringLiteral("verify"));
    card->add(verify_);
    add(card);
}

void ArraySetupView::setModel(const QString& model) {
    if (model == model_) return;
    model_ = model;
    store(modelKey, model_);
    refresh();
}

void ArraySetupView::setKind(const QString& kind) {
    if (kind == kind_) return;
    kind_ = kind;
    store(kindKey, kind_);
    steps_.clear();
    refresh();
}

void ArraySetupView::setCount(int count) {
    if (count == count_) return;
    count_ = count;
    store(countKey, count_);
    steps_.clear();
    refresh();
}

void ArraySetupView::setSpacing(double metres) {
    if (metres == spacing_) return;
    spacing_ = metres;
    store(spacingKey, spacing_);
    steps_.clear();
    refresh();
}

void ArraySetupView::setTemperature(double celsius) {
    // Out of the field's range: the field shows the temperature it had.
    if (celsius == temperature_ || !(celsius >= temperatureLow && celsius <= temperatureHigh)) return;
    temperature_ = celsius;
    store(temperatureKey, temperature_);
    refresh();
}

void ArraySetupView::setOutputStart(int output) {
    if (output == outputStart_) return;
    outputStart_ = output;
    refresh();
}

void ArraySetupView::toggleStep(int index) {
    if (!steps_.erase(index)) steps_.insert(index);
    refreshChecklist();
}

double ArraySetupView::speedOfSound() const { return ArrayMath::speedOfSound(temperature_); }

std::vector<ArrayElement> ArraySetupView::elements() const {
    return ArrayMath::layout(kind_.toStdString(), count_, spacing_, temperature_);
}

std::optional<double> ArraySetupView::quarterWaveHz() const {
    const double c = speedOfSound();
    if (!(spacing_ > 0) || !(c > 0)) return std::nullopt;
    return c / (4 * spacing_);
}

void ArraySetupView::refresh() {
    // Controls show the settings; none of these calls reports a change back.
    kindPicker_->setIndex(indexIn(kKinds, kind_));  // -1: a kind not offered
    {
        const QSignalBlocker block(modelPicker_);
        modelPicker_->setCurrentIndex(int(models().indexOf(model_)));  // -1: a label not offered
    }
    countStepper_->setValue(count_);
    countStepper_->setVisible(kind_ == QString::fromUtf8(kEndFire));
    spacingField_->refresh();
    temperatureField_->refresh();
    outputStepper_->setValue(outputStart_);

    const std::vector<ArrayElement> list = elements();
    clearLayout(elementRow_);
    clearLayout(processorRows_);
    for (const ArrayElement& e : list) {
        const QColor tint = e.inverted ? ScreenColors::orange() : QVStyle::accent();
        const long long output = static_cast<long long>(outputStart_) + e.id;

        auto* column = new QWidget(elementRow_->parentWidget());
        auto* stack = new QVBoxLayout(column);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(10);
        stack->addWidget(new SpeakerTile(tint, column));
        auto* position = new QLabel(qvFormat("%.1f m", e.position), column);
        position->setObjectName(QStringLiteral("elementPosition"));
        QVStyle::setText(position, QVText::Caption, QVStyle::secondary());
        position->setFont(QVStyle::monospaceFont(QVText::Caption));
        position->setAlignment(Qt::AlignHCenter);
        stack->addWidget(position);
        auto* out = new QLabel(qvFormat("OUT %lld", output), column);
        out->setObjectName(QStringLiteral("elementOutput"));
        QVStyle::setText(out, QVText::Caption2, tint, QFont::Bold);
        out->setAlignment(Qt::AlignHCenter);
        stack->addWidget(out);
        elementRow_->addWidget(column, 1);

        auto* row = new QWidget(processorRows_->parentWidget());
        row->setObjectName(QStringLiteral("processorRow"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 4, 0, 4);
        auto* names = new QVBoxLayout;
        names->setSpacing(4);
        auto* outputName = new QLabel(qvFormat("Output %lld", output), row);
        outputName->setObjectName(QStringLiteral("output"));
        QVStyle::setText(outputName, QVText::Subheadline, QVStyle::primary(), QFont::Medium);
        auto* label = new QLabel(QString::fromStdString(e.label), row);
        label->setObjectName(QStringLiteral("label"));
        QVStyle::setText(label, QVText::Caption, QVStyle::secondary());
        names->addWidget(outputName);
        names->addWidget(label);
        line->addLayout(names);
        line->addStretch(1);
        auto* delay = new QLabel(qvFormat("%.2f ms", e.delayMS), row);
        delay->setObjectName(QStringLiteral("delay"));
        QVStyle::setText(delay, QVText::Body, QVStyle::accent());
        delay->setFont(QVStyle::monospaceFont(QVText::Body));
        line->addWidget(delay);
        auto* polarity = new QVBadge(e.inverted ? QStringLiteral("\u2212") : QStringLiteral("+"), tint, row);
        polarity->setObjectName(QStringLiteral("polarity"));
        line->addWidget(polarity);
        processorRows_->addWidget(row);
    }

    const std::optional<double> quarter = quarterWaveHz();
    quarterWave_->setVisible(quarter.has_value());
    if (quarter) quarterWave_->setValue(qvFormat("%.0f Hz", *quarter));
    refreshChecklist();
}

void ArraySetupView::refreshChecklist() {
    verify_->setTitle(qvFormat("Verify · %lld/%lld", static_cast<long long>(steps_.size()),
                               static_cast<long long>(checklist().size())));
    for (std::size_t i = 0; i < stepButtons_.size(); ++i) {
        const bool ticked = steps_.count(int(i)) > 0;
        stepButtons_[i]->setIcon(
            ticked ? QVIcons::icon(QStringLiteral("checkmark.circle.fill"), QVStyle::accent())
                   : QVIcons::icon(QStringLiteral("circle"), QVStyle::secondary()));
    }
}

}  // namespace quorvel
