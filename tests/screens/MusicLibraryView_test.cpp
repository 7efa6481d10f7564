// The music sheet on the scripted music service and a real library store in a scratch folder.
#include "screens/MusicLibraryView.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "FakeMpd.h"
#include "FakeMusicService.h"
#include "ScreenTesting.h"
#include "engine/ThreadedMusicService.h"
#include "kit/QVEmpty.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "platform/MpdMusicClient.h"
#include "screens/RowList.h"
#include "screens/ScreenControls.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

using Tracks = Result<std::optional<TrackBatch>>;
using Songs = Result<std::vector<Song>>;

struct MusicSheetTest : ::testing::Test {
    FakeMusicService service;
    MusicBrowser music{service};
    QString dir = freshDir("library");
    LibraryStore library{dir};

    std::unique_ptr<MusicLibraryView> open() {
        auto sheet = std::make_unique<MusicLibraryView>(music, library);
        sheet->show();
        return sheet;
    }
    void connectWith(std::vector<std::string> names) {
        music.connect();
        service.release("authorization", MusicAuthorizationStatus::authorized);
        PlaylistBatch batch;
        for (auto& n : names) batch.items.push_back(Playlist{"id-" + n, n});
        service.release("playlists", Result<PlaylistBatch>(batch));
    }
    static std::vector<std::string> names(const MusicLibraryView& sheet) {
        std::vector<std::string> out;
        for (const auto& p : sheet.shownPlaylists()) out.push_back(p.name);
        return out;
    }
    static void clickRow(RowList* rows, int row, QPoint at = {-1, -1}) {
        const QRect r = rows->rowRect(row);
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, at.x() < 0 ? r.center() : r.topLeft() + at);
    }
    static void clickAdd(RowList* rows, int row) {
        const QRect r = rows->rowRect(row);
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, QPoint(r.right() - 30, r.center().y()));
    }
    int calls(const std::string& kind) const {
        return int(std::count_if(service.log.begin(), service.log.end(), [&](const std::string& l) {
            return l == kind || l.rfind(kind + " ", 0) == 0;
        }));
    }
};

}  // namespace

TEST_F(MusicSheetTest, ConnectsOnceFiltersAsTypedAndShowsTheEmptyStateOnlyAfterAnEmptyLoad) {
    ScreenTesting::useWorkspaceStyle();
    auto sheet = open();
    EXPECT_EQ(calls("authorization"), 1);
    EXPECT_FALSE(sheet->progress()->isHidden());
    EXPECT_EQ(sheet->progressLabel()->text(), "Loading playlists");
    EXPECT_FALSE(sheet->refreshButton()->isEnabled());
    EXPECT_TRUE(sheet->playlistRowsEnabled());
    EXPECT_TRUE(sheet->emptyState()->isHidden());
    EXPECT_EQ(sheet->messageLine()->text(), "Loading the music server's playlists…");

    service.release("authorization", MusicAuthorizationStatus::authorized);
    PlaylistBatch batch{{{"1", "Rock Classics"}, {"2", "Jazz"}, {"3", "Prog Rock"}}, std::nullopt};
    service.release("playlists", Result<PlaylistBatch>(batch));
    EXPECT_TRUE(sheet->progress()->isHidden());
    EXPECT_TRUE(sheet->refreshButton()->isEnabled());
    EXPECT_EQ(sheet->playlistRows()->rowCount(), 3);
    ScreenTesting::savePng(sheet.get(), "music-sheet-playlists.png", {580, 600});

    QTest::keyClicks(sheet->queryField(), "roc");
    EXPECT_EQ(names(*sheet), (std::vector<std::string>{"Prog Rock", "Rock Classics"}));
    sheet->queryField()->setText("zzz");
    EXPECT_EQ(sheet->playlistRows()->rowCount(), 0);
    EXPECT_TRUE(sheet->emptyState()->isHidden());
    // Return searches nothing in this mode.
    QTest::keyClick(sheet->queryField(), Qt::Key_Return);
    EXPECT_EQ(calls("search"), 0);
    sheet->queryField()->clear();
    EXPECT_EQ(sheet->playlistRows()->rowCount(), 3);

    // Opened again once connected: the list is there at once and nothing connects.
    sheet.reset();
    auto again = open();
    EXPECT_EQ(calls("authorization"), 1);
    EXPECT_EQ(again->playlistRows()->rowCount(), 3);
    EXPECT_EQ(again->queryField()->text(), "");

    // Refresh connects again; a load that finds nothing shows the empty state.
    QTest::mouseClick(again->refreshButton(), Qt::LeftButton);
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("playlists", Result<PlaylistBatch>(PlaylistBatch{}));
    EXPECT_FALSE(again->emptyState()->isHidden());
    again->setSource(MusicLibraryView::kSongs);
    EXPECT_TRUE(again->emptyState()->isHidden());
    // Done closes the sheet.
    for (QPushButton* b : again->findChildren<QPushButton*>())
        if (b->text() == "Done") b->click();
    EXPECT_FALSE(again->isVisible());
}

