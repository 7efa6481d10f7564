#include "screens/TrackSettingsEditor.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <algorithm>
#include <cmath>

#include "kit/QVAction.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVNumber.h"
#include "kit/QVPage.h"
#include "kit/QVStyle.h"

namespace quorvel {

namespace {

// The slider works in hundredths of a dB, fine enough to feel continuous.
constexpr int kTrimSteps = 100;

}  // namespace

TrackSettingsEditor::TrackSettingsEditor(const ReferenceTrack& track,
                                         std::function<void(const ReferenceTrack&)> save, QWidget* parent)
    : Sheet(new QVPage(QStringLiteral("Cue & loop"), track.displayTitle()), QSize(420, 420), parent),
      track_(track),
      save_(std::move(save)) {
    setWindowTitle(QStringLiteral("Cue & loop"));
    addCancel(QStringLiteral("Cancel"));

    auto* card = new QVCard;
    start_ = new QVNumber(QStringLiteral("Start"),
                          {[this] { return track_.cueIn; }, [this](double v) { track_.cueIn = v; }},
                          QStringLiteral("sec"));
    end_ = new QVNumber(QStringLiteral("End \u00b7 0 = full track"),
                        {[this] { return track_.cueOut; }, [this](double v) { track_.cueOut = v; }},
                        QStringLiteral("sec"));
    card->add(start_);
    card->add(end_);

    loop_ = new QCheckBox(qvLiteral(QStringLiteral("Loop this section")));
    QVStyle::setText(loop_, QVText::Body);
    loop_->setChecked(track_.loop);
    connect(loop_, &QCheckBox::toggled, this, [this](bool on) { track_.loop = on; });
    card->add(loop_);

    auto* trimRow = new QHBoxLayout;
    auto* trimLabel = new QLabel(QStringLiteral("Trim"));
    QVStyle::setText(trimLabel, QVText::Body);
    trim_ = new QSlider(Qt::Horizontal);
    trim_->setRange(int(kTrimMinDB) * kTrimSteps, int(kTrimMaxDB) * kTrimSteps);
    trim_->setSingleStep(kTrimSteps / 10);
    trim_->setPageStep(kTrimSteps);
    // A stored trim outside the slider's range only shows at the slider's end; it is kept unless the
    // user moves the slider, so the signal is connected after the initial position is set.
    const double shown =
        std::isfinite(track_.trimDB) ? std::clamp(track_.trimDB, kTrimMinDB, kTrimMaxDB) : 0.0;
    trim_->setValue(int(std::lround(shown * kTrimSteps)));
    trimReadout_ = new QLabel(trimText(track_.trimDB));
    trimReadout_->setFont(QVStyle::monospaceFont(QVText::Caption));
    connect(trim_, &QSlider::valueChanged, this, [this](int steps) {
        track_.trimDB = double(steps) / kTrimSteps;
        trimReadout_->setText(trimText(track_.trimDB));
    });
    trimRow->addWidget(trimLabel);
    trimRow->addWidget(trim_, 1);
    trimRow->addWidget(trimReadout_);
    card->addLayout(trimRow);

    saveButton_ =
        new QVAction(QStringLiteral("Save"), QStringLiteral("checkmark"), true, [this] { saveAndClose(); });
    card->add(saveButton_);
    page()->add(card);
}

QString TrackSettingsEditor::trimText(double trimDB) {
    // Stored trims come from the playlists file, so bound them before the integer conversion.
    const double whole = std::isfinite(trimDB) ? std::trunc(std::clamp(trimDB, -1e15, 1e15)) : 0.0;
    return qvFormat("%lld dB", static_cast<long long>(whole));
}

void TrackSettingsEditor::saveAndClose() {
    // A number typed but not yet committed (no Return, focus still in the field) counts too.
    start_->field()->clearFocus();
    end_->field()->clearFocus();
    if (save_) save_(track_);
    accept();
}

}  // namespace quorvel
