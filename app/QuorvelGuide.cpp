#include "app/QuorvelGuide.h"

#include "dsp/MeasurementDSP.h"

namespace quorvel {

// The articles describe this build as it is: Linux, audio through RtAudio (JACK, PipeWire, PulseAudio or
// ALSA), the music service on an MPD server, data under ~/.local/share/Quorvel. When a screen changes,
// change its article with it. Texts use typographic characters (’ − – → ⅓); keep them.

namespace QuorvelGuide {
namespace {

QList<GuideArticle> build() {
    return {
        {
            QStringLiteral("start"),
            QStringLiteral("Start here"),
            QStringLiteral("Choose playback, a test signal, or a measurement."),
            {
                QStringLiteral("Player: play reference tracks from your playlists of local audio files or "
                               "songs from your MPD music server, with cue points, loops and level trim."),
                QStringLiteral(
                    "Signals: play tones, noise and sweeps as ordinary stereo or on chosen "
                    "interface outputs. Loading a preset only sets the values; it starts no sound."),
                QStringLiteral(
                    "Channel checks: send pink noise left, right or back and forth, speak a source "
                    "name left then right, and run the flash-plus-beep timing check."),
                QStringLiteral("Measure and Alignment: watch the microphone’s spectrum, measure the arrival "
                               "delay against an electrical reference, save traces and get speaker-delay or "
                               "sub-alignment starting values."),
                QStringLiteral("Sub arrays: calculate starting positions, delays and polarity for end-fire "
                               "and cardioid sub arrays, then work through the verification checklist."),
            },
            QStringLiteral(
                "Quorvel Pocket, the phone edition, is not part of this Linux build; its article here covers "
                "the same single-microphone checks on this computer. This is a development build whose "
                "measurements have not yet been validated on calibrated hardware. "
                "Stop all in the header, or the Space key while no text field has focus, stops playback, "
                "the signal generators, spoken IDs and the microphone measurement. Minimising or hiding the "
                "window stops all audio in the same way. Quorvel applies nothing to processors or consoles: "
                "every proposal is a starting value that you enter and verify yourself."),
        },
        {
            QStringLiteral("levels"),
            QStringLiteral("Outputs and level controls"),
            QStringLiteral("Know which control affects the sound you are playing."),
            {
                QStringLiteral("The level slider at the bottom of the window is the Local level: it sets "
                               "local tracks, ordinary stereo signals, channel checks and spoken IDs."),
                QStringLiteral("On Signals with Output set to Interface, the same slider sets the separate "
                               "Routed level of the interface outputs; each level keeps its own value."),
                QStringLiteral("Music-service tracks play through the MPD server’s own audio output at the "
                               "server’s volume, so the slider gives way to a note while one plays."),
                QStringLiteral("The interface chosen on Measure serves the microphone measurement and the "
                               "routed generator; ordinary playback follows the system’s default output, or "
                               "the device chosen with the output button beside the level slider."),
                QStringLiteral("Confirm every output at a low level first, and press Stop all before you "
                               "repatch or change outputs."),
            },
            QStringLiteral(
                "Levels are in dBFS, relative to digital full scale, not acoustic SPL. The stereo Left/Right "
                "choice pans ordinary playback only and never moves a routed signal to other outputs. "
                "Channel "
                "numbers depend on the interface and on how JACK, PipeWire, PulseAudio or ALSA presents it, "
                "so verify the mapping on the hardware."),
        },
        {
            QStringLiteral("playlists"),
            QStringLiteral("Import playlists and reference tracks"),
            QStringLiteral("Create reusable playlists from local audio or local-path M3U files."),
            {
                QStringLiteral("On Player open Add, choose New playlist and name it; the new playlist "
                               "becomes the current one."),
                QStringLiteral("Choose Add, then Audio files / M3U, and pick audio files or M3U and M3U8 "
                               "playlists; several at once go into the current playlist."),
                QStringLiteral("From a track’s menu choose Cue, loop & trim and enter Start and End in "
                               "seconds; an End of 0 means the end of the file."),
                QStringLiteral("Switch Loop this section on to repeat from Start to End, set the trim if "
                               "needed, and press Save."),
                QStringLiteral("Before playing, choose the channel mode, Match file levels or the HP / LP "
                               "filter under Playback options; a track already playing keeps its processing "
                               "until it is started again."),
            },
            QStringLiteral(
                "Imported audio is copied into ~/.local/share/Quorvel, where the playlists are kept in "
                "playlists.json. An M3U file only names audio files, and each file it names is copied in "
                "when the playlist is imported. Entries that cannot be read, such as missing files, files "
                "without read permission or anything that is not a regular file, are listed by name: import "
                "those audio files directly. Web addresses and other entries containing :// are not "
                "supported, and the playlist must be UTF-8 text. Match file levels aims at −20 dBFS RMS, "
                "limited so that peaks stay below full scale; it is not a LUFS loudness match. Cue points "
                "and "
                "loops follow the player’s timer of about 1/60 s, so they are not sample-accurate."),
        },
        {
            QStringLiteral("music"),
            QStringLiteral("Music server"),
            QStringLiteral("Browse songs and bring existing library playlists into Quorvel."),
            {
                QStringLiteral(
                    "Start your MPD server, then on Player choose Add, then Music server; the sheet "
                    "connects to the server named by MPD_HOST and MPD_PORT (localhost:6600 by "
                    "default) and lists its stored playlists."),
                QStringLiteral("Under Find songs, search the server’s database by artist or title and press "
                               "a song’s plus button to add it to the selected playlist."),
                QStringLiteral("Under My playlists, press a stored playlist to import it as a new playlist, "
                               "which becomes the current one."),
                QStringLiteral(
                    "Play a music track like any other: it sounds from the MPD server’s own output "
                    "at the server’s volume; pause or stop it from the transport and seek with the Now "
                    "playing slider."),
            },
            QStringLiteral(
                "In this build the music service is an MPD server: its stored playlists stand in for library "
                "playlists and its database for the catalogue. The server must be running and reachable at "
                "that address, with its password given as password@host in MPD_HOST when it asks for one. "
                "When the sheet can’t reach the music server, start MPD or correct MPD_HOST and MPD_PORT; "
                "when the server refuses the password, correct the password in MPD_HOST; a server that "
                "does not answer within MPD_TIMEOUT seconds (5 by default) is reported as such. Imported "
                "entries "
                "refer to songs on the server, not copies of their audio, so they play only while the server "
                "still has those files. Cue points, trim, loop, channel processing and routed outputs do not "
                "apply to music tracks, and starting one ends the microphone measurement."),
        },
        {
            QStringLiteral("signals"),
            QStringLiteral("Tones, noise and sweeps"),
            QStringLiteral("Use seeded presets or enter your own frequencies and range."),
            {
                QStringLiteral("On Signals open the presets menu beside the family choice and choose a "
                               "seeded preset; it sets the values and plays nothing yet."),
                QStringLiteral(
                    "Or choose Noise, Tone or Sweep and a type, then enter your own values: a noise "
                    "band, the frequency (for a dual tone also Second tone and the A–B balance), "
                    "or a sweep’s From, To and Duration."),
                QStringLiteral("Under Filters & timing switch HP / LP on to set the filter corners, and set "
                               "the Cycle length of tones and noise."),
                QStringLiteral("Under Output choose Stereo (L, L + R or R on the ordinary output) or "
                               "Interface (speakers on chosen interface outputs), then press Play."),
                QStringLiteral("Number changes apply at the next start: press Stop signal and Play again "
                               "after editing a value."),
            },
            QStringLiteral(
                "The seeded presets are full-range, speech-band (150 Hz–8 kHz) and sub-band (35–100 Hz) pink "
                "noise, a 1 kHz reference tone, a 63 Hz sub identification tone, white and brown noise, log "
                "and linear sweeps from 20 Hz to 20 kHz, a pulsed 1 kHz tone and a 1 kHz / 1.2 kHz dual "
                "tone. "
                "The filters are first-order, 6 dB per octave, so they shape the band rather than cut it. "
                "Each signal is rendered as one cycle of 1 to 60 s that repeats, with 10 ms fades at its "
                "edges. Every signal is normalised to the same peak, not the same RMS, so noise and tones at "
                "one level setting differ in loudness."),
        },
        {
            QStringLiteral("routing"),
            QStringLiteral("Route A, B and an electrical reference"),
            QStringLiteral("Send test signals to specific speakers through interface outputs."),
            {
                QStringLiteral("On Signals set Output to Interface, open Channel routing and give speaker A "
                               "and speaker B two different outputs of the interface chosen on Measure."),
                QStringLiteral("Choose A, B or A + B under Speakers to decide which speakers play."),
                QStringLiteral("Switch Loopback reference on and give the reference its own third output, "
                               "cabled to a line-level input of the same interface."),
                QStringLiteral("On Measure switch Electrical reference on and set Mic and Reference to two "
                               "different inputs: the microphone’s and the one the loopback cable reaches."),
                QStringLiteral("Every selected speaker and the reference get the same signal, except a dual "
                               "tone: speaker A plays the first frequency and B the second, so solo A or B "
                               "to measure a dual tone against the reference."),
            },
            QStringLiteral(
                "Never patch a speaker-level amplifier output into an interface input. Use one interface for "
                "the outputs and the inputs, so that playback and capture run on one clock. The stereo L, "
                "L + R and R choice does not pick interface outputs. A single-channel microphone input "
                "cannot "
                "supply both channels: the reference needs an input of its own."),
        },
        {
            QStringLiteral("pocket"),
            QStringLiteral("Pocket: iPhone mic or external input"),
            QStringLiteral("Run spectrum checks with the built-in mic or connected hardware."),
            {
                QStringLiteral("Connect a USB measurement microphone or a microphone on an interface input, "
                               "or use the computer’s built-in mic, and check that your sound system lists "
                               "it."),
                QStringLiteral("On Measure press Refresh devices and choose it under Interface; System "
                               "default uses the system’s default input."),
                QStringLiteral("Set Mic · channel to the input the microphone is on and leave Electrical "
                               "reference off."),
                QStringLiteral("Press Start mic; the badge reads Live and the spectrum appears as the first "
                               "blocks arrive."),
                QStringLiteral("Choose ⅓-octave RTA for third-octave bands or FFT for every bin of the "
                               "analysis; both read in dBFS."),
            },
            QStringLiteral(
                "Which devices and channels appear depends on JACK, PipeWire, PulseAudio or ALSA and on the "
                "hardware; an input-only USB measurement microphone can be chosen like an interface. A "
                "built-in microphone suits relative checks only: Quorvel applies no microphone calibration "
                "and shows no SPL. Changing the interface, a channel or the reference switch stops the "
                "measurement, a level change restarts its averaging, and a device that disappears stops it "
                "with a status message."),
        },
        {
            QStringLiteral("rta"),
            QStringLiteral("Read the RTA and FFT"),
            QStringLiteral("See the frequency content reaching your selected mic."),
            {
                QStringLiteral("FFT draws every bin of a 4096-point analysis, about 11.7 Hz apart at 48 kHz; "
                               "⅓-octave RTA sums those bins into third-octave bands drawn through their "
                               "centres."),
                QStringLiteral("The frequency axis runs logarithmically from 20 Hz to 20 kHz, and the level "
                               "scale from 0 dBFS at the top to −100 dBFS at the bottom; Peak bin shows the "
                               "highest FFT level."),
                QStringLiteral("Play broadband pink noise for spectrum checks, so that every band receives "
                               "energy."),
                QStringLiteral("For the system’s response rather than its spectrum, measure with an "
                               "electrical reference and read magnitude, phase and coherence on Alignment."),
            },
            QStringLiteral(
                "The analysis uses a 4096-point Hann window, so at 48 kHz the lowest bands hold one FFT bin "
                "or none and read low. A flat RTA does not mean the system is aligned: it shows nothing of "
                "timing or phase. Calibrated SPL, spectrum history and microphone calibration files are not "
                "part of this build."),
        },
        {
            QStringLiteral("delay"),
            QStringLiteral("Measure arrival delay"),
            QStringLiteral("Find time between an electrical reference and the microphone response."),
            {
                QStringLiteral("Put the mic at the listener position and loop the reference output back into "
                               "a second input of the same interface."),
                QStringLiteral(
                    "On Measure switch Electrical reference on, set the Mic and Reference channels "
                    "and press Start mic."),
                QStringLiteral("On Signals play broadband pink noise through Interface with Loopback "
                               "reference on, at a level well below clipping on both inputs."),
                QStringLiteral(
                    "Wait until Arrival · ms shows a value and Averages counts up; a clipped input "
                    "or an unclear result leaves the delay blank."),
                QStringLiteral("Work in milliseconds; Delay calibration subtracts a fixed latency and uses "
                               "the air temperature to show the equivalent path in metres."),
            },
            QStringLiteral(
                "Steady tones repeat, so their delay is ambiguous; use noise. The delay includes the latency "
                "of processors and amplifiers in the speaker path as well as the acoustic path, and can "
                "follow a strong reflection. The search reaches up to %1 ms. Correlation shows how clear "
                "the delay peak is; it is not coherence. "
                "The air temperature and the fixed latency change the equivalent distance, not the delay.")
                .arg(MeasurementDSP::maxDelayMS),
        },
        {
            QStringLiteral("transfer"),
            QStringLiteral("Magnitude, phase and coherence"),
            QStringLiteral("Understand the three reference-based measurement graphs."),
            {
                QStringLiteral("Magnitude shows, per frequency, how much louder or quieter the microphone is "
                               "than the reference, in dB."),
                QStringLiteral("Phase shows the timing difference per frequency; the live estimate has the "
                               "measured arrival delay removed, so the curve stays readable."),
                QStringLiteral(
                    "Coherence, from 0 to 1, shows how much of the microphone signal the reference "
                    "explains; magnitude and phase hide the points below 0.8."),
                QStringLiteral("With two saved traces chosen, the Phase view puts each trace’s arrival delay "
                               "back, so their relative timing shows."),
                QStringLiteral("Keep the mic position, levels, inputs and setup unchanged between captures "
                               "you want to compare."),
            },
            QStringLiteral(
                "Good coherence proves neither a correct mic position nor a correct patch. Reflections, room "
                "noise, wind, clipping and changes during a capture spoil the estimate. The Welch H1 "
                "estimate "
                "still needs validation against reference hardware."),
        },
        {
            QStringLiteral("align"),
            QStringLiteral("Align a main and delay/fill speaker"),
            QStringLiteral("Measure separately, delay the earlier arrival, then verify together."),
            {
                QStringLiteral("At one unchanged mic position, play A alone and capture it in Align with a "
                               "descriptive name."),
                QStringLiteral("Play B alone, wait for fresh data, and capture it using the same "
                               "position/setup labels."),
                QStringLiteral("Select the two saved traces under Compare saved traces. Choose Find speaker "
                               "delay."),
                QStringLiteral("Enter the proposed added delay into the named speaker’s external processor."),
                QStringLiteral("Play both speakers together, capture the sum and verify the overlap. Recheck "
                               "more than one listener position."),
            },
            QStringLiteral(
                "Example: A arrives at 18 ms and B at 25 ms → add 7 ms to A. This is an arrival-time "
                "starting "
                "point. Quorvel does not apply settings to Galileo or a console. Captures with mismatched "
                "hardware, inputs, sample rate, setup or position are rejected."),
        },
        {
            QStringLiteral("sub"),
            QStringLiteral("Align subs to mains"),
            QStringLiteral("Compare phase across the crossover, not only the arrival peak."),
            {
                QStringLiteral("On Alignment capture the mains playing alone, then the subs playing alone, "
                               "from one mic position with the same position and setup labels."),
                QStringLiteral("Choose Main + sub, then select the mains trace as Main and the subs trace as "
                               "Sub."),
                QStringLiteral("Enter the crossover range as Low and High, between 20 and 500 Hz, and choose "
                               "Find sub alignment."),
                QStringLiteral("Read which trace the delay goes to after Add delay to; Invert sub means the "
                               "polarity inversion applies to the sub."),
                QStringLiteral("Enter the values in your processor, play mains and subs together and verify "
                               "at several listening positions."),
            },
            QStringLiteral(
                "The search needs at least six coherent frequency points, with levels within 10 dB of each "
                "other, spread over most of the band. With no candidate, check the coherence and the levels "
                "in "
                "the band and that both traces share hardware, inputs, sample rate, position and setup. A "
                "high "
                "score is not proof of a good alignment. The search stays within 5 ms of the difference in "
                "arrival times."),
        },
        {
            QStringLiteral("arrays"),
            QStringLiteral("End-fire and gradient/cardioid arrays"),
            QStringLiteral("Calculate starting geometry, then measure the actual array."),
            {
                QStringLiteral("On Sub arrays choose the Subwoofer label and the layout: End-fire or "
                               "Cardioid pair."),
                QStringLiteral("Enter the Center spacing between acoustic centres in metres and, under "
                               "Temperature & patch, the air temperature; end-fire takes two to four subs, "
                               "the cardioid pair two."),
                QStringLiteral("Read each element’s position, processor output, delay and polarity."),
                QStringLiteral("In end-fire the delay grows toward the front sub; in the cardioid pair the "
                               "rear sub gets the delay and the inverted polarity."),
                QStringLiteral("Enter the values, measure front summation and rear rejection, then align the "
                               "whole array to the mains."),
            },
            QStringLiteral(
                "The subwoofer names are setup labels and change no calculation. Measure the spacing between "
                "acoustic centres, not cabinet depth. Turning a cabinet around is not the same as inverting "
                "its polarity. The calculation assumes ideal sources, and real cabinets, floors and walls "
                "differ. The Verify checklist is a reminder and certifies nothing."),
        },
        {
            QStringLiteral("tests"),
            QStringLiteral("Left/right, spoken IDs and sync"),
            QStringLiteral("Identify sources and check signal paths."),
            {
                QStringLiteral("On Channel checks press Left or Right for pink noise on that side, or "
                               "Ping-pong to alternate, with Interval setting the seconds per side."),
                QStringLiteral("Choose a source name under Source, or type your own in the field below it."),
                QStringLiteral(
                    "Press Speak left + right: the name and ‘Left’ sound on the left channel, then "
                    "the name and ‘Right’ on the right, repeating until stopped."),
                QStringLiteral("Press Flash + beep and compare the white flash with the beep at the start of "
                               "every second."),
            },
            QStringLiteral(
                "Ping-pong switches sides on the player’s timer, not to the sample. The flash-plus-beep "
                "check "
                "is approximate: screen refresh and audio latency limit it. A validated sync clip is not "
                "included yet. Spoken IDs use the English voice of espeak-ng installed on this computer."),
        },
        {
            QStringLiteral("troubleshooting"),
            QStringLiteral("Troubleshooting"),
            QStringLiteral("No sound, no mic, no delay, or no alignment candidate."),
            {
                QStringLiteral(
                    "No sound: check the level slider, the output device and that your sound server "
                    "runs; the status line and its error button say what failed."),
                QStringLiteral("No input: on Measure press Refresh devices, choose the interface again and "
                               "check the channel; the status under the inputs names the problem."),
                QStringLiteral("No delay: play broadband noise, give the electrical reference its own input, "
                               "keep both inputs below clipping and wait for averages."),
                QStringLiteral("No sub candidate: check coherence in the band, widen the band or play louder "
                               "noise, keep the position and setup labels equal, and capture again."),
                QStringLiteral("Missing M3U tracks or music: import unreadable entries directly, and check "
                               "that the MPD server runs at MPD_HOST and MPD_PORT."),
            },
            QStringLiteral(
                "Whenever a route or patch changes, press Stop all and verify the patch before playing "
                "again. "
                "Playlists, imported audio and saved measurements are in ~/.local/share/Quorvel and settings "
                "in ~/.config/Quorvel (or under XDG_DATA_HOME and XDG_CONFIG_HOME when set), so copy those "
                "folders to keep them. No hardware certification has "
                "been completed for this build."),
        },
    };
}

}  // namespace

const QList<GuideArticle>& articles() {
    static const QList<GuideArticle> table = build();
    return table;
}

QList<GuideArticle> matching(const QString& query) {
    if (query.isEmpty()) return articles();
    QList<GuideArticle> found;
    for (const GuideArticle& article : articles())
        if (article.searchText().contains(query, Qt::CaseInsensitive)) found.append(article);
    return found;
}

}  // namespace QuorvelGuide

}  // namespace quorvel
