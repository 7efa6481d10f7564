#include "library/ReferencePlaylist.h"

#include <new>

#include "library/LibraryJson.h"

namespace quorvel {

using namespace LibraryJson;

namespace {
// The JSON library's messages start with an internal tag such as "[json.exception.parse_error.101] ".
std::string withoutTag(const std::string& what) {
    if (!what.starts_with("[json.exception.")) return what;
    auto end = what.find("] ");
    return end == std::string::npos ? what : what.substr(end + 2);
}
}  // namespace

Result<Json> ReferencePlaylist::toJson() const {
    Json list = Json::array();
    for (const ReferenceTrack& track : tracks) {
        auto object = track.toJson();
        if (!object) return within("playlist “" + utf8(name) + "”", object.error());
        list.push_back(std::move(*object));
    }
    Json object = Json::object();
    object["id"] = id.toString();
    object["name"] = utf8(name);
    object["tracks"] = std::move(list);
    return object;
}

Result<ReferencePlaylist> ReferencePlaylist::fromJson(const ReadJson& object) {
    ObjectReader in(object);
    ReferencePlaylist playlist;
    QString idText = in.string("id");
    playlist.name = in.string("name");
    const ReadJson* tracks = in.array("tracks");
    if (!in.ok()) return in.error();
    auto id = Uuid::parse(idText.toStdString());
    if (!id) return error(invalidValue, "the key \"id\" is not a valid UUID");
    playlist.id = *id;
    playlist.tracks.reserve(qsizetype(tracks->size()));
    for (std::size_t i = 0; i < tracks->size(); ++i) {
        auto track = ReferenceTrack::fromJson((*tracks)[i]);
        if (!track) return within("track " + std::to_string(i + 1), track.error());
        playlist.tracks.push_back(std::move(*track));
    }
    return playlist;
}

Result<QByteArray> ReferencePlaylist::encodeList(const QList<ReferencePlaylist>& playlists) {
    Json list = Json::array();
    for (const ReferencePlaylist& playlist : playlists) {
        auto object = playlist.toJson();
        if (!object) return object.error();
        list.push_back(std::move(*object));
    }
    // Text fields come from QString and are always valid UTF-8, so dump() cannot throw here.
    return QByteArray::fromStdString(list.dump());
}

Result<QList<ReferencePlaylist>> ReferencePlaylist::decodeList(const QByteArray& bytes) {
    try {
        ReadJson list;
        try {
            list = ReadJson::parse(bytes.begin(), bytes.end());
        } catch (const ReadJson::exception& e) {
            return error(syntax, withShortToken(withoutTag(e.what())));
        }
        if (!list.is_array())
            return error(wrongType, std::string("expected an array of playlists, found ") + list.type_name());
        QList<ReferencePlaylist> playlists;
        playlists.reserve(qsizetype(list.size()));
        for (std::size_t i = 0; i < list.size(); ++i) {
            auto playlist = fromJson(list[i]);
            if (!playlist) return within("playlist " + std::to_string(i + 1), playlist.error());
            playlists.push_back(std::move(*playlist));
        }
        return playlists;
    } catch (const std::bad_alloc&) {
        return error(syntax, "there is not enough memory to read the playlists");
    }
}

}  // namespace quorvel
