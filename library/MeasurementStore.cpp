#include "library/MeasurementStore.h"

#include <QFileInfo>

#include "dsp/TransferJSON.h"
#include "engine/MicAnalyzer.h"
#include "library/StoreFiles.h"

namespace quorvel {

namespace {

const QString kLoadFailed = QStringLiteral("Measurements could not be loaded: ");
const QString kSaveFailed = QStringLiteral("Measurements could not be saved: ");
const QString kWaitForResult = QStringLiteral("Wait for a valid reference/mic transfer measurement.");
const QString kNameFirst = QStringLiteral("Name the measurement first.");

// Blank means only space separators and tabs; a line break counts as content.
bool isBlank(const QString& name) {
    for (QChar c : name)
        if (c.category() != QChar::Separator_Space && c != u'\t') return false;
    return true;
}

}  // namespace

MeasurementStore::MeasurementStore(QObject* parent) : MeasurementStore(referenceDateNow, parent) {}

MeasurementStore::MeasurementStore(Clock clock, QObject* parent) : QObject(parent), clock_(std::move(clock)) {
    const QString folder = StoreFiles::storageDirectory();
    url_ = folder + "/measurements.json";
    QString error;
    if (!StoreFiles::ensureDirectory(folder, &error)) {
        message_ = kLoadFailed + error;
        return;
    }
    load();
}

void MeasurementStore::load() {
    if (!QFileInfo::exists(url_)) return;
    auto bytes = StoreFiles::readWhole(url_);
    if (!bytes) {
        message_ = kLoadFailed + QString::fromStdString(bytes.error().description);
    } else {
        auto decoded = TransferJSON::decode(std::string_view(bytes->constData(), size_t(bytes->size())));
        if (decoded) {
            traces_ = std::move(decoded.value());
            return;
        }
        message_ = kLoadFailed + QString::fromStdString(decoded.error().description);
    }
    // The store now starts empty, and its next save would replace every trace the file holds: keep the
    // file for the user first.
    unreadableNotKept_ = StoreFiles::keepUnreadable(url_).isEmpty();
}

void MeasurementStore::setTraces(std::vector<TransferTrace> traces) {
    if (traces == traces_) return;
    traces_ = std::move(traces);
    emit tracesChanged();
}

void MeasurementStore::setMessage(const QString& message) {
    if (message == message_) return;
    message_ = message;
    emit messageChanged();
}

bool MeasurementStore::failSave(const QString& description) {
    setMessage(kSaveFailed + description);
    return false;
}

bool MeasurementStore::save() {
    if (unreadableNotKept_) {
        unreadableNotKept_ = QFileInfo::exists(url_) && StoreFiles::keepUnreadable(url_).isEmpty();
        if (unreadableNotKept_)
            return failSave(
                QStringLiteral("the measurements file that could not be loaded could not be kept aside."));
    }
    auto encoded = TransferJSON::encode(traces_);
    if (!encoded) return failSave(QString::fromStdString(encoded.error().description));
    const std::string& json = encoded.value();
    QString error;
    if (!StoreFiles::writeAtomically(url_, QByteArray(json.data(), qsizetype(json.size())), &error))
        return failSave(error);
    return true;
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
    traces_.push_back(std::move(trace));
    emit tracesChanged();

    // On failure the trace stays listed and the message keeps the save failure; a later save writes it.
    if (save()) setMessage("Captured " + name);
}

}  // namespace quorvel
