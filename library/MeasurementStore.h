#pragma once
// The saved transfer traces and their file, "measurements.json" in the storage folder: loaded once,
// rewritten whole and atomically after every change. A hundred traces make a file of about 80 MB, so the
// file is read and written on the stores' worker (SerialWorker::files()), a piece at a time each way; the
// list and the messages live on the main thread. Main thread only.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
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
    Q_PROPERTY(std::vector<TransferTrace> traces READ traces WRITE setTraces NOTIFY tracesChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    // Seconds since 2001-01-01 UTC, for the capture gates and time stamps.
    using Clock = std::function<ReferenceDate()>;
    // When the file is read: before the constructor returns, or on the worker, so that a large file does
    // not hold up the window; its traces (and a load failure) are published when it has been read.
    enum class Loading { now, inBackground };

    // Creates the storage folder and loads the file. A file that fails to decode, for any reason, is
    // copied aside as "measurements.unreadable-<UTC time>.json" before any save can replace it, and the
    // store starts empty with "Measurements could not be loaded: …".
    explicit MeasurementStore(Loading loading = Loading::now, QObject* parent = nullptr);
    explicit MeasurementStore(Clock clock, Loading loading = Loading::now, QObject* parent = nullptr);
    // Waits for the saves still queued or being written, so that closing the window keeps the last change.
    ~MeasurementStore() override;

    // Saved traces in capture order. Traces captured while the file is still being read in the background
    // follow the file's when it arrives.
    const std::vector<TransferTrace>& traces() const { return *traces_.list; }
    // Replaces the list (screens delete traces this way), then the screen calls save().
    void setTraces(std::vector<TransferTrace> traces);

    // The last result or failure text.
    const QString& message() const { return message_; }

    // Path of the measurements file.
    const QString& url() const { return url_; }

    // Writes traces() to the file atomically on the worker and returns at once. Saves are written one at a
    // time; a save asked for while another still waits its turn replaces it, its list being newer. A
    // failure sets message to "Measurements could not be saved: …"; the list keeps its content. A save
    // asked for while the file is still being read waits for it.
    void save();

    // Blocks until the file has been read and every save asked for so far is on disk, and publishes their
    // outcome.
    void waitForFile();

    // Appends a trace made from `source` and saves, when the source holds a fresh, complete result
    // (running, under 2.0 s old, with a delay, bins, at least 3 averages and two different channels) and
    // `name` is not blank. `name`, `position` and `setup` are stored as typed. Reports through `message`:
    // "Captured <name>" once the save is on disk.
    void capture(const CaptureSource& source, const QString& name, const QString& position,
                 const QString& setup);
    // The same with the analyser's current result and capture conditions.
    void capture(const MicAnalyzer& analyzer, const QString& name, const QString& position,
                 const QString& setup);

signals:
    void tracesChanged();
    void messageChanged();

private:
    // The list is shared with the saves that are writing it and copied only when it changes meanwhile.
    struct TraceList {
        std::shared_ptr<std::vector<TransferTrace>> list = std::make_shared<std::vector<TransferTrace>>();
        bool operator==(const std::vector<TransferTrace>& other) const { return *list == other; }
        TraceList& operator=(std::vector<TransferTrace>&& other) {
            list = std::make_shared<std::vector<TransferTrace>>(std::move(other));
            return *this;
        }
    };
    struct Loaded;
    struct FileState;

    // File work, on whichever thread runs it (the worker, or the constructor's for Loading::now).
    static Loaded readFile(FileState& file);
    // The error's description, or an empty text once the list is on disk.
    static QString writeFile(FileState& file, const std::vector<TransferTrace>& traces);

    std::vector<TransferTrace>& editableTraces();
    void setMessage(const QString& message);
    void requestSave(const QString& whenSaved);
    void applyLoad(Loaded loaded);

    Clock clock_;
    TraceList traces_;
    QString message_;
    QString url_;
    bool loading_ = false;
    // Asked for while loading: the save waits for the file, and the capture text to show once saved.
    bool saveWaiting_ = false;
    QString waitingText_;
    // Shared with the jobs on the worker.
    std::shared_ptr<FileState> file_;
};

}  // namespace quorvel
