// The Player page on a real library store in a scratch folder and an idle player.
#include "screens/ReferencePlayerView.h"

#include <gtest/gtest.h>

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

#include "FakeMusicService.h"
#include "ScreenTesting.h"
#include "engine/AudioController.h"
#include "engine/AudioHardware.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVNumber.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "platform/VirtualAudioSystem.h"
#include "screens/MusicLibraryView.h"
#include "screens/RowList.h"
#include "screens/SearchBar.h"
#include "screens/TrackSettingsEditor.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

constexpr double rate = 48000;
constexpr std::int64_t period = 1024;

// The player plays on a virtual output device whose clock moves only when the test pumps it; after each
// period the test runs the player's tick, as its timer would.
struct PlayerTest : ::testing::Test {
    QString dir = freshDir("library");
    ReferenceTrack first = local("Intro Kick"), second = local("Vocal Check"), third = local("Outro");
    ReferenceTrack tone{.title = "Tone", .filename = "tone.wav"};
    std::unique_ptr<LibraryStore> library;
    std::shared_ptr<VirtualAudioSystem> system = std::make_shared<VirtualAudioSystem>(
        std::vector<VirtualDevice>{VirtualDevice{.name = "out"}}, period);
    std::unique_ptr<AudioController> controller;
    FakeMusicService service;
    MusicBrowser music{service};
    bool importing = false;
    std::vector<ReferenceTrack> played;
    std::unique_ptr<ReferencePlayerView> view;

    void SetUp() override {
        AudioHardware::install(system);
        controller = std::make_unique<AudioController>(AudioController::Setup{
            .clock = [s = system.get()] { return static_cast<double>(s->clock()) / rate; },
            .music = &service});
        ReferenceTrack song{.title = "Yesterday \u2014 The Band", .musicID = "y.wav"};
        third.loop = true;
        writeTone(dir + "/tone.wav", 0.5);
        writeLibrary(dir, {ReferencePlaylist{.name = "Gig", .tracks = {first, second, third, song}},
                           ReferencePlaylist{.name = "Empty"},
                           ReferencePlaylist{.name = "Tones", .tracks = {tone, first}}});
        library = std::make_unique<LibraryStore>(dir);
        library->setSelected(0);
        // As the root view does: the controller loads the track.
        view = std::make_unique<ReferencePlayerView>(
            *library, *controller, music, QVBinding<bool>::of(importing), [this](const ReferenceTrack& t) {
                played.push_back(t);
                controller->playTrack(t.localRequest(), library->root());
            });
        view->resize(800, 900);
        view->show();
    }
    std::vector<QString> shownTitles() const {
        std::vector<QString> out;
        for (const auto& t : view->shownTracks()) out.push_back(t.title);
        return out;
    }
    std::vector<QString> storedTitles(int playlist = 0) const {
        std::vector<QString> out;
        for (const auto& t : library->playlists()[playlist].tracks) out.push_back(t.title);
        return out;
    }
    QString file() const { return dir + "/playlists.json"; }
    void TearDown() override {
        view.reset();
        controller.reset();
    }
    bool ready() {
        return QTest::qWaitFor([&] { return !controller->busy(); }, 30000);
    }
    void step() {
        system->pump(period);
        controller->tick();
    }
    void pressPlay(int row) {
        const QRect r = view->rows()->rowRect(row);
        QTest::mouseClick(view->rows()->viewport(), Qt::LeftButton, {},
                          QPoint(r.left() + 30, r.center().y()));
    }
    // Menu entries by the text they show.
    void trigger(const ReferenceTrack& track, const QString& entry) {
        std::unique_ptr<QMenu> menu(view->rowMenu(track));
        for (QAction* a : menu->actions())
            if (qvShown(a->text()) == entry) return a->trigger();
        ADD_FAILURE() << "no entry " << entry.toStdString();
    }
    static QStringList entries(QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions()) out << qvShown(a->text());
        delete menu;
        return out;
    }
};

}  // namespace

