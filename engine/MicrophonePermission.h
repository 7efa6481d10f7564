#pragma once
// Microphone access. Linux has no permission gate for audio input, so the request always grants; it
// still answers later, from the main thread's event loop, as a system prompt would, so that a caller's
// checks after the answer (has a newer start begun meanwhile?) keep their meaning.
//
// Threads: main thread only; the handler runs on the main thread, unless `context` is destroyed first.
#include <QObject>
#include <functional>

namespace quorvel {

namespace MicrophonePermission {

void requestAccess(QObject* context, std::function<void(bool granted)> handler);

}  // namespace MicrophonePermission

}  // namespace quorvel
