#include "core/Logging.h"

#include <QString>

#include "platform/Log.h"

namespace quorvel {

Q_LOGGING_CATEGORY(logAudio, "quorvel.audio", QtWarningMsg)
Q_LOGGING_CATEGORY(logMusic, "quorvel.music", QtWarningMsg)
Q_LOGGING_CATEGORY(logStore, "quorvel.store", QtWarningMsg)
Q_LOGGING_CATEGORY(logUi, "quorvel.ui", QtWarningMsg)

namespace {

const QLoggingCategory& category(Log::Area area) {
    switch (area) {
        case Log::Area::audio:
            return logAudio();
        case Log::Area::music:
            return logMusic();
        case Log::Area::store:
            return logStore();
    }
    return logAudio();
}

void toQt(Log::Area area, Log::Level level, std::string_view message) {
    const QLoggingCategory& c = category(area);
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    switch (level) {
        case Log::Level::debug:
            if (c.isDebugEnabled())
                QMessageLogger(nullptr, 0, nullptr, c.categoryName()).debug().noquote() << text;
            break;
        case Log::Level::info:
            if (c.isInfoEnabled())
                QMessageLogger(nullptr, 0, nullptr, c.categoryName()).info().noquote() << text;
            break;
        case Log::Level::warning:
            if (c.isWarningEnabled())
                QMessageLogger(nullptr, 0, nullptr, c.categoryName()).warning().noquote() << text;
            break;
    }
}

}  // namespace

namespace Logging {

void install() { Log::setSink(&toQt); }

}  // namespace Logging

}  // namespace quorvel
