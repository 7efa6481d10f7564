#include "screens/PlaylistEdits.h"

#include "library/LibraryStore.h"

namespace quorvel {

namespace PlaylistEdits {

namespace {

bool validSelection(const LibraryStore& store) {
    return store.selected() >= 0 && store.selected() < store.playlists().size();
}

qsizetype indexOf(const ReferencePlaylist& playlist, const Uuid& id) {
    for (qsizetype i = 0; i < playlist.tracks.size(); ++i)
        if (playlist.tracks[i].id == id) return i;
    return -1;
}

}  // namespace

const ReferencePlaylist* selectedPlaylist(const LibraryStore& store) {
    return validSelection(store) ? &store.playlists()[store.selected()] : nullptr;
}

bool replaceTrack(LibraryStore& store, const ReferenceTrack& track) {
    const ReferencePlaylist* current = selectedPlaylist(store);
    if (!current) return false;
    const qsizetype index = indexOf(*current, track.id);
    if (index < 0) return false;
    QList<ReferencePlaylist> playlists = store.playlists();
    playlists[store.selected()].tracks[index] = track;
    store.setPlaylists(playlists);
    store.save();
    return true;
}

bool moveTrack(LibraryStore& store, const Uuid& id, int delta) {
    const ReferencePlaylist* current = selectedPlaylist(store);
    if (!current) return false;
    const qsizetype index = indexOf(*current, id);
    if (index < 0) return false;
    const qsizetype target = index + delta;
    if (target < 0 || target >= current->tracks.size()) return false;
    QList<ReferencePlaylist> playlists = store.playlists();
    playlists[store.selected()].tracks.swapItemsAt(index, target);
    store.setPlaylists(playlists);
    store.save();
    return true;
}

void removeTrack(LibraryStore& store, const Uuid& id) {
    if (!validSelection(store)) return;
    QList<ReferencePlaylist> playlists = store.playlists();
    playlists[store.selected()].tracks.removeIf([&](const ReferenceTrack& t) { return t.id == id; });
    store.setPlaylists(playlists);
    store.save();
}

bool appendTrack(LibraryStore& store, const ReferenceTrack& track) {
    if (!validSelection(store)) return false;
    QList<ReferencePlaylist> playlists = store.playlists();
    playlists[store.selected()].tracks.append(track);
    store.setPlaylists(playlists);
    return store.save();
}

bool titleMatches(const QString& title, const QString& query) {
    if (query.isEmpty()) return true;
    return title.toCaseFolded().contains(query.toCaseFolded());
}

}  // namespace PlaylistEdits

}  // namespace quorvel
