#pragma once
// One article of the built-in user guide.
#include <QString>
#include <QStringList>

namespace quorvel {

// A plain value: a title, a one-sentence summary, numbered steps and a paragraph of notes (limits,
// cautions, what the program does not do). Identified by `id`. Any thread.
struct GuideArticle {
    QString id;  // short lower-case key, unique in the guide; identity only, never searched
    QString title;
    QString summary;
    QStringList steps;  // in order; the guide numbers them from 1
    QString notes;

    // Title, summary, notes, then every step in order, joined by single spaces (notes come before the
    // steps). Built on each call, not stored.
    QString searchText() const;
};

}  // namespace quorvel