TEST_F(PlayerTest, FilterKeepsTheFullCountAndFindsArtistsWithoutCase) {
    EXPECT_EQ(view->countLabel()->text(), "4");
    EXPECT_EQ(view->rows()->rowCount(), 4);

    QTest::keyClicks(view->searchBar()->field(), "VOCAL");
    EXPECT_EQ(shownTitles(), (std::vector<QString>{"Vocal Check"}));
    EXPECT_EQ(view->countLabel()->text(), "4");
    view->setQuery("the band");
    EXPECT_EQ(shownTitles(), (std::vector<QString>{"Yesterday \u2014 The Band"}));
    view->setQuery(" ");  // as typed: only titles with a space
    EXPECT_EQ(shownTitles().size(), 3u);

    // Nothing matches: the bar and count stay, no rows, no empty-state card.
    view->setQuery("zzz");
    EXPECT_EQ(view->rows()->rowCount(), 0);
    EXPECT_FALSE(view->searchBar()->isHidden());
    EXPECT_TRUE(view->emptyState()->isHidden());

    // An empty playlist shows the empty state whatever the filter.
    library->setSelected(1);
    EXPECT_FALSE(view->emptyState()->isHidden());
    EXPECT_TRUE(view->searchBar()->isHidden());
}

TEST_F(PlayerTest, MovesUseTheWholePlaylistAndSaveOnlyWhenSomethingMoved) {
    // Only the second track shows; "Move up" swaps it with the hidden first and saves.
    view->setQuery("vocal");
    QFile::remove(file());
    trigger(view->shownTracks()[0], "Move up");
    EXPECT_EQ(storedTitles()[0], "Vocal Check");
    EXPECT_EQ(storedTitles()[1], "Intro Kick");
    EXPECT_EQ(shownTitles(), (std::vector<QString>{"Vocal Check"}));
    ASSERT_TRUE(QFile::exists(file()));
    EXPECT_EQ(LibraryStore(dir).playlists()[0].tracks[0].title, "Vocal Check");

    // At either end nothing moves and nothing is saved.
    view->setQuery("");
    QFile::remove(file());
    trigger(view->shownTracks()[0], "Move up");
    trigger(view->shownTracks()[3], "Move down");
    EXPECT_FALSE(QFile::exists(file()));
    trigger(view->shownTracks()[0], "Move down");
    EXPECT_EQ(storedTitles()[0], "Intro Kick");
    EXPECT_TRUE(QFile::exists(file()));

    // Remove saves even when the track is gone already.
    const ReferenceTrack gone = view->shownTracks()[2];
    trigger(gone, "Remove track");
    EXPECT_EQ(storedTitles().size(), 3u);
    QFile::remove(file());
    view->remove(gone);
    EXPECT_TRUE(QFile::exists(file()));
}

TEST_F(PlayerTest, RowsOfferTheEditorOnlyForLocalCopiesAndItsSaveReplacesTheTrack) {
    EXPECT_EQ(entries(view->rowMenu(view->shownTracks()[3])),
              (QStringList{"Move up", "Move down", "Remove track"}));
    EXPECT_EQ(entries(view->rowMenu(view->shownTracks()[0])),
              (QStringList{"Cue, loop & trim", "Move up", "Move down", "Remove track"}));

    trigger(view->shownTracks()[1], "Cue, loop & trim");
    ASSERT_NE(view->editor(), nullptr);
    view->editor()->loopToggle()->setChecked(true);
    QTest::mouseClick(reinterpret_cast<QWidget*>(view->editor()->saveButton()), Qt::LeftButton);
    QTest::qWait(0);
    EXPECT_EQ(view->editor(), nullptr);
    EXPECT_TRUE(library->playlists()[0].tracks[1].loop);
    EXPECT_TRUE(LibraryStore(dir).playlists()[0].tracks[1].loop);
}

