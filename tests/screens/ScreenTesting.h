#pragma once
// Helpers shared by the screen tests: the workspace look, PNGs for review, and finding the texts a
// screen shows.
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>

#include "QtPrinting.h"
#include "TestSignals.h"

namespace quorvel {

namespace ScreenTesting {

// Applies the workspace style once per process.
void useWorkspaceStyle();

// Lays `widget` out at `size`, shows it offscreen and saves it as `name` in the test output folder.
// Returns the image.
QImage savePng(QWidget* widget, const QString& name, QSize size);

// The visible texts of the labels named `objectName` under `root`, in creation order.
QStringList texts(const QWidget* root, const QString& objectName);

// True when a visible label under `root` shows exactly `text`.
bool showsText(const QWidget* root, const QString& text);

// White noise in ±0.3 as a function of the frame number, so that any stretch can be replayed later.
using TestSignals::noise;

// Runs queued events (deferred deletions included).
void settle();

}  // namespace ScreenTesting

}  // namespace quorvel
