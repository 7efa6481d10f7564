#pragma once
// The saved transfer traces and their file, "measurements.json" in the storage folder: loaded once at
// construction, rewritten whole and atomically after every change. Main thread only.
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dsp/TransferTypes.h"

namespace quorvel {

class MicAnalyzer;

// The live analysis values that a capture reads; the analyser fills one from its published state.
struct CaptureSource {
    bool running = false;
    std::optional<ReferenceDate> lastUpdated;  // time of the last published result, seconds since 2001
    std::optional<double> delayMS;             // arrival delay; absent when untrustworthy
    std::vector<TransferBin> transfer;
    int averages = 0;
    double sampleRate = 0;  // Hz
    double compensationMS = 0;
    int captureMicChannel = 0;        // 0-based
    int captureReferenceChannel = 0;  // 0-based
    std::string hardwareIdentity;
};

class MeasurementStore : public QObject {
    Q_OBJECT
public:
    // Seconds since 2001-01-01 UTC, for the capture gates and time stamps.
    using Clock = std::function<ReferenceDate()>;

    // Creates the storage folder and loads the file. A file that fails to decode is copied aside as
    // "measurements.unreadable-<UTC time>.json" before any save can replace it.
    explicit MeasurementStore(QObject* parent = nullptr);
    MeasurementStore(Clock clock, QObject* parent = nullptr);

    // Saved traces in capture order.
    const std::vector<TransferTrace>& traces() const { return traces_; }
    // Replaces the list (screens delete traces this way), then the screen calls save().
    void setTraces(std::vector<TransferTrace> traces);

    // The last result or failure text.
    const QString& message() const { return message_; }

    // Path of the measurements file.
    const QString& url() const { return url_; }

    // Writes `traces` to the file atomically. On failure the message says why and the list is kept.
    bool save();

    // Appends a trace made from `source` and saves, when the source holds a fresh, complete result
    // (running, under 2.0 s old, with a delay, bins, at least 3 averages and two different channels) and
    // `name` is not blank. `name`, `position` and `setup` are stored as typed. Reports through `message`.
    void capture(const CaptureSource& source, const QString& name, const QString& position,
                 const QString& setup);
    // The same with the analyser's current result and capture conditions.
    void capture(const MicAnalyzer& analyzer, const QString& name, const QString& position,
                 const QString& setup);

signals:
    void tracesChanged();
    void messageChanged();

private:
    void load();
    void setMessage(const QString& message);
    bool failSave(const QString& description);

    Clock clock_;
    std::vector<TransferTrace> traces_;
    QString message_;
    QString url_;
    // The file on disk failed to decode and has not been copied aside yet: it must not be overwritten.
    bool unreadableNotKept_ = false;
};

}  // namespace quorvel
