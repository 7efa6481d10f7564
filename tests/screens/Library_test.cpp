// The Player page, its track editor and its music sheet, on real library stores in scratch folders, the
// scripted music service, and a player on a virtual output whose clock moves only when the test pumps it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "FakeMpd.h"
#include "FakeMusicService.h"
#include "ScreenTesting.h"
#include "TestHome.h"
#include "ToneFile.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "engine/ThreadedMusicService.h"
#include "kit/QVAction.h"
#include "kit/QVCard.h"
#include "kit/QVEmpty.h"
#include "kit/QVFormat.h"
#include "kit/QVNumber.h"
#include "kit/QVPage.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "platform/MpdMusicClient.h"
#include "screens/MusicLibraryView.h"
#include "screens/PlaylistEdits.h"
#include "screens/ReferencePlayerView.h"
#include "screens/RowList.h"
#include "screens/SearchBar.h"
#include "screens/TrackSettingsEditor.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

constexpr double rate = 48000;
constexpr std::int64_t period = 1024;

QString freshDir(const char* label) { return QString::fromStdString(TestHome::freshDir(label)); }
// A local track named `title` (its file need not exist).
ReferenceTrack local(const QString& title) { return {.title = title, .filename = title + ".wav"}; }

struct PlayerTest : ::testing::Test {
    QString dir = freshDir("library");
    ReferenceTrack first = local("Intro Kick"), second = local("Vocal Check"), third = local("Outro");
    ReferenceTrack tone{.title = "Tone", .filename = "tone.wav"};
    std::unique_ptr<LibraryStore> library;
    std::shared_ptr<VirtualAudioSystem> system =
        std::make_shared<VirtualAudioSystem>(std::vector<VirtualDevice>{{.name = "out"}}, period);
    std::unique_ptr<AudioController> controller;
    FakeMusicService service;
    MusicBrowser music{service};
    bool importing = false;
    std::vector<ReferenceTrack> played;
    std::unique_ptr<ReferencePlayerView> view;

    void SetUp() override {
        useWorkspaceStyle();
        AudioHardware::install(system);
        controller = std::make_unique<AudioController>(AudioController::Setup{
            .clock = [s = system.get()] { return double(s->clock()) / rate; }, .music = &service});
        third.loop = true;
        second.cueIn = 12.345;
        second.trimDB = -30;  // outside the editor's slider, as a hand-edited file could hold
        writeTone(dir + "/tone.wav", 0.5);
        library = std::make_unique<LibraryStore>(dir);
        library->setPlaylists(
            {{.name = "Gig",
              .tracks = {first, second, third, {.title = "Yesterday \u2014 The Band", .musicID = "y"}}},
             {.name = "Empty"},
             {.name = "Tones", .tracks = {tone, first}}});
        ASSERT_TRUE(library->save());
        library->setSelected(0);
        // As the root view does: the controller loads the track.
        view = std::make_unique<ReferencePlayerView>(
            *library, *controller, music, QVBinding<bool>::of(importing), [this](const ReferenceTrack& t) {
                played.push_back(t);
                controller->playTrack(t.localRequest(), library->root());
            });
        view->resize(800, 1000);
        view->show();
    }
    void TearDown() override {
        view.reset();
        controller.reset();
    }
    QString file() const { return dir + "/playlists.json"; }
    bool ready() {
        return QTest::qWaitFor([&] { return !controller->busy(); }, 30000);
    }
    void step() {
        system->pump(period);
        controller->tick();
    }
    // A press on the row's play button (at the left), its title, or its menu button (at the right).
    void press(int row, int x) {
        const QRect r = view->rows()->rowRect(row);
        QTest::mouseClick(view->rows()->viewport(), Qt::LeftButton, {},
                          QPoint(x < 0 ? r.right() + x : r.left() + x, r.center().y()));
    }
    void trigger(const ReferenceTrack& track, const QString& entry) {
        std::unique_ptr<QMenu> menu(view->rowMenu(track));
        for (QAction* a : menu->actions())
            if (qvShown(a->text()) == entry) return a->trigger();
        ADD_FAILURE() << "no entry " << entry.toStdString();
    }
    static QStringList entries(const QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << qvShown(a->text());
        return out;
    }
    QStringList entries(const ReferenceTrack& track) {
        return entries(std::unique_ptr<QMenu>(view->rowMenu(track)).get());
    }
    ReferenceTrack reloaded(int i) const { return LibraryStore(dir).playlists()[0].tracks[i]; }
};

}  // namespace

