#pragma once
// Detached background work and hops back to the main thread.
#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <memory>
#include <type_traits>
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

// Destroys `object` on the thread pool: for an object whose destruction may wait, such as an audio engine,
// which stops as it goes while its sound server may not answer. Any thread.
template <typename T>
void dispose(std::unique_ptr<T> object) {
    if (!object) return;
    auto held = std::make_shared<std::unique_ptr<T>>(std::move(object));
    detach([held] { held->reset(); });
}

// Runs `work` on the thread pool, then `done` with its result on the main thread unless `context` is
// destroyed first; the result then goes on the pool, as it may hold an engine (see dispose()). Any thread.
template <typename Work, typename Done>
void detachThen(QObject* context, Work work, Done done,
                QThread::Priority priority = QThread::InheritPriority) {
    using Value = std::invoke_result_t<Work&>;
    QPointer<QObject> guard(context);
    detach(
        [guard, work = std::move(work), done = std::move(done)]() mutable {
            auto result = std::make_shared<Value>(work());
            post(QCoreApplication::instance(), [guard, result, done]() mutable {
                if (guard) {
                    done(std::move(*result));
                } else {
                    detach([held = std::move(result)]() mutable { held.reset(); });
                }
            });
        },
        priority);
}

}  // namespace MainThread

}  // namespace quorvel
