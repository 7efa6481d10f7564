// The track editor and the playlist edits behind it, on a real store in a scratch folder.
#include "screens/TrackSettingsEditor.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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
        writeLibrary(
            dir, {ReferencePlaylist{.name = "Gig", .tracks = {a, b, c}}, ReferencePlaylist{.name = "Empty"}});
        store = std::make_unique<LibraryStore>(dir);
    }
    const ReferenceTrack& track(int i) const { return store->playlists()[0].tracks[i]; }
    QString file() const { return dir + "/playlists.json"; }
};

// Opens the editor on `track` with the player's save action.
std::unique_ptr<TrackSettingsEditor> editorFor(LibraryStore& store, const ReferenceTrack& track) {
    auto editor = std::make_unique<TrackSettingsEditor>(
        track, [&store](const ReferenceTrack& t) { PlaylistEdits::replaceTrack(store, t); });
    editor->show();
    QApplication::setActiveWindow(editor.get());
    return editor;
}

void type(QVNumber* number, const QString& text, Qt::Key end = Qt::Key_Return) {
    QLineEdit* field = number->field();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, end);
}

}  // namespace

TEST(TrackSettingsEditor, SaveRewritesTheStoredTrackAndCancelLeavesItAlone) {
    Library lib;
    const ReferenceTrack stored = lib.track(1);

    // Cancel after edits: nothing reaches the store or the file.
    QFile::remove(lib.file());
    {
        auto editor = editorFor(*lib.store, stored);
        type(editor->startField(), "40");
        editor->loopToggle()->setChecked(true);
        QSignalSpy closed(editor.get(), &QDialog::rejected);
        editor->reject();
        EXPECT_EQ(closed.count(), 1);
    }
    EXPECT_FALSE(QFile::exists(lib.file()));
    EXPECT_EQ(lib.track(1).cueIn, 12.345);
    EXPECT_FALSE(lib.track(1).loop);

    // Save untouched, having tabbed through both fields: the file is written again and the stored
    // 12.345 s survives the two-digit display; the out-of-range trim is kept as it was.
    {
        auto editor = editorFor(*lib.store, stored);
        EXPECT_EQ(editor->startField()->field()->text(), "12.35");
        EXPECT_EQ(editor->trimReadout()->text(), "-30 dB");
        editor->startField()->field()->setFocus();
        QTest::keyClick(editor->startField()->field(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QSignalSpy closed(editor.get(), &QDialog::accepted);
        QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
        EXPECT_EQ(closed.count(), 1);
    }
    ASSERT_TRUE(QFile::exists(lib.file()));
    EXPECT_EQ(LibraryStore(lib.dir).playlists()[0].tracks[1].cueIn, 12.345);
    EXPECT_EQ(lib.track(1).trimDB, -30);

    // Values are stored as entered, also when they contradict each other; a number still being typed
    // when Save is pressed counts.
    {
        auto editor = editorFor(*lib.store, lib.track(1));
        type(editor->startField(), "30");
        editor->loopToggle()->setChecked(true);
        editor->trimSlider()->setValue(-650);
        EXPECT_EQ(editor->trimReadout()->text(), "-6 dB");
        editor->endField()->field()->setFocus();
        QTest::keyClicks(editor->endField()->field(), "\b\b\b\b\b10");
        QTest::mouseClick(editor->saveButton(), Qt::LeftButton);
    }
    const ReferenceTrack saved = LibraryStore(lib.dir).playlists()[0].tracks[1];
    EXPECT_EQ(saved.cueIn, 30);
    EXPECT_EQ(saved.cueOut, 10);
    EXPECT_TRUE(saved.loop);
    EXPECT_DOUBLE_EQ(saved.trimDB, -6.5);
    EXPECT_EQ(saved.id, stored.id);
    EXPECT_EQ(saved.title, stored.title);
    EXPECT_EQ(saved.filename, stored.filename);
}

TEST(TrackSettingsEditor, ShowsTheSongPartOfTheTitleAndTruncatesTheTrim) {
    Library lib;
    EXPECT_EQ(editorFor(*lib.store, lib.track(1))->page()->subtitle(), "Vocal");
    EXPECT_EQ(editorFor(*lib.store, lib.track(0))->page()->subtitle(), "Kick Test");
    for (auto [db, text] : std::vector<std::pair<double, const char*>>{
             {-3.7, "-3 dB"}, {-0.4, "0 dB"}, {-24, "-24 dB"}, {0, "0 dB"}, {-1e300, "-1000000000000000 dB"}})
        EXPECT_EQ(TrackSettingsEditor::trimText(db), text) << db;

    ScreenTesting::useWorkspaceStyle();
    auto editor = editorFor(*lib.store, lib.track(1));
    ScreenTesting::savePng(editor.get(), "track-settings-editor.png", {420, 420});
}

TEST(PlaylistEdits, ReplaceGoesToTheFirstMatchOfTheSelectedPlaylistOnly) {
    Library lib;
    ReferenceTrack edited = lib.track(0);
    edited.loop = true;

    // Not in the selected playlist: no change, no save.
    lib.store->setSelected(1);
    QFile::remove(lib.file());
    EXPECT_FALSE(PlaylistEdits::replaceTrack(*lib.store, edited));
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
    EXPECT_TRUE(LibraryStore(lib.dir).playlists()[0].tracks[0].loop);

    // A failed save shows only in the message; the edit stays in memory.
    blockSaves(lib.dir);
    edited.cueIn = 7;
    EXPECT_TRUE(PlaylistEdits::replaceTrack(*lib.store, edited));
    EXPECT_TRUE(lib.store->message().startsWith("Save failed: ")) << lib.store->message().toStdString();
    EXPECT_EQ(lib.track(0).cueIn, 7);
}

}  // namespace quorvel