TEST_F(PlayerTest, RowsOfferTheEditorOnlyForLocalCopiesAndItsSaveReplacesTheTrack) {
    // A looping track's row shows the accent repeat symbol in its right half, beside the menu button.
    const auto showsRepeat = [&](int row) {
        const QRect r = view->rows()->rowRect(row);
        const QImage half = view->rows()->viewport()->grab(r.adjusted(r.width() / 2, 0, 0, 0)).toImage();
        for (int y = 0; y < half.height(); ++y)
            for (int x = 0; x < half.width(); ++x)
                if (const QColor c = half.pixelColor(x, y); c.green() - std::max(c.red(), c.blue()) > 30)
                    return true;
        return false;
    };
    EXPECT_FALSE(showsRepeat(1));
    EXPECT_EQ(entries(view->shownTracks()[3]), (QStringList{"Move up", "Move down", "Remove track"}));
    EXPECT_EQ(entries(view->shownTracks()[0]),
              (QStringList{"Cue, loop & trim", "Move up", "Move down", "Remove track"}));
    // The row's menu button opens the same menu. Cancel after edits: nothing reaches the store or the file.
    press(1, -20);
    auto* menu = view->findChild<QMenu*>("rowMenu");
    ASSERT_NE(menu, nullptr);
    menu->actions()[0]->trigger();
    menu->close();
    TrackSettingsEditor* editor = view->editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->page()->subtitle(), "Vocal Check");
    type(editor->startField(), {}, "40");
    editor->loopToggle()->setChecked(true);
    QFile::remove(file());
    for (QPushButton* b : editor->findChildren<QPushButton*>())
        if (b->text() == "Cancel") b->click();
    settle();
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_EQ(library->playlists()[0].tracks[1].cueIn, 12.345);
    // Save untouched, having tabbed through both fields: the stored 12.345 s survives the two-digit
    // display; the out-of-range trim is kept as it was.
    view->editTrack(second);
    editor = view->editor();
    QApplication::setActiveWindow(editor);
    EXPECT_EQ(editor->startField()->field()->text(), "12.35");
    EXPECT_EQ(editor->trimReadout()->text(), "-30 dB");
    EXPECT_EQ(editor->trimSlider()->value(), editor->trimSlider()->minimum());
    editor->startField()->field()->setFocus();
    QTest::keyClick(editor->startField()->field(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_EQ(reloaded(1), second);
    // Values are stored as entered, also when they contradict each other; a number still being typed
    // when Save is pressed counts.
    view->editTrack(second);
    editor = view->editor();
    type(editor->startField(), {}, "30");
    editor->loopToggle()->setChecked(true);
    editor->trimSlider()->setValue(-650);
    EXPECT_EQ(editor->trimReadout()->text(), "-6 dB");
    editor->endField()->field()->setFocus();
    QTest::keyClicks(editor->endField()->field(), "\b\b\b\b\b10");
    savePng(editor, "track-settings-editor.png", {420, 420});
    QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    ReferenceTrack expected = second;
    expected.cueIn = 30;
    expected.cueOut = 10;
    expected.loop = true;
    expected.trimDB = -6.5;
    EXPECT_EQ(reloaded(1), expected);
    EXPECT_TRUE(showsRepeat(1));
}

// The edits go to the selected playlist only, to the first track with the id, in one change.
TEST_F(PlayerTest, PlaylistEditsReplaceTheFirstMatchOfTheSelectedPlaylistOnly) {
    ReferenceTrack edited = first;
    edited.loop = true;
    QFile::remove(file());
    for (int selected : {1, 5}) {
        library->setSelected(selected);
        EXPECT_FALSE(PlaylistEdits::replaceTrack(*library, edited));
        EXPECT_FALSE(PlaylistEdits::moveTrack(*library, edited.id, 1));
    }
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_FALSE(library->playlists()[0].tracks[0].loop);

    library->setSelected(2);  // "Tones": tone, first
    QList<ReferencePlaylist> list = library->playlists();
    list[2].tracks.append(first);
    library->setPlaylists(list);
    QSignalSpy changes(library.get(), &LibraryStore::playlistsChanged);
    EXPECT_TRUE(PlaylistEdits::replaceTrack(*library, edited));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(library->playlists()[2].tracks[1].loop);
    EXPECT_FALSE(library->playlists()[2].tracks[2].loop);
    EXPECT_TRUE(LibraryStore(dir).playlists()[2].tracks[1].loop);
}

// The filter finds titles in any case; the count beside it stays the playlist's total, and a filter that
// matches nothing leaves an empty list, not the card of an empty playlist.
TEST_F(PlayerTest, TheTrackFilterMatchesTitlesAndTheCountStaysTheTotal) {
    QLineEdit* filter = view->searchBar()->field();
    EXPECT_EQ(view->countLabel()->text(), "4");
    QTest::keyClicks(filter, "CHECK");
    ASSERT_EQ(view->rows()->rowCount(), 1);
    EXPECT_EQ(view->shownTracks()[0].title, "Vocal Check");
    EXPECT_EQ(view->countLabel()->text(), "4");
    filter->setText("zzz");
    EXPECT_EQ(view->rows()->rowCount(), 0);
    EXPECT_TRUE(view->emptyState()->isHidden());
    EXPECT_EQ(view->countLabel()->text(), "4");
}

TEST_F(PlayerTest, PlaybackOptionsWriteOnlyTheFieldTheUserChanged) {
    EXPECT_FALSE(view->channelsPicker()->isVisible());
    view->optionsToggle()->click();
    EXPECT_TRUE(view->channelsPicker()->isVisible());
    EXPECT_FALSE(view->highPassField()->isVisible());

    view->channelsPicker()->activated(4);
    EXPECT_EQ(controller->processing().mode, StereoMode::swap);
    view->filterToggle()->click();
    EXPECT_TRUE(controller->processing().filtered);
    EXPECT_TRUE(view->highPassField()->isVisible());
    QLineEdit* hp = view->highPassField()->field();
    hp->setFocus();
    hp->selectAll();
    QTest::keyClicks(hp, "80");
    QTest::keyClick(hp, Qt::Key_Return);
    FileProcessSettings expected;
    expected.mode = StereoMode::swap;
    expected.filtered = true;
    expected.hp = 80;
    EXPECT_EQ(controller->processing(), expected);
    // Settings changed elsewhere show without writing back.
    FileProcessSettings p = controller->processing();
    p.mode = StereoMode::mono;
    p.filtered = false;
    p.matchRMS = true;
    controller->setProcessing(p);
    EXPECT_EQ(view->channelsPicker()->currentText(), "Mono");
    EXPECT_TRUE(view->findChildren<QCheckBox*>()[0]->isChecked());
    EXPECT_FALSE(view->highPassField()->isVisible());
    EXPECT_EQ(controller->processing(), p);
}

// The Now playing card comes in above the rows when a track starts; the page scrolls with it, so a second
// press at the same point pauses that track.
TEST_F(PlayerTest, ATrackThatStartsStaysUnderThePointer) {
    library->setSelected(2);
    settleLayout();
    const QRect row = view->rows()->rowRect(0);
    const QPoint at = view->rows()->viewport()->mapToGlobal(QPoint(row.left() + 30, row.center().y()));
    clickAt(view.get(), at);
    ASSERT_TRUE(ready());
    settleLayout();
    ASSERT_TRUE(view->nowPlaying()->isVisible());
    EXPECT_EQ(view->rows()->viewport()->mapToGlobal(QPoint(row.left() + 30, row.center().y())), at);
    saveGrab(view.get(), "player-track-started.png");
    clickAt(view.get(), at);
    EXPECT_EQ(played.size(), 1u);
    EXPECT_FALSE(controller->playing());
}

TEST_F(PlayerTest, TheLoadedTrackPausesAndResumesAndItsCardFollowsThePlayer) {
    // A press on the title plays nothing; the play button of a track not loaded goes to the root.
    view->setQuery("o");  // Intro Kick, Vocal Check, Outro
    press(1, 200);
    EXPECT_TRUE(played.empty());
    press(1, 30);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].id, second.id);
    ASSERT_TRUE(ready());
    EXPECT_FALSE(controller->selectedTrackID().has_value());  // its file does not exist
    EXPECT_TRUE(view->nowPlaying()->isHidden());

    view->setQuery("");
    library->setSelected(2);
    press(0, 30);
    ASSERT_TRUE(ready());
    ASSERT_EQ(controller->selectedTrackID(), tone.id) << controller->status().toStdString();
    EXPECT_FALSE(view->nowPlaying()->isHidden());
    EXPECT_EQ(view->statusLine()->text(), "Tone");
    EXPECT_EQ(view->sourceBadge()->title(), "Local audio");
    EXPECT_EQ(view->durationLabel()->text(), "0:00");
    EXPECT_EQ(view->playLabel(tone), "Pause Tone");
    EXPECT_EQ(view->playLabel(first), "Play Intro Kick");
    // The loaded track's button pauses and resumes it; the root is not asked again.
    press(0, 30);
    EXPECT_FALSE(controller->playing());
    EXPECT_EQ(view->playLabel(tone), "Play Tone");
    press(0, 30);
    EXPECT_TRUE(controller->playing());
    EXPECT_EQ(played.size(), 2u);
    // The position slider follows the player without seeking back: one published change per tick.
    QSlider* slider = view->positionSlider();
    EXPECT_EQ(slider->maximum(), ReferencePlayerView::kPositionSteps);  // a 0.5 s track spans 0 to 1 s
    QSignalSpy moved(controller.get(), &AudioController::currentTimeChanged);
    for (int i = 0; i < 5; ++i) step();
    EXPECT_EQ(moved.count(), 5);
    EXPECT_GT(controller->currentTime(), 0.1);
    EXPECT_EQ(slider->value(), std::lround(controller->currentTime() * ReferencePlayerView::kPositionSteps));
    EXPECT_EQ(view->currentTimeLabel()->text(), "0:00");
    view->optionsToggle()->click();
    savePng(view.get(), "player-playlist.png", {800, 1000});
    // A drag seeks at once and is not pulled back by the ticks; the player clamps it to the track.
    slider->setSliderDown(true);
    slider->setSliderPosition(200);
    EXPECT_DOUBLE_EQ(controller->currentTime(), 0.2);
    step();
    EXPECT_EQ(slider->sliderPosition(), 200);
    slider->setSliderPosition(800);
    EXPECT_DOUBLE_EQ(controller->currentTime(), 0.5);
    slider->setSliderDown(false);
    slider->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_DOUBLE_EQ(controller->currentTime(), 0);
    // The highlight goes by id: moving the track or switching playlists does not carry it to a row.
    view->move(tone, +1);
    EXPECT_TRUE(view->isCurrent(view->shownTracks()[1]));
    EXPECT_FALSE(view->isCurrent(view->shownTracks()[0]));
    library->setSelected(0);
    for (const auto& t : view->shownTracks()) EXPECT_FALSE(view->isCurrent(t));
    // Removing the playing track leaves it playing.
    library->setSelected(2);
    view->remove(tone);
    EXPECT_TRUE(controller->playing());
    EXPECT_FALSE(view->nowPlaying()->isHidden());
    controller->stop();
    EXPECT_TRUE(view->nowPlaying()->isHidden());
}

