#include "engine/MicrophonePermission.h"

#include "core/MainThread.h"

namespace quorvel {

namespace MicrophonePermission {

void requestAccess(QObject* context, std::function<void(bool granted)> handler) {
    MainThread::post(context, [handler = std::move(handler)] { handler(true); });
}

}  // namespace MicrophonePermission

}  // namespace quorvel