TEST_F(PlayerTest, PickerFollowsTheStoreAndNewPlaylistsAreTrimmed) {
    QComboBox* picker = view->playlistPicker();
    ASSERT_EQ(picker->count(), 3);
    EXPECT_EQ(picker->currentText(), "Gig");

    // Rebuilding the entries after an edit leaves the selection alone.
    QSignalSpy selection(library.get(), &LibraryStore::selectedChanged);
    trigger(view->shownTracks()[0], "Move down");
    EXPECT_EQ(selection.count(), 0);
    EXPECT_EQ(picker->currentIndex(), 0);

    // The user's choice changes only the selection: nothing is saved.
    QFile::remove(file());
    picker->activated(1);
    EXPECT_EQ(library->selected(), 1);
    EXPECT_FALSE(QFile::exists(file()));

    // Cancel keeps the typed name; Create trims, adds, selects and empties it.
    view->showNewPlaylist();
    auto* name = view->newPlaylistAlert()->findChild<QLineEdit*>();
    QTest::keyClicks(name, "  Doors  ");
    view->newPlaylistAlert()->reject();
    QTest::qWait(0);
    view->showNewPlaylist();
    name = view->newPlaylistAlert()->findChild<QLineEdit*>();
    EXPECT_EQ(name->text(), "  Doors  ");
    for (auto* b : view->newPlaylistAlert()->findChildren<QPushButton*>())
        if (b->text() == "Create") b->click();
    ASSERT_EQ(library->playlists().size(), 4);
    EXPECT_EQ(library->playlists()[3].name, "Doors");
    EXPECT_EQ(picker->currentText(), "Doors");
    EXPECT_FALSE(view->emptyState()->isHidden());
    QTest::qWait(0);
    view->showNewPlaylist();
    EXPECT_EQ(view->newPlaylistAlert()->findChild<QLineEdit*>()->text(), "");
}

TEST_F(PlayerTest, AddMenuAndEmptyStateOpenTheSheetsAndTheImporter) {
    QMenu* menu = view->addButton()->menu();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions()) texts << a->text();
    EXPECT_EQ(texts, (QStringList{"Music server", "Audio files / M3U", "New playlist"}));
    menu->actions()[1]->trigger();
    EXPECT_TRUE(importing);
    menu->actions()[0]->trigger();
    ASSERT_NE(view->musicSheet(), nullptr);
    EXPECT_TRUE(view->musicSheet()->isVisible());
    view->musicSheet()->accept();
    QTest::qWait(0);
    EXPECT_EQ(view->musicSheet(), nullptr);
}

TEST_F(PlayerTest, PlaybackOptionsWriteOnlyTheFieldTheUserChanged) {
    EXPECT_TRUE(view->channelsPicker()->isHidden() || !view->channelsPicker()->isVisible());
    view->optionsToggle()->click();
    EXPECT_TRUE(view->channelsPicker()->isVisible());
    EXPECT_EQ(view->channelsPicker()->itemText(5), "Invert right");
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
    EXPECT_EQ(controller->processing().hp, 80);
    EXPECT_EQ(controller->processing().lp, 20000);
    EXPECT_FALSE(controller->processing().matchRMS);
    EXPECT_EQ(controller->processing().targetDB, -20);

    // Settings changed elsewhere show without writing back.
    FileProcessSettings p = controller->processing();
    p.mode = StereoMode::mono;
    p.filtered = false;
    controller->setProcessing(p);
    EXPECT_EQ(view->channelsPicker()->currentText(), "Mono");
    EXPECT_FALSE(view->highPassField()->isVisible());
    EXPECT_EQ(controller->processing(), p);
}

TEST_F(PlayerTest, Screenshot) {
    ScreenTesting::useWorkspaceStyle();
    QList<ReferencePlaylist> list = library->playlists();
    list[2].tracks << second << third
                   << ReferenceTrack{.title = "Yesterday \u2014 The Band", .musicID = "y.wav"};
    library->setPlaylists(list);
    library->setSelected(2);
    view = std::make_unique<ReferencePlayerView>(
        *library, *controller, music, QVBinding<bool>::of(importing),
        [this](const ReferenceTrack& t) { controller->playTrack(t.localRequest(), library->root()); });
    view->resize(800, 1000);
    view->show();
    pressPlay(0);
    ASSERT_TRUE(ready());
    for (int i = 0; i < 8; ++i) step();
    view->optionsToggle()->click();
    ScreenTesting::savePng(view.get(), "player-playlist.png", {800, 1000});
}

