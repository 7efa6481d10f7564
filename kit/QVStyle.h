#pragma once
// The workspace's look: its three colours, the text roles every screen uses, the dark Fusion palette and
// the one style sheet of the component kit.
#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace quorvel {

// Text roles of the workspace, smallest to largest. Sizes are pixels at the window's 1:1 scale.
enum class QVText { Caption2, Caption, Subheadline, Callout, Body, Headline, Title3, Title2, LargeTitle };

namespace QVStyle {

// The application tint: badges, metrics, prominent actions, empty-state icons. Any thread.
const QColor& accent();
// Page, window, header and transport background; text on a prominent action. Any thread.
const QColor& background();
// Fill of cards and card-like rows. Any thread.
const QColor& card();

// Default ("primary") text colour of the always-dark window: light grey.
const QColor& primary();
// The dimmed ("secondary") text colour: mid grey.
const QColor& secondary();
// The frame of buttons, drop-down lists, text fields and check boxes: at least 3:1 against the cards and
// the page.
const QColor& controlFrame();

// The font of a text role; `weight` overrides the role's own weight when given. Main thread only.
QFont font(QVText role, int weight = -1);
// A font of `pixelSize`, e.g. for the few texts that name a size of their own. Main thread only.
QFont sizedFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The fixed-width variant of a role (plot axes, counters). Main thread only.
QFont monospaceFont(QVText role);

// Gives `widget` the role's font and the colour as its text colour. Main thread only.
void setText(QWidget* widget, QVText role, const QColor& color = primary(), int weight = -1);

// The kit's one style sheet (scroll bars, text fields, menus, tool tips in the dark look).
QString styleSheet();

// Applies the Fusion style, the dark palette, the style sheet, the icon theme and the keyboard behaviour
// (QVKeyboard) to the running application, whatever the desktop's own theme. Call once after the
// QApplication exists. Main thread only.
void apply();

}  // namespace QVStyle

}  // namespace quorvel
