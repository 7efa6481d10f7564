#include "MicrophonePermission.h"

#include "MainThread.h"

namespace MicrophonePermission {

void requestAccess(QObject* context, std::function<void(bool granted)> handler) {
    MainThread::post(context, [handler = std::move(handler)] { handler(true); });
}

}  // namespace MicrophonePermission
