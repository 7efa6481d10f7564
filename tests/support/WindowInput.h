#pragma once
// Mouse input as the window system hands it over, through the same path in Qt: to a widget's window, which
// finds the widget under the point itself, stamped with the time the user's hand made it. That time, not
// when the program gets round to the event, makes two clicks a double click (whose second press widgets
// get as a double-click event), so a test can hold the main thread between two clicks without changing
// what they are. Main thread only.
#include <QtTest/qtestmouse.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStyleHints>
#include <QThread>
#include <QWidget>
#include <QWindow>

namespace quorvel::WindowInput {

// A left-button press, release or move (MouseButtonPress, MouseButtonRelease, MouseMove) at `global` at
// the time `timeMS`, given to `window`'s window at once.
inline void send(QWidget* window, QEvent::Type type, QPoint global, quint64 timeMS) {
    QWindow* handle = window->window()->windowHandle();
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    qt_handleMouseEvent(handle, handle->mapFromGlobal(QPointF(global)), QPointF(global), held, button, type,
                        Qt::NoModifier, int(timeMS));
}

// A time for a first click that no click made before in this process is near: never a double click's
// second half.
inline quint64 freshTime() {
    static quint64 last = 1'000'000;
    return last += 60'000;
}

// A press at `global` at the time `timeMS` and, 20 ms later, its release.
inline void click(QWidget* window, QPoint global, quint64 timeMS) {
    send(window, QEvent::MouseButtonPress, global, timeMS);
    send(window, QEvent::MouseButtonRelease, global, timeMS + 20);
}

// Two clicks at `global`, the second `gapMS` after the first by the hand's time (a double click within the
// double-click interval). Between them the main thread is busy for `holdMS`, then runs `turns` turns of
// the event loop before the second click reaches the window.
inline void twoClicks(QWidget* window, QPoint global, int gapMS, int turns, int holdMS = 0) {
    const quint64 first = freshTime();
    click(window, global, first);
    if (holdMS > 0) QThread::msleep(static_cast<unsigned long>(holdMS));
    for (int turn = 0; turn < turns; ++turn) QCoreApplication::processEvents();
    click(window, global, first + quint64(gapMS));
}

}  // namespace quorvel::WindowInput
