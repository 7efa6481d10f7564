// The track editor and the playlist edits behind it, on a real store in a scratch folder.
#include "screens/TrackSettingsEditor.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "ScreenTesting.h"
#include "kit/QVAction.h"
#include "kit/QVNumber.h"
#include "kit/QVPage.h"
#include "library/LibraryStore.h"
#include "screens/PlaylistEdits.h"

namespace quorvel {

using namespace ScreenTesting;

namespace {

struct Library {
    QString dir = freshDir("library");
    ReferenceTrack a = local("Kick Test"), b = local("Vocal — Jane Doe"), c = local("Tail");
    std::unique_ptr<LibraryStore> store;

    Library() {
        b.cueIn = 12.345;
        b.trimDB = -30;  // outside the slider's range, as a hand-edited file could hold
        writeLibrary(dir, {{.name = "Gig", .tracks = {a, b, c}}, {.name = "Empty"}});
        store = std::make_unique<LibraryStore>(dir);
    }
    const ReferenceTrack& track(int i) const { return store->playlists()[0].tracks[i]; }
    ReferenceTrack reloaded(int i) const { return LibraryStore(dir).playlists()[0].tracks[i]; }
    QString file() const { return dir + "/playlists.json"; }

    // Opens the editor on `track` with the player's save action.
    std::unique_ptr<TrackSettingsEditor> edit(const ReferenceTrack& track) {
        auto editor = std::make_unique<TrackSettingsEditor>(
            track, [this](const ReferenceTrack& t) { PlaylistEdits::replaceTrack(*store, t); });
        editor->show();
        QApplication::setActiveWindow(editor.get());
        return editor;
    }
};

void type(QVNumber* number, const QString& text) {
    number->field()->setFocus();
    number->field()->selectAll();
    QTest::keyClicks(number->field(), text);
    QTest::keyClick(number->field(), Qt::Key_Return);
}

}  // namespace

TEST(TrackSettingsEditor, SaveRewritesTheStoredTrackAndCancelLeavesItAlone) {
    Library lib;
    const ReferenceTrack stored = lib.track(1);

    // Cancel after edits: nothing reaches the store or the file.
    QFile::remove(lib.file());
    {
        auto editor = lib.edit(stored);
        EXPECT_EQ(editor->page()->subtitle(), "Vocal");  // the song part of the title
        type(editor->startField(), "40");
        editor->loopToggle()->setChecked(true);
        QSignalSpy closed(editor.get(), &QDialog::rejected);
        for (QPushButton* b : editor->findChildren<QPushButton*>())
            if (b->text() == "Cancel") b->click();
        EXPECT_EQ(closed.count(), 1);
    }
    EXPECT_FALSE(QFile::exists(lib.file()));
    EXPECT_EQ(lib.track(1).cueIn, 12.345);
    EXPECT_FALSE(lib.track(1).loop);

    // Save untouched, having tabbed through both fields: the stored 12.345 s survives the two-digit
    // display; the out-of-range trim is kept as it was.
    {
        auto editor = lib.edit(stored);
        EXPECT_EQ(editor->startField()->field()->text(), "12.35");
        EXPECT_EQ(editor->trimReadout()->text(), "-30 dB");
        EXPECT_EQ(editor->trimSlider()->value(), editor->trimSlider()->minimum());
        editor->startField()->field()->setFocus();
        QTest::keyClick(editor->startField()->field(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QSignalSpy closed(editor.get(), &QDialog::accepted);
        QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
        EXPECT_EQ(closed.count(), 1);
    }
    EXPECT_EQ(lib.reloaded(1).cueIn, 12.345);
    EXPECT_EQ(lib.reloaded(1).trimDB, -30);

    // Values are stored as entered, also when they contradict each other; a number still being typed
    // when Save is pressed counts.
    {
        auto editor = lib.edit(lib.track(1));
        type(editor->startField(), "30");
        editor->loopToggle()->setChecked(true);
        editor->trimSlider()->setValue(-650);
        EXPECT_EQ(editor->trimReadout()->text(), "-6 dB");
        editor->endField()->field()->setFocus();
        QTest::keyClicks(editor->endField()->field(), "\b\b\b\b\b10");
        QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    }
    const ReferenceTrack saved = lib.reloaded(1);
    EXPECT_EQ(saved.cueIn, 30);
    EXPECT_EQ(saved.cueOut, 10);
    EXPECT_TRUE(saved.loop);
    EXPECT_DOUBLE_EQ(saved.trimDB, -6.5);
    EXPECT_EQ(saved.id, stored.id);
    EXPECT_EQ(saved.title, stored.title);
    EXPECT_EQ(saved.filename, stored.filename);

    for (auto [db, text] : std::vector<std::pair<double, const char*>>{
             {-3.7, "-3 dB"}, {-0.4, "0 dB"}, {0, "0 dB"}, {NAN, "0 dB"}, {-1e300, "-1000000000000000 dB"}})
        EXPECT_EQ(TrackSettingsEditor::trimText(db), text) << db;
    useWorkspaceStyle();
    savePng(lib.edit(lib.track(0)).get(), "track-settings-editor.png", {420, 420});
}

TEST(PlaylistEdits, ReplaceGoesToTheFirstMatchOfTheSelectedPlaylistOnly) {
    Library lib;
    ReferenceTrack edited = lib.track(0);
    edited.loop = true;

    // Not in the selected playlist, or no playlist selected: no change, no save.
    QFile::remove(lib.file());
    for (int selected : {1, 5}) {
        lib.store->setSelected(selected);
        EXPECT_FALSE(PlaylistEdits::replaceTrack(*lib.store, edited));
        EXPECT_FALSE(PlaylistEdits::moveTrack(*lib.store, edited.id, 1));
    }
    EXPECT_FALSE(QFile::exists(lib.file()));
    EXPECT_FALSE(lib.track(0).loop);

    // Two tracks sharing the id: only the first is replaced, in one change.
    lib.store->setSelected(0);
    QList<ReferencePlaylist> list = lib.store->playlists();
    list[0].tracks.append(lib.track(0));
    lib.store->setPlaylists(list);
    QSignalSpy changes(lib.store.get(), &LibraryStore::playlistsChanged);
    EXPECT_TRUE(PlaylistEdits::replaceTrack(*lib.store, edited));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(lib.track(0).loop);
    EXPECT_FALSE(lib.track(3).loop);
    EXPECT_TRUE(lib.reloaded(0).loop);

    // A failed save shows only in the message; the edit stays in memory.
    blockSaves(lib.dir);
    edited.cueIn = 7;
    EXPECT_TRUE(PlaylistEdits::replaceTrack(*lib.store, edited));
    EXPECT_TRUE(lib.store->message().startsWith("Save failed: ")) << lib.store->message().toStdString();
    EXPECT_EQ(lib.track(0).cueIn, 7);
}

}  // namespace quorvel
