#pragma once
// The edits the player screens make to the selected playlist of a LibraryStore: each is one in-place
// change of the playlist list (observers see one change) followed by save(), whose result shows only as
// the store's message. A selection that does not index a playlist edits nothing. Main thread only.
#include <QString>

#include "library/ReferenceTrack.h"

namespace quorvel {

class LibraryStore;
struct ReferencePlaylist;

namespace PlaylistEdits {

// The selected playlist, or nullptr when the selection indexes none.
const ReferencePlaylist* selectedPlaylist(const LibraryStore& store);

// Replaces the first track of the selected playlist whose id is `track`'s by `track` and saves. No such
// track: nothing changes, nothing is saved, false.
bool replaceTrack(LibraryStore& store, const ReferenceTrack& track);

// Swaps the first track with `id` and its neighbour `delta` places away (-1 up, +1 down) in the whole,
// unfiltered playlist and saves. No such track or no such neighbour: nothing changes or saves, false.
bool moveTrack(LibraryStore& store, const Uuid& id, int delta);

// Removes every track with `id`, keeping the others' order, and saves whether or not one was found.
void removeTrack(LibraryStore& store, const Uuid& id);

// Appends `track` at the end of the selected playlist and returns save()'s result (false also when
// there is no selected playlist; nothing is added then).
bool appendTrack(LibraryStore& store, const ReferenceTrack& track);

// Whether `title` passes the player's filter: an empty query passes everything, otherwise the query as
// typed (not trimmed) must occur in the title, ignoring case in the current locale's folding.
bool titleMatches(const QString& title, const QString& query);

}  // namespace PlaylistEdits

}  // namespace quorvel
