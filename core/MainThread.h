#pragma once
// Detached background work and hops back to the main thread.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <utility>

namespace quorvel {

namespace MainThread {

// Runs `work` on the global thread pool. Any thread.
template <typename F>
void detach(F&& work, QThread::Priority priority = QThread::InheritPriority) {
    QThreadPool::globalInstance()->start(QRunnable::create(std::forward<F>(work)), priority);
}

// Runs `step` later on the main thread, unless `context` is destroyed first. Any thread.
template <typename F>
void post(QObject* context, F&& step) {
    QMetaObject::invokeMethod(context, std::forward<F>(step), Qt::QueuedConnection);
}

}  // namespace MainThread

}  // namespace quorvel
