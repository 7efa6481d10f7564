#pragma once
// Symbol images by name. Screens name their icons with the workspace's symbol names ("waveform",
// "stop.fill", …); one table maps each to an icon of the Adwaita theme and to a drawn form, used when the
// theme (or a theme image for that symbol) is missing, so every control shows an icon. Symbol images are
// single-colour: the theme image's shape is filled with the colour asked for. A name that is not in the
// table draws nothing and is reported once as a warning in the category quorvel.ui.
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <vector>

class QLabel;
class QPainter;
class QRectF;
class QToolButton;
class QWidget;

namespace quorvel {

namespace QVIcons {

struct Entry {
    const char* symbol;  // the workspace's symbol name
    const char* theme;   // the Adwaita icon name, or nullptr where the drawn form is the better likeness
};

// The table, one row per symbol used anywhere in the workspace, in table order. Main thread only.
std::vector<Entry> table();
// Whether `symbol` is in the table. Main thread only.
bool known(const QString& symbol);

// The icon theme that symbol images come from.
inline constexpr const char* kThemeName = "Adwaita";

// Points Qt's icon theme at the system's icon folders and selects the Adwaita theme. Main thread only.
void installTheme();

// A single-colour icon of `symbol` in `color`, at any size; disabled mode draws it dimmed. Main thread
// only.
QIcon icon(const QString& symbol, const QColor& color);

// The symbol's image, `pixels` square (device pixels = pixels × dpr), in `color`. Main thread only.
QPixmap pixmap(const QString& symbol, int pixels, const QColor& color, qreal dpr = 1.0);

// True when `symbol`'s image comes from the icon theme on this machine, false when it is drawn.
bool fromTheme(const QString& symbol);

// Draws the drawn form of `symbol` into `box` in `color`. Main thread only.
void drawSymbol(QPainter& painter, const QRectF& box, const QString& symbol, const QColor& color);

// A button without chrome that shows only `symbol`, `pixels` square, in `color`; `accessibleName` is also
// its tool tip. Main thread only.
QToolButton* button(const QString& symbol, int pixels, const QColor& color,
                    const QString& accessibleName = {}, QWidget* parent = nullptr);

// A label showing only `symbol`. Main thread only.
QLabel* label(const QString& symbol, int pixels, const QColor& color, QWidget* parent = nullptr);

}  // namespace QVIcons

}  // namespace quorvel
