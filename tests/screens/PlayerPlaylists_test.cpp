// The Player page's playlist picker and new-playlist box, on a real library store in a scratch folder.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "FakeMusicService.h"
#include "ScreenTesting.h"
#include "TestHome.h"
#include "engine/AudioController.h"
#include "kit/QVFormat.h"
#include "library/LibraryStore.h"
#include "library/MusicBrowser.h"
#include "screens/ReferencePlayerView.h"

namespace quorvel {

using namespace ScreenTesting;

// Choosing in the picker selects that playlist, the first one too; Create adds the typed playlist,
// selects it and closes the box, whose field is empty at the next opening.
TEST(PlayerPlaylists, ThePickerSelectsAnyPlaylistAndCreateClosesTheBoxOnTheNewPlaylist) {
    useWorkspaceStyle();
    LibraryStore library(QString::fromStdString(TestHome::freshDir("player-playlists")));
    library.setPlaylists({{.name = "Gig"}, {.name = "Tones"}});
    library.setSelected(1);
    FakeMusicService service;
    MusicBrowser music{service};
    AudioController audio(AudioController::Setup{.music = &service});
    bool importing = false;
    ReferencePlayerView view(library, audio, music, QVBinding<bool>::of(importing),
                             [](const ReferenceTrack&) {});
    view.show();

    QComboBox* picker = view.playlistPicker();
    EXPECT_EQ(picker->currentText(), "Tones");
    QTest::keyClick(picker, Qt::Key_Up);
    EXPECT_EQ(library.selected(), 0);
    QTest::keyClick(picker, Qt::Key_Down);
    EXPECT_EQ(library.selected(), 1);

    view.showNewPlaylist();
    QPointer<QDialog> box = view.newPlaylistAlert();
    ASSERT_TRUE(box && box->isVisible());
    QTest::keyClicks(box->findChild<QLineEdit*>(), "Doors");
    for (QPushButton* button : box->findChildren<QPushButton*>())
        if (qvShown(button->text()) == "Create") QTest::mouseClick(button, Qt::LeftButton);
    settle();
    EXPECT_TRUE(!box || !box->isVisible()) << "Create closes the box";
    ASSERT_EQ(library.playlists().size(), 3);
    EXPECT_EQ(library.playlists()[2].name, "Doors");
    EXPECT_EQ(library.selected(), 2);
    EXPECT_EQ(picker->currentText(), "Doors");

    view.showNewPlaylist();
    ASSERT_NE(view.newPlaylistAlert(), nullptr);
    EXPECT_EQ(view.newPlaylistAlert()->findChild<QLineEdit*>()->text(), "");
}

}  // namespace quorvel
