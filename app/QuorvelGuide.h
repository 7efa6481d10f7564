#pragma once
// The offline user guide's fixed table of articles.
#include <QList>
#include <QString>

#include "app/GuideArticle.h"

namespace quorvel {

namespace QuorvelGuide {

// The fifteen articles in list order. Built on first use and never changed; nothing is read from disk.
// Any thread.
const QList<GuideArticle>& articles();

// The articles whose search text contains `query`, ignoring letter case (accents and other marks still
// count), in list order. The query is used exactly as typed: not trimmed, not split into words. An empty
// query gives every article. Any thread.
QList<GuideArticle> matching(const QString& query);

}  // namespace QuorvelGuide

}  // namespace quorvel