namespace {

using Tracks = Result<std::optional<TrackBatch>>;

// The music sheet as the player opens it, over the player's library.
struct MusicSheetTest : PlayerTest {
    MusicLibraryView* open() {
        view->showMusic();
        return view->musicSheet();
    }
    void connectWith(std::vector<std::string> names) {
        music.connect();
        service.release("authorization", MusicAuthorizationStatus::authorized);
        PlaylistBatch batch;
        for (auto& n : names) batch.items.push_back(Playlist{"id-" + n, n});
        service.release("playlists", Result<PlaylistBatch>(batch));
    }
    static void clickRow(RowList* rows, int row) {
        QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, rows->rowRect(row).center());
    }
    int calls(const std::string& kind) const {
        return int(std::count_if(service.log.begin(), service.log.end(), [&](const std::string& l) {
            return l == kind || l.rfind(kind + " ", 0) == 0;
        }));
    }
};

}  // namespace

TEST_F(MusicSheetTest, ConnectsOnceFiltersAsTypedAndShowsTheEmptyStateOnlyAfterAnEmptyLoad) {
    MusicLibraryView* sheet = open();
    EXPECT_EQ(calls("authorization"), 1);
    EXPECT_FALSE(sheet->progress()->isHidden());
    EXPECT_EQ(sheet->progressLabel()->text(), "Loading playlists");
    EXPECT_FALSE(sheet->refreshButton()->isEnabled());
    EXPECT_TRUE(sheet->playlistRowsEnabled());
    EXPECT_TRUE(sheet->emptyState()->isHidden());
    EXPECT_EQ(sheet->messageLine()->text(), "Loading the music server's playlists…");
    EXPECT_TRUE(sheet->serverLine()->isHidden());

    service.release("authorization", MusicAuthorizationStatus::authorized);
    PlaylistBatch batch{{{"1", "Rock Classics"}, {"2", "Jazz"}, {"3", "Prog Rock"}}, std::nullopt};
    service.release("playlists", Result<PlaylistBatch>(batch));
    // The sheet names the server its playlists come from.
    EXPECT_FALSE(sheet->serverLine()->isHidden());
    EXPECT_EQ(sheet->serverLine()->text(), "Playlists and songs from the music server at music.test:6600");
    EXPECT_TRUE(sheet->progress()->isHidden());
    EXPECT_TRUE(sheet->refreshButton()->isEnabled());
    EXPECT_EQ(sheet->playlistRows()->rowCount(), 3);
    EXPECT_TRUE(sheet->playlistRows()->isVisible());
    EXPECT_EQ(sheet->playlistRows()->window(), sheet);  // in the sheet, not a window of their own
    ScreenTesting::savePng(sheet, "music-sheet-playlists.png", {580, 600});

    QTest::keyClicks(sheet->queryField(), "roc");
    ASSERT_EQ(sheet->shownPlaylists().size(), 2u);
    EXPECT_EQ(sheet->shownPlaylists()[0].name, "Prog Rock");
    sheet->queryField()->setText("zzz");
    EXPECT_EQ(sheet->playlistRows()->rowCount(), 0);
    EXPECT_TRUE(sheet->emptyState()->isHidden());
    // Return searches nothing in this mode.
    QTest::keyClick(sheet->queryField(), Qt::Key_Return);
    EXPECT_EQ(calls("search"), 0);
    sheet->queryField()->clear();
    EXPECT_EQ(sheet->playlistRows()->rowCount(), 3);
    // Opened again once connected: the list is there at once and nothing connects.
    sheet->reject();
    settle();
    EXPECT_EQ(view->musicSheet(), nullptr);
    MusicLibraryView* again = open();
    EXPECT_EQ(calls("authorization"), 1);
    EXPECT_EQ(again->playlistRows()->rowCount(), 3);
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
    settle();
    EXPECT_EQ(view->musicSheet(), nullptr);
}