TEST_F(PlayerTest, PlayButtonOfATrackThatIsNotLoadedGoesToTheRoot) {
    view->setQuery("o");  // Intro Kick, Vocal Check, Outro
    const QRect row = view->rows()->rowRect(1);
    QTest::mouseClick(view->rows()->viewport(), Qt::LeftButton, {},
                      QPoint(row.center().x(), row.center().y()));
    EXPECT_TRUE(played.empty());  // the title, not the button
    QTest::mouseClick(view->rows()->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 30, row.center().y()));
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].id, second.id);
    ASSERT_TRUE(ready());
    EXPECT_FALSE(controller->selectedTrackID().has_value());  // its file does not exist
    EXPECT_EQ(view->playLabel(second), "Play Vocal Check");
    EXPECT_EQ(view->playLabel(view->shownTracks()[0]), "Play Intro Kick");
}

TEST_F(PlayerTest, TheLoadedTrackPausesAndResumesAndItsCardFollowsThePlayer) {
    library->setSelected(2);
    EXPECT_TRUE(view->nowPlaying()->isHidden());
    pressPlay(0);
    ASSERT_EQ(played.size(), 1u);
    ASSERT_TRUE(ready());
    ASSERT_EQ(controller->selectedTrackID(), tone.id) << controller->status().toStdString();
    EXPECT_TRUE(controller->playing());
    EXPECT_FALSE(view->nowPlaying()->isHidden());
    EXPECT_EQ(view->statusLine()->text(), "Tone");
    EXPECT_EQ(view->sourceBadge()->title(), "Local audio");
    EXPECT_EQ(view->durationLabel()->text(), "0:00");
    EXPECT_EQ(view->playLabel(tone), "Pause Tone");

    // The loaded track's button pauses and resumes it; the root is not asked again.
    pressPlay(0);
    EXPECT_FALSE(controller->playing());
    EXPECT_EQ(view->playLabel(tone), "Play Tone");
    pressPlay(0);
    EXPECT_TRUE(controller->playing());
    EXPECT_EQ(played.size(), 1u);

    // The position slider follows the player without seeking back: one published change per tick.
    QSlider* slider = view->positionSlider();
    EXPECT_EQ(slider->maximum(), ReferencePlayerView::kPositionSteps);  // a 0.5 s track spans 0 to 1 s
    QSignalSpy moved(controller.get(), &AudioController::currentTimeChanged);
    for (int i = 0; i < 5; ++i) step();
    EXPECT_EQ(moved.count(), 5);
    EXPECT_GT(controller->currentTime(), 0.1);
    EXPECT_EQ(slider->value(), std::lround(controller->currentTime() * ReferencePlayerView::kPositionSteps));

    // A drag seeks at once; the player clamps it to the track.
    slider->setSliderDown(true);
    slider->setSliderPosition(200);
    EXPECT_DOUBLE_EQ(controller->currentTime(), 0.2);
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

    // Another track starts through the root even while one plays.
    library->setSelected(2);
    pressPlay(0);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[1].id, first.id);
    ASSERT_TRUE(ready());
    EXPECT_TRUE(view->nowPlaying()->isHidden());  // that file is missing: the player stopped
}

TEST_F(PlayerTest, RemovingThePlayingTrackLeavesItPlaying) {
    library->setSelected(2);
    pressPlay(0);
    ASSERT_TRUE(ready());
    view->remove(tone);
    EXPECT_EQ(library->playlists()[2].tracks.size(), 1);
    EXPECT_TRUE(controller->playing());
    EXPECT_FALSE(view->nowPlaying()->isHidden());
    controller->stop();
    EXPECT_TRUE(view->nowPlaying()->isHidden());
}

}  // namespace quorvel
