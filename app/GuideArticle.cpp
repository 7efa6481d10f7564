#include "app/GuideArticle.h"

namespace quorvel {

QString GuideArticle::searchText() const {
    QStringList parts{title, summary, notes};
    parts += steps;
    return parts.join(QLatin1Char(' '));
}

}  // namespace quorvel