TEST_F(MusicSheetTest, RowsWaitForAnImportAndOnlyASuccessfulOneClosesTheSheet) {
    connectWith({"Alpha", "Show"});
    MusicLibraryView* sheet = open();
    QSignalSpy accepted(sheet, &QDialog::accepted);

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
    EXPECT_EQ(library->playlists().size(), 3);

    clickRow(sheet->playlistRows(), 1);
    TrackBatch tracks{"id-Show", {Track{makeSong("a.wav", "First Light", "Quorvel Test")}}, std::nullopt};
    service.release("tracks", Tracks(tracks));
    EXPECT_EQ(accepted.count(), 1);
    settle();
    EXPECT_EQ(view->musicSheet(), nullptr);
    ASSERT_EQ(library->playlists().size(), 4);
    EXPECT_EQ(library->selected(), 3);
    EXPECT_EQ(view->playlistPicker()->currentText(), "Show");
    EXPECT_EQ(music.message(), "Imported Show · 1 track");
}

// Find songs: Search sends the term as typed; a song's plus button adds it to the selected playlist, which
// is saved, and the sheet stays open; a press elsewhere on its row adds nothing.
TEST_F(MusicSheetTest, FoundSongsAreAddedWithTheirPlusButton) {
    connectWith({"Alpha"});
    MusicLibraryView* sheet = open();
    QTest::mouseClick(sheet->modePicker()->segment("Find songs"), Qt::LeftButton);
    EXPECT_FALSE(sheet->refreshButton()->isVisible());
    QTest::keyClicks(sheet->queryField(), "the band ");
    QTest::mouseClick(sheet->searchButton(), Qt::LeftButton);
    service.release("authorization", MusicAuthorizationStatus::authorized);
    ASSERT_EQ(service.pendingCall("search").argument, "the band  25");
    service.release("search",
                    Result<std::vector<Song>>(std::vector<Song>{makeSong("y.wav", "Yesterday", "The Band"),
                                                                makeSong("t.wav", "Today", "The Band")}));
    RowList* rows = sheet->songRows();
    ASSERT_EQ(rows->rowCount(), 2);
    EXPECT_FALSE(sheet->playlistRows()->isVisible());

    const QRect row = rows->rowRect(1);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, QPoint(row.left() + 40, row.center().y()));
    EXPECT_EQ(library->playlists()[0].tracks.size(), 4);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, QPoint(row.right() - 30, row.center().y()));
    const QList<ReferenceTrack> saved = LibraryStore(dir).playlists()[0].tracks;
    ASSERT_EQ(saved.size(), 5);
    EXPECT_EQ(saved.last().title, "Today \u2014 The Band");
    EXPECT_EQ(saved.last().musicID, "t.wav");
    EXPECT_FALSE(saved.last().libraryMusic);
    EXPECT_EQ(music.message(), "Added Today");
    EXPECT_TRUE(sheet->isVisible());
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
        EXPECT_TRUE(sheet.serverLine()->isHidden());
    }
}

}  // namespace quorvel
