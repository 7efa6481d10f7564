#include "library/MeasurementStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "core/Logging.h"
#include "core/Published.h"
#include "dsp/TransferJSON.h"
#include "engine/MicAnalyzer.h"
#include "library/SerialWorker.h"
#include "library/StoreFiles.h"

namespace quorvel {

namespace {

const QString kLoadFailed = QStringLiteral("Measurements could not be loaded: ");
const QString kSaveFailed = QStringLiteral("Measurements could not be saved: ");
const QString kWaitForResult = QStringLiteral("Wait for a valid reference/mic transfer measurement.");
const QString kNameFirst = QStringLiteral("Name the measurement first.");
// The file, and the unreadable copies kept beside it, whose temporaries a dead process may have left.
const QString kFileNames = QStringLiteral("measurements\\.json|measurements\\.unreadable-[0-9-]+\\.json");

// Blank means only space separators and tabs; a line break counts as content.
bool isBlank(const QString& name) {
    for (QChar c : name)
        if (c.category() != QChar::Separator_Space && c != u'\t') return false;
    return true;
}

}  // namespace

struct MeasurementStore::Loaded {
    std::vector<TransferTrace> traces;
    QString error;  // empty when the file was read (or there was none)
};

struct MeasurementStore::FileState {
    QString folder, url;
    struct Request {
        std::shared_ptr<const std::vector<TransferTrace>> traces;
        QString whenSaved;  // the message once this list is on disk; empty to leave the message alone
    };
    std::mutex lock;  // guards `next` and `posted`
    std::optional<Request> next;
    bool posted = false;  // a job that will write `next` waits on the worker
    // The file failed to decode and is not copied aside yet, so it must not be overwritten. Touched only by
    // the file jobs, which run one at a time.
    bool unreadableNotKept = false;
};

MeasurementStore::MeasurementStore(Loading loading, QObject* parent)
    : MeasurementStore(referenceDateNow, loading, parent) {}

MeasurementStore::MeasurementStore(Clock clock, Loading loading, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), file_(std::make_shared<FileState>()) {
    file_->folder = StoreFiles::storageDirectory();
    url_ = file_->url = file_->folder + "/measurements.json";
    if (loading == Loading::now) {
        // Saves that this process asked for earlier reach the file first.
        SerialWorker::files().waitIdle();
        applyLoad(readFile(*file_));
        return;
    }
    loading_ = true;
    SerialWorker::files().post([this, file = file_] {
        auto loaded = std::make_shared<Loaded>(readFile(*file));
        QMetaObject::invokeMethod(
            this, [this, loaded] { applyLoad(std::move(*loaded)); }, Qt::QueuedConnection);
    });
}

MeasurementStore::~MeasurementStore() { waitForFile(); }

MeasurementStore::Loaded MeasurementStore::readFile(FileState& file) {
    Loaded loaded;
    QString error;
    if (!StoreFiles::ensureDirectory(file.folder, &error)) {
        loaded.error = error;
        qCWarning(logStore) << "measurements could not be loaded:" << error;
        return loaded;
    }
    StoreFiles::removeLeftovers(file.folder, kFileNames);
    if (!QFileInfo::exists(file.url)) return loaded;
    if (auto opened = StoreFiles::Reader::open(file.url); !opened) {
        loaded.error = QString::fromStdString(opened.error().description);
    } else {
        // Read a piece at a time: the file of a long session runs to hundreds of megabytes.
        auto decoded =
            TransferJSON::decode([&file = *opened](char* into, std::size_t size) -> Result<std::size_t> {
                auto got = file.read(into, qsizetype(size));
                if (!got) return got.error();
                return std::size_t(*got);
            });
        if (decoded) {
            loaded.traces = std::move(decoded.value());
            return loaded;
        }
        loaded.error = QString::fromStdString(decoded.error().description);
    }
    qCWarning(logStore) << "measurements could not be loaded:" << loaded.error;
    // The store now starts empty, and its next save would replace every trace the file holds: keep the
    // file for the user first.
    file.unreadableNotKept = !StoreFiles::keepUnreadable(file.url).ok();
    return loaded;
}

QString MeasurementStore::writeFile(FileState& file, const std::vector<TransferTrace>& traces) {
    if (file.unreadableNotKept) {
        file.unreadableNotKept = !StoreFiles::keepUnreadable(file.url).ok();
        if (file.unreadableNotKept)
            return QStringLiteral("the measurements file that could not be loaded could not be kept aside.");
    }
    // Written as it is encoded: the text is two to three times the size of the traces in memory. The
    // doubles' shortest forms take most of the time, on up to half the cores, leaving the rest to the
    // audio and the window.
    const unsigned threads = std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u);
    QString error;
    const bool written = StoreFiles::writeAtomically(
        file.url,
        [&](const StoreFiles::Append& append) { return TransferJSON::encode(traces, append, threads); },
        &error);
    return written ? QString() : error;
}

