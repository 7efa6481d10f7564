// The Player's message line with a load error from a hostile playlists file: the page keeps its width.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QToolButton>

#include "FakeMusicService.h"
#include "ScreenTesting.h"
#include "TestHome.h"
#include "engine/AudioController.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "screens/ReferencePlayerView.h"

namespace quorvel {

using namespace ScreenTesting;

// A 100 000-digit number in the file: the load error quotes the start of it, and the line wraps or cuts
// whatever it is given, so the header's "+ Add" stays on the page.
TEST(PlayerMessageLine, ALongLoadErrorNeitherWidensThePageNorPushesAddOffIt) {
    useWorkspaceStyle();
    const QString dir = QString::fromStdString(TestHome::freshDir("long-message"));
    QFile file(dir + "/playlists.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[{\"id\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\"name\":\"Gig\",\"tracks\":[{\"trimDB\":" +
               QByteArray(100000, '7') + "}]}]");
    file.close();
    LibraryStore library(dir);
    EXPECT_EQ(library.message(),
              "Library could not be loaded: number overflow parsing '" + QString(60, '7') + "\u2026'");

    AudioController controller;
    FakeMusicService service;
    MusicBrowser music(service);
    bool importing = false;
    ReferencePlayerView view(library, controller, music, QVBinding<bool>::of(importing),
                             [](const ReferenceTrack&) {});
    view.resize(560, 700);
    view.show();
    for (const QString& message : {library.message(), QString(100000, '9'),
                                   "Import complete?\n" + QString(3000, 'x') + "\nlast line"}) {
        library.setMessage(message);
        settle();
        const QPoint addRight = view.addButton()->mapTo(&view, QPoint(view.addButton()->width(), 0));
        EXPECT_LE(addRight.x(), view.viewport()->width()) << message.left(30).toStdString();
        EXPECT_LE(view.widget()->width(), view.viewport()->width());
        EXPECT_LE(view.messageLine()->height(), 2 * view.messageLine()->fontMetrics().lineSpacing());
    }
    savePng(&view, "player-long-message.png", {560, 700});
}

}  // namespace quorvel
