// The music sheet on the fixture's MPD (250 stored playlists, 35 songs) and a real library store.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "ScreenTesting.h"
#include "engine/AudioController.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "screens/MusicLibraryView.h"
#include "screens/ReferencePlayerView.h"
#include "screens/RowList.h"

namespace quorvel {

using namespace ScreenTesting;

TEST(MusicLibraryViewServer, ConnectsFiltersImportsAndAddsFromTheServer) {
    MusicBrowser music;
    const QString dir = freshDir("library");
    LibraryStore library(dir);
    MusicLibraryView sheet(music, library);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return music.connected() && !music.isLoading(); }, 30000));
    EXPECT_EQ(sheet.playlistRows()->rowCount(), 250);

    QTest::keyClicks(sheet.queryField(), "MIX");
    ASSERT_EQ(sheet.shownPlaylists().size(), 2u);
    EXPECT_EQ(sheet.shownPlaylists()[0].name, "mix 2");

    // Songs from the server's catalogue land in the selected playlist.
    sheet.setSource(MusicLibraryView::kSongs);
    sheet.queryField()->setText("yesterday");
    QTest::keyClick(sheet.queryField(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.songRows()->rowCount() == 1; }, 30000));
    sheet.addSong(music.songs()[0]);
    ASSERT_EQ(library.playlists()[0].tracks.size(), 1);
    EXPECT_EQ(library.playlists()[0].tracks[0].title, "Yesterday \u2014 The Band");
    EXPECT_EQ(library.playlists()[0].tracks[0].musicID, "songs/yesterday.wav");

    sheet.setSource(MusicLibraryView::kPlaylists);
    sheet.queryField()->setText("Show");
    ASSERT_EQ(sheet.shownPlaylists().size(), 1u);
    QSignalSpy accepted(&sheet, &QDialog::accepted);
    const QRect row = sheet.playlistRows()->rowRect(0);
    QTest::mouseClick(sheet.playlistRows()->viewport(), Qt::LeftButton, {}, row.center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepted.count() == 1; }, 30000))
        << music.message().toStdString();
    EXPECT_EQ(music.message(), "Imported Show · 3 tracks");

    const LibraryStore reloaded(dir);
    ASSERT_EQ(reloaded.playlists().size(), 2);
    EXPECT_EQ(reloaded.playlists()[1].name, "Show");
    EXPECT_EQ(reloaded.playlists()[1].tracks.size(), 3);
    EXPECT_EQ(reloaded.playlists()[0].tracks.size(), 1);

    // The imported playlist is the selected one; its first song plays from the Player on the server.
    AudioController audio;
    bool importing = false;
    ReferencePlayerView player(library, audio, music, QVBinding<bool>::of(importing),
                               [&](const ReferenceTrack& t) { audio.playMusic(t.musicRequest()); });
    player.show();
    ASSERT_EQ(player.shownTracks().size(), 3u);
    const QRect first = player.rows()->rowRect(0);
    QTest::mouseClick(player.rows()->viewport(), Qt::LeftButton, {},
                      QPoint(first.left() + 30, first.center().y()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.nowPlaying()->isHidden() && audio.playing(); }, 30000))
        << audio.status().toStdString();
    EXPECT_EQ(audio.status(), "First Light");
    EXPECT_EQ(player.sourceBadge()->title(), "Music server");
    EXPECT_TRUE(player.isCurrent(player.shownTracks()[0]));
    // Pressed again it pauses on the server.
    QTest::mouseClick(player.rows()->viewport(), Qt::LeftButton, {},
                      QPoint(first.left() + 30, first.center().y()));
    EXPECT_FALSE(audio.playing());
    audio.stop();
    EXPECT_TRUE(player.nowPlaying()->isHidden());
}

}  // namespace quorvel