TEST_F(MusicSheetTest, RowsWaitForAnImportAndOnlyASuccessfulOneClosesTheSheet) {
    connectWith({"Alpha", "Show"});
    auto sheet = open();
    QSignalSpy accepted(sheet.get(), &QDialog::accepted);

    clickRow(sheet->playlistRows(), 1);
    ASSERT_EQ(service.pendingCount("tracks"), 1);
    EXPECT_FALSE(sheet->playlistRowsEnabled());
    EXPECT_EQ(sheet->progressLabel()->text(), "Importing playlist");
    EXPECT_EQ(sheet->messageLine()->text(), "Importing Show…");
    clickRow(sheet->playlistRows(), 0);  // disabled: no second import
    EXPECT_EQ(calls("tracks"), 1);

    service.release("tracks", Tracks(serviceError("The server went away")));
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->messageLine()->text(), "Could not import Show: The server went away");
    EXPECT_EQ(library.playlists().size(), 1);

    clickRow(sheet->playlistRows(), 1);
    TrackBatch tracks{"id-Show", {Track{makeSong("a.wav", "First Light", "Quorvel Test")}}, std::nullopt};
    service.release("tracks", Tracks(tracks));
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_FALSE(sheet->isVisible());
    ASSERT_EQ(library.playlists().size(), 2);
    EXPECT_EQ(library.selected(), 1);
    EXPECT_EQ(library.playlists()[1].name, "Show");
    EXPECT_EQ(music.message(), "Imported Show · 1 track");
}

TEST_F(MusicSheetTest, FindSongsSearchesAndAddsCatalogueTracksToTheSelectedPlaylist) {
    library.addPlaylist("Second");
    library.setSelected(0);
    auto sheet = open();
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("playlists", Result<PlaylistBatch>(PlaylistBatch{}));

    sheet->modePicker()->segment("Find songs")->click();
    EXPECT_EQ(sheet->source(), MusicLibraryView::kSongs);
    EXPECT_EQ(sheet->queryField()->placeholderText(), "Artist or song");
    EXPECT_FALSE(sheet->searchButton()->isHidden());
    EXPECT_TRUE(sheet->refreshButton()->isHidden());

    // Return and the button send the same term, as typed.
    QTest::keyClicks(sheet->queryField(), " band");
    QTest::keyClick(sheet->queryField(), Qt::Key_Return);
    sheet->searchButton()->click();
    service.release("authorization", MusicAuthorizationStatus::authorized);
    service.release("authorization", MusicAuthorizationStatus::authorized);
    EXPECT_EQ(service.pendingCall("search", 0).argument, " band 25");
    EXPECT_EQ(service.pendingCall("search", 1).argument, " band 25");
    service.release("search", Songs(std::vector<Song>{makeSong("y.wav", "Yesterday", "The Band"),
                                                      makeSong("z.wav", "Zeta", "Other")}));
    ASSERT_EQ(sheet->songRows()->rowCount(), 2);
    ScreenTesting::savePng(sheet.get(), "music-sheet-songs.png", {580, 600});

    clickRow(sheet->songRows(), 0, {20, 20});  // the text, not the button: nothing
    EXPECT_TRUE(library.playlists()[0].tracks.isEmpty());
    clickAdd(sheet->songRows(), 0);
    clickAdd(sheet->songRows(), 0);
    EXPECT_EQ(sheet->messageLine()->text(), "Added Yesterday");
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->queryField()->text(), " band");

    const QList<ReferenceTrack> saved = LibraryStore(dir).playlists()[0].tracks;
    ASSERT_EQ(saved.size(), 2);
    EXPECT_NE(saved[0].id, saved[1].id);
    EXPECT_EQ(saved[0].title, "Yesterday \u2014 The Band");
    EXPECT_EQ(saved[0].musicID, "y.wav");
    EXPECT_FALSE(saved[0].filename.has_value());
    EXPECT_FALSE(saved[0].libraryMusic);
    auto song = SongCoding::decode(saved[0].musicPayload.value_or(QByteArray()).toStdString());
    ASSERT_TRUE(song.ok());
    EXPECT_EQ(song->title, "Yesterday");
    EXPECT_TRUE(library.playlists()[1].tracks.isEmpty());

    // Goes to whichever playlist is selected; a failed save says so and keeps the track in memory.
    library.setSelected(1);
    blockSaves(dir);
    clickAdd(sheet->songRows(), 1);
    EXPECT_TRUE(sheet->messageLine()->text().startsWith("Save failed: "))
        << sheet->messageLine()->text().toStdString();
    ASSERT_EQ(library.playlists()[1].tracks.size(), 1);
    EXPECT_EQ(library.playlists()[1].tracks[0].title, "Zeta \u2014 Other");

    // The text is shared with the other mode and survives the switch.
    sheet->setSource(MusicLibraryView::kPlaylists);
    EXPECT_EQ(sheet->queryField()->text(), " band");
    EXPECT_EQ(sheet->queryField()->placeholderText(), "Find a playlist");
}

// On the real client: the sheet tells a server that is not running from one that refuses the password,
// naming the address it tried.
TEST(MusicSheetAccess, SaysWhyTheServerGaveNoAccessWithItsAddress) {
    FakeMpd refusing(FakeMpd::refusesPassword());
    const unsigned nothing = FakeMpd::unusedPort();
    const std::pair<MpdMusicClient::Options, QString> cases[] = {
        {{"127.0.0.1", nothing, "", 5000},
         QString("Can't reach the music server at 127.0.0.1:%1. Start MPD, or set MPD_HOST and MPD_PORT.")
             .arg(nothing)},
        {{"127.0.0.1", refusing.port(), "wrong", 5000},
         QString("The music server at 127.0.0.1:%1 refused the password.").arg(refusing.port())},
    };
    for (const auto& [options, message] : cases) {
        ThreadedMusicService service(std::make_shared<MpdMusicClient>(options));
        MusicBrowser music(service);
        LibraryStore library(freshDir("access"));
        MusicLibraryView sheet(music, library);
        sheet.show();
        ASSERT_TRUE(music.isLoading());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !music.isLoading(); }, 30000));
        EXPECT_EQ(sheet.messageLine()->text(), message);
        EXPECT_FALSE(music.connected());
    }
}

}  // namespace quorvel
