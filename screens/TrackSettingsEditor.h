#pragma once
// The "Cue & loop" sheet of one reference track: start, end (0 = the whole file), loop and level trim.
// It edits a private copy; "Save" hands the copy to the caller's save action and closes, "Cancel" (or
// closing the sheet any other way) drops it. Values are not checked against each other or against the
// file: playback decides what they mean. Main thread only.
#include <functional>

#include "library/ReferenceTrack.h"
#include "screens/Sheet.h"

class QCheckBox;
class QLabel;
class QSlider;

namespace quorvel {

class QVAction;
class QVNumber;

class TrackSettingsEditor : public Sheet {
    Q_OBJECT
public:
    static constexpr double kTrimMinDB = -24;
    static constexpr double kTrimMaxDB = 0;

    TrackSettingsEditor(const ReferenceTrack& track, std::function<void(const ReferenceTrack&)> save,
                        QWidget* parent = nullptr);

    // The copy as edited so far.
    const ReferenceTrack& track() const { return track_; }

    // The trim read-out: whole dB, truncated toward zero ("-6 dB" for -6.5, "0 dB" for -0.4).
    static QString trimText(double trimDB);

    QVNumber* startField() const { return start_; }
    QVNumber* endField() const { return end_; }
    QCheckBox* loopToggle() const { return loop_; }
    QSlider* trimSlider() const { return trim_; }
    QLabel* trimReadout() const { return trimReadout_; }
    QVAction* saveButton() const { return saveButton_; }

private:
    void saveAndClose();

    ReferenceTrack track_;
    std::function<void(const ReferenceTrack&)> save_;
    QVNumber* start_ = nullptr;
    QVNumber* end_ = nullptr;
    QCheckBox* loop_ = nullptr;
    QSlider* trim_ = nullptr;
    QLabel* trimReadout_ = nullptr;
    QVAction* saveButton_ = nullptr;
};

}  // namespace quorvel
