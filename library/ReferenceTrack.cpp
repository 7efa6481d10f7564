#include "library/ReferenceTrack.h"

#include <cmath>

#include "library/LibraryJson.h"

namespace quorvel {

using namespace LibraryJson;

QString ReferenceTrack::displayTitle() const {
    qsizetype at = title.indexOf(titleSeparator);
    return at < 0 ? title : title.left(at);
}

QString ReferenceTrack::artist() const {
    qsizetype at = title.indexOf(titleSeparator);
    return at < 0 ? QString() : title.mid(at + titleSeparator.size());
}

LocalTrackRequest ReferenceTrack::localRequest() const {
    return LocalTrackRequest{id, title, filename, trimDB, cueIn, cueOut, loop};
}

MusicTrackRequest ReferenceTrack::musicRequest() const {
    return MusicTrackRequest{id, musicID, libraryMusic, musicPayload, displayTitle()};
}

Result<Json> ReferenceTrack::toJson() const {
    for (auto [key, value] : {std::pair{"trimDB", trimDB}, {"cueIn", cueIn}, {"cueOut", cueOut}}) {
        // The JSON library would quietly write null here, which no reader accepts.
        if (!std::isfinite(value))
            return error(notFinite, std::string("the value of \"") + key + "\" of “" + utf8(title) +
                                        "” is not a finite number");
    }
    Json object = Json::object();
    object["id"] = id.toString();
    object["title"] = utf8(title);
    if (filename) object["filename"] = utf8(*filename);
    if (musicID) object["musicID"] = utf8(*musicID);
    object["libraryMusic"] = libraryMusic;
    if (musicPayload) object["musicPayload"] = musicPayload->toBase64().toStdString();
    object["trimDB"] = trimDB;
    object["cueIn"] = cueIn;
    object["cueOut"] = cueOut;
    object["loop"] = loop;
    return object;
}

Result<ReferenceTrack> ReferenceTrack::fromJson(const ReadJson& object) {
    ObjectReader in(object);
    ReferenceTrack track;
    QString idText = in.string("id");
    track.title = in.string("title");
    track.filename = in.optionalString("filename");
    track.musicID = in.optionalString("musicID");
    track.libraryMusic = in.boolean("libraryMusic");
    if (auto payload = in.optionalString("musicPayload")) {
        auto bytes = fromBase64Strict(payload->toStdString());
        if (bytes)
            track.musicPayload = std::move(*bytes);
        else
            in.fail(error(invalidValue, "the key \"musicPayload\" is not valid Base64"));
    }
    track.trimDB = in.number("trimDB");
    track.cueIn = in.number("cueIn");
    track.cueOut = in.number("cueOut");
    track.loop = in.boolean("loop");
    if (in.ok()) {
        auto id = Uuid::parse(idText.toStdString());
        if (id)
            track.id = *id;
        else
            in.fail(error(invalidValue, "the key \"id\" is not a valid UUID"));
    }
    if (!in.ok()) return in.error();
    return track;
}

}  // namespace quorvel
