#pragma once
// Keyboard use of the workspace, for every window of the application:
// - Return and Enter press the focused button (push, tool and check buttons, segments, sidebar rows,
//   cards), open the menu of a focused menu button and the list of a focused drop-down. A text field
//   keeps them, and so does a widget that takes them itself (see kHandlesReturn).
// - Once a key has moved the focus, the focused control shows a ring in the accent colour around it,
//   whatever its own look, until the next press of the mouse. A page (a QScrollArea) gets no ring: it
//   would run along its window's frame.
// - In windows that ask for it (followLayoutOrder), Tab and Shift+Tab go through the controls in the
//   order of the layouts: top to bottom, and left to right within a row.
// Space is left to the window: the workspace binds it to Stop all. Main thread only.
#include <QList>

class QWidget;

namespace quorvel {

namespace QVKeyboard {

// Dynamic properties a widget may carry.
// true: the widget acts on Return and Enter itself (a list of rows, say).
inline constexpr const char* kHandlesReturn = "qvHandlesReturn";
// true: the widget draws its own focus ring (around the part that has the focus, say).
inline constexpr const char* kOwnFocusRing = "qvOwnFocusRing";
// A number: the corner radius of the widget's shape, which the ring follows (default 6).
inline constexpr const char* kFocusRadius = "qvFocusRadius";

// Installs the behaviour above for the running application. Idempotent.
void install();

// Tab and Shift+Tab in `window` follow the order of its layouts.
void followLayoutOrder(QWidget* window);

// The controls of `window` that Tab reaches, in layout order: enabled, shown, taking focus by Tab.
QList<QWidget*> tabOrder(QWidget* window);

}  // namespace QVKeyboard

}  // namespace quorvel
