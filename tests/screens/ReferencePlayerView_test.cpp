// The Player page on a real library store in a scratch folder and a player on a virtual output device whose
// clock moves only when the test pumps it.
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
#include "kit/QVAction.h"
#include "kit/QVBadge.h"
#include "kit/QVCard.h"
#include "kit/QVFormat.h"
#include "kit/QVNumber.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "screens/MusicLibraryView.h"
#include "screens/RowList.h"
#include "screens/SearchBar.h"
#include "screens/TrackSettingsEditor.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

constexpr double rate = 48000;
constexpr std::int64_t period = 1024;

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
        writeTone(dir + "/tone.wav", 0.5);
        writeLibrary(
            dir, {{.name = "Gig",
                   .tracks = {first, second, third, {.title = "Yesterday \u2014 The Band", .musicID = "y"}}},
                  {.name = "Empty"},
                  {.name = "Tones", .tracks = {tone, first}}});
        library = std::make_unique<LibraryStore>(dir);
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
    std::vector<QString> titles(const std::vector<ReferenceTrack>& tracks) const {
        std::vector<QString> out;
        for (const auto& t : tracks) out.push_back(t.title);
        return out;
    }
    std::vector<QString> stored() const {
        const auto& t = library->playlists()[0].tracks;
        return titles({t.begin(), t.end()});
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
};

}  // namespace

TEST_F(PlayerTest, FilterKeepsTheFullCountAndFindsArtistsWithoutCase) {
    EXPECT_EQ(view->countLabel()->text(), "4");
    QTest::keyClicks(view->searchBar()->field(), "VOCAL");
    EXPECT_EQ(titles(view->shownTracks()), (std::vector<QString>{"Vocal Check"}));
    EXPECT_EQ(view->rows()->rowCount(), 1);
    EXPECT_EQ(view->countLabel()->text(), "4");
    view->setQuery("the band");
    EXPECT_EQ(titles(view->shownTracks()), (std::vector<QString>{"Yesterday \u2014 The Band"}));
    EXPECT_EQ(view->searchBar()->field()->text(), "the band");
    view->setQuery(" ");  // as typed: only titles with a space
    EXPECT_EQ(view->shownTracks().size(), 3u);

    // Nothing matches: the bar and count stay, no rows, no empty-state card.
    view->setQuery("zzz");
    EXPECT_EQ(view->rows()->rowCount(), 0);
    EXPECT_FALSE(view->searchBar()->isHidden());
    EXPECT_TRUE(view->emptyState()->isHidden());
    // An empty playlist shows the empty state whatever the filter, and its actions open the importers.
    library->setSelected(1);
    EXPECT_FALSE(view->emptyState()->isHidden());
    EXPECT_TRUE(view->searchBar()->isHidden() && view->rows()->isHidden());
    const QList<QVAction*> actions = view->emptyState()->findChildren<QVAction*>();
    ASSERT_EQ(actions.size(), 2);
    actions[1]->click();
    EXPECT_TRUE(importing);
    actions[0]->click();
    ASSERT_NE(view->musicSheet(), nullptr);
    EXPECT_TRUE(view->musicSheet()->isVisible());
}

TEST_F(PlayerTest, MovesUseTheWholePlaylistAndSaveOnlyWhenSomethingMoved) {
    // Only the second track shows; "Move up" swaps it with the hidden first and saves.
    view->setQuery("vocal");
    QFile::remove(file());
    trigger(view->shownTracks()[0], "Move up");
    EXPECT_EQ(stored(),
              (std::vector<QString>{"Vocal Check", "Intro Kick", "Outro", "Yesterday \u2014 The Band"}));
    EXPECT_EQ(LibraryStore(dir).playlists()[0].tracks[0].title, "Vocal Check");

    // At either end nothing moves and nothing is saved.
    view->setQuery("");
    QFile::remove(file());
    trigger(view->shownTracks()[0], "Move up");
    trigger(view->shownTracks()[3], "Move down");
    EXPECT_FALSE(QFile::exists(file()));
    trigger(view->shownTracks()[0], "Move down");
    EXPECT_EQ(stored()[0], "Intro Kick");
    EXPECT_TRUE(QFile::exists(file()));

    // Remove saves even when the track is gone already.
    const ReferenceTrack gone = view->shownTracks()[2];
    trigger(gone, "Remove track");
    EXPECT_EQ(stored().size(), 3u);
    QFile::remove(file());
    view->remove(gone);
    EXPECT_TRUE(QFile::exists(file()));
}

TEST_F(PlayerTest, RowsOfferTheEditorOnlyForLocalCopiesAndItsSaveReplacesTheTrack) {
    EXPECT_EQ(entries(view->shownTracks()[3]), (QStringList{"Move up", "Move down", "Remove track"}));
    EXPECT_EQ(entries(view->shownTracks()[0]),
              (QStringList{"Cue, loop & trim", "Move up", "Move down", "Remove track"}));

    // The row's menu button opens the same menu.
    press(1, -20);
    auto* menu = view->findChild<QMenu*>("rowMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(qvShown(menu->actions()[0]->text()), "Cue, loop & trim");
    menu->actions()[0]->trigger();
    menu->close();
    ASSERT_NE(view->editor(), nullptr);
    view->editor()->loopToggle()->setChecked(true);
    QTest::mouseClick(view->editor()->saveButton(), Qt::LeftButton);
    settle();
    EXPECT_EQ(view->editor(), nullptr);
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
    picker->activated(2);
    EXPECT_EQ(library->selected(), 2);
    EXPECT_EQ(titles(view->shownTracks()), (std::vector<QString>{"Tone", "Intro Kick"}));
    EXPECT_FALSE(QFile::exists(file()));

    // Cancel keeps the typed name; Create trims, adds, selects and empties it.
    QMenu* add = view->addButton()->menu();
    EXPECT_EQ(entries(add), (QStringList{"Music server", "Audio files / M3U", "New playlist"}));
    add->actions()[2]->trigger();
    auto* name = view->newPlaylistAlert()->findChild<QLineEdit*>();
    QTest::keyClicks(name, "  Doors  ");
    view->newPlaylistAlert()->reject();
    settle();
    view->showNewPlaylist();
    name = view->newPlaylistAlert()->findChild<QLineEdit*>();
    EXPECT_EQ(name->text(), "  Doors  ");
    for (auto* b : view->newPlaylistAlert()->findChildren<QPushButton*>())
        if (b->text() == "Create") b->click();
    ASSERT_EQ(library->playlists().size(), 4);
    EXPECT_EQ(library->playlists()[3].name, "Doors");
    EXPECT_EQ(picker->currentText(), "Doors");
    settle();
    view->showNewPlaylist();
    EXPECT_EQ(view->newPlaylistAlert()->findChild<QLineEdit*>()->text(), "");
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

}  // namespace quorvel