void MeasurementStore::applyLoad(Loaded loaded) {
    loading_ = false;
    if (!loaded.error.isEmpty()) setMessage(kLoadFailed + loaded.error);
    if (!loaded.traces.empty()) {
        // Traces captured while the file was being read are newer than the file's.
        std::vector<TransferTrace>& captured = editableTraces();
        loaded.traces.insert(loaded.traces.end(), std::make_move_iterator(captured.begin()),
                             std::make_move_iterator(captured.end()));
        traces_ = std::move(loaded.traces);
        emit tracesChanged();
    }
    if (saveWaiting_) {
        saveWaiting_ = false;
        requestSave(std::exchange(waitingText_, QString()));
    }
}

std::vector<TransferTrace>& MeasurementStore::editableTraces() {
    if (traces_.list.use_count() > 1) {
        traces_.list = std::make_shared<std::vector<TransferTrace>>(*traces_.list);
    } else {
        // The worker read the list before it let go of it, and letting go is a release: this acquire makes
        // its reads happen before the changes that follow.
        std::atomic_thread_fence(std::memory_order_acquire);
    }
    return *traces_.list;
}

void MeasurementStore::setTraces(std::vector<TransferTrace> traces) {
    publish(this, traces_, std::move(traces), &MeasurementStore::tracesChanged);
}

void MeasurementStore::setMessage(const QString& message) {
    publish(this, message_, message, &MeasurementStore::messageChanged);
}

void MeasurementStore::save() { requestSave(QString()); }

void MeasurementStore::requestSave(const QString& whenSaved) {
    if (loading_) {
        saveWaiting_ = true;
        if (!whenSaved.isEmpty()) waitingText_ = whenSaved;
        return;
    }
    std::lock_guard<std::mutex> hold(file_->lock);
    FileState::Request request{traces_.list, whenSaved};
    // A capture whose save is replaced before it started is in the newer list: report it with that one.
    if (request.whenSaved.isEmpty() && file_->next) request.whenSaved = file_->next->whenSaved;
    file_->next = std::move(request);
    if (file_->posted) return;
    file_->posted = true;
    SerialWorker::files().post([this, file = file_] {
        FileState::Request job;
        {
            std::lock_guard<std::mutex> taken(file->lock);
            job = std::move(*file->next);
            file->next.reset();
            file->posted = false;
        }
        const QString error = writeFile(*file, *job.traces);
        job.traces.reset();  // let go before the main thread hears of it, so its next change need not copy
        if (!error.isEmpty()) qCWarning(logStore) << "measurements could not be saved:" << error;
        QMetaObject::invokeMethod(
            this,
            [this, error, text = job.whenSaved] {
                if (!error.isEmpty())
                    setMessage(kSaveFailed + error);
                else if (!text.isEmpty())
                    setMessage(text);
            },
            Qt::QueuedConnection);
    });
}

void MeasurementStore::waitForFile() {
    for (;;) {
        SerialWorker::files().waitIdle();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        // Delivering a load may have asked for the save that waited for it.
        std::lock_guard<std::mutex> hold(file_->lock);
        if (!file_->posted && !loading_) return;
    }
}

void MeasurementStore::capture(const MicAnalyzer& analyzer, const QString& name, const QString& position,
                               const QString& setup) {
    CaptureSource source;
    source.running = analyzer.running();
    source.lastUpdated = analyzer.lastUpdated();
    source.delayMS = analyzer.delayMS();
    source.transfer = analyzer.transfer();
    source.averages = analyzer.averages();
    source.sampleRate = analyzer.sampleRate();
    source.compensationMS = analyzer.compensationMS();
    source.captureMicChannel = analyzer.captureMicChannel();
    source.captureReferenceChannel = analyzer.captureReferenceChannel();
    source.hardwareIdentity = analyzer.hardwareIdentity().toStdString();
    capture(source, name, position, setup);
}

void MeasurementStore::capture(const CaptureSource& source, const QString& name, const QString& position,
                               const QString& setup) {
    const ReferenceDate now = clock_();
    // A time stamp later than now passes; NaN does not.
    const bool fresh = source.lastUpdated && now - *source.lastUpdated < 2.0;
    if (!source.running || !fresh || !source.delayMS || source.transfer.empty() || source.averages < 3 ||
        source.captureMicChannel == source.captureReferenceChannel) {
        setMessage(kWaitForResult);
        return;
    }
    if (isBlank(name)) {
        setMessage(kNameFirst);
        return;
    }

    TransferTrace trace;
    trace.id = Uuid::generate();
    trace.name = name.toStdString();
    trace.captured = now;
    trace.sampleRate = source.sampleRate;
    trace.compensationMS = source.compensationMS;
    trace.arrivalMS = *source.delayMS;
    trace.micChannel = source.captureMicChannel;
    trace.referenceChannel = source.captureReferenceChannel;
    trace.bins = source.transfer;
    trace.averages = source.averages;
    trace.position = position.toStdString();
    trace.setupID = setup.toStdString();
    trace.hardwareIdentity = source.hardwareIdentity;
    editableTraces().push_back(std::move(trace));
    emit tracesChanged();

    // On failure the trace stays listed and the message keeps the save failure; a later save writes it.
    requestSave("Captured " + name);
}

}  // namespace quorvel
