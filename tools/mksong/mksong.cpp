// mksong: writes the project's own example karaoke song, "Twinkle, Twinkle, Little Star"
// (traditional tune; words by Jane Taylor, 1806; both in the public domain), as a format 1
// Standard MIDI file with lyrics stored both as karaoke text events and as lyric events.
//
// The file is generated rather than hand-edited so that every byte of it can be explained
// and reproduced: the committed copy in examples/ must stay equal to what this writes.
//
// Usage: mksong OUT.kar

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint16_t kDivision = 480;
constexpr std::uint32_t kQuarter = kDivision;
constexpr std::uint32_t kHalf = 2 * kQuarter;
constexpr std::uint32_t kBar = 4 * kQuarter;
constexpr std::uint32_t kMicrosPerQuarter = 600000;  // 100 beats per minute

// One bar of lead-in, twelve bars of tune, one bar for the final chord.
constexpr std::uint32_t kFirstSungBar = 1;
constexpr std::uint32_t kBarCount = 14;
constexpr std::uint32_t kSongEnd = kBarCount * kBar;

constexpr std::string_view kTitle = "Twinkle, Twinkle, Little Star";

constexpr std::uint8_t kMelodyChannel = 0;
constexpr std::uint8_t kChordChannel = 1;
constexpr std::uint8_t kBassChannel = 2;
constexpr std::uint8_t kDrumChannel = 9;

constexpr std::uint8_t kMetaText = 0x01;
constexpr std::uint8_t kMetaTrackName = 0x03;
constexpr std::uint8_t kMetaLyric = 0x05;
constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
constexpr std::uint8_t kMetaTempo = 0x51;
constexpr std::uint8_t kMetaTimeSignature = 0x58;
constexpr std::uint8_t kMetaKeySignature = 0x59;

class ByteBuilder {
public:
    void byte(std::uint8_t value) { m_bytes.push_back(value); }
    void be16(std::uint16_t value) {
        byte(static_cast<std::uint8_t>(value >> 8));
        byte(static_cast<std::uint8_t>(value));
    }
    void be32(std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            byte(static_cast<std::uint8_t>(value >> shift));
        }
    }
    // Variable-length quantity: seven bits per byte, most significant group first, every
    // byte but the last with its top bit set. Standard MIDI files allow at most four bytes.
    void vlq(std::uint32_t value) {
        std::uint8_t groups[4];
        int count = 0;
        do {
            groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0 && count < 4);
        while (count > 1) {
            byte(static_cast<std::uint8_t>(groups[--count] | 0x80));
        }
        byte(groups[0]);
    }
    void append(const std::vector<std::uint8_t>& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// A track collects events at absolute ticks in any order and writes them as one chunk.
// Events at the same tick keep the order in which they were added.
class Track {
public:
    explicit Track(bool useRunningStatus) : m_useRunningStatus(useRunningStatus) {}

    void meta(std::uint32_t tick, std::uint8_t type, std::string_view payload) {
        std::vector<std::uint8_t> bytes{0xFF, type};
        ByteBuilder length;
        length.vlq(static_cast<std::uint32_t>(payload.size()));
        bytes.insert(bytes.end(), length.bytes().begin(), length.bytes().end());
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        add(tick, std::move(bytes));
    }

    void program(std::uint8_t channel, std::uint32_t tick, std::uint8_t number) {
        add(tick, {static_cast<std::uint8_t>(0xC0 | channel), number});
    }

    void controller(std::uint8_t channel, std::uint32_t tick, std::uint8_t number,
                    std::uint8_t value) {
        add(tick, {static_cast<std::uint8_t>(0xB0 | channel), number, value});
    }

    // The note ends with a note-on of velocity 0 rather than a note-off: most karaoke files
    // do this, because together with running status it saves a byte per event.
    void note(std::uint8_t channel, std::uint32_t tick, std::uint32_t length, std::uint8_t key,
              std::uint8_t velocity) {
        const auto status = static_cast<std::uint8_t>(0x90 | channel);
        add(tick, {status, key, velocity});
        add(tick + length, {status, key, 0});
    }

    std::vector<std::uint8_t> chunk(std::uint32_t endTick) const {
        std::vector<Event> events = m_events;
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.tick < b.tick; });

        ByteBuilder body;
        std::uint32_t now = 0;
        std::uint8_t runningStatus = 0;
        for (const Event& event : events) {
            body.vlq(event.tick - now);
            now = event.tick;
            const std::uint8_t status = event.bytes.front();
            const bool isChannelEvent = status < 0xF0;
            auto first = event.bytes.begin();
            if (isChannelEvent && m_useRunningStatus && status == runningStatus) {
                ++first;
            }
            body.append(std::vector<std::uint8_t>(first, event.bytes.end()));
            // Meta events end running status: a reader may not carry it across them.
            runningStatus = isChannelEvent ? status : 0;
        }
        body.vlq(std::max(endTick, now) - now);
        body.append({0xFF, kMetaEndOfTrack, 0x00});

        ByteBuilder chunk;
        chunk.append({'M', 'T', 'r', 'k'});
        chunk.be32(static_cast<std::uint32_t>(body.bytes().size()));
        chunk.append(body.bytes());
        return chunk.bytes();
    }

private:
    struct Event {
        std::uint32_t tick;
        std::vector<std::uint8_t> bytes;
    };

    void add(std::uint32_t tick, std::vector<std::uint8_t> bytes) {
        m_events.push_back({tick, std::move(bytes)});
    }

    bool m_useRunningStatus;
    std::vector<Event> m_events;
};

// Notes by their MIDI numbers (middle C = 60).
enum Pitch : std::uint8_t {
    B3 = 59,
    C4 = 60,
    D4 = 62,
    E4 = 64,
    F4 = 65,
    G4 = 67,
    A4 = 69,
    C5 = 72,
    D5 = 74,
    E5 = 76,
    F5 = 77,
    G5 = 79,
    A5 = 81,
    C2 = 36,
    F2 = 41,
    G2 = 43,
};

// Every sung line has the same rhythm: six quarter notes and a half note.
constexpr int kNotesPerLine = 7;

struct SungLine {
    // '\\' starts a new verse (a new page of lyrics), '/' a new line.
    char mark;
    std::array<std::string_view, kNotesPerLine> syllables;
    std::array<std::uint8_t, kNotesPerLine> pitches;
};

// A syllable that ends a word carries the space after it; one inside a word does not, so
// that a karaoke display can colour words part by part without breaking them apart.
constexpr std::array<SungLine, 6> kLines{{
    {'\\', {"Twin", "kle ", "twin", "kle ", "lit", "tle ", "star,"}, {C5, C5, G5, G5, A5, A5, G5}},
    {'/', {"How ", "I ", "won", "der ", "what ", "you ", "are!"}, {F5, F5, E5, E5, D5, D5, C5}},
    {'/', {"Up ", "a", "bove ", "the ", "world ", "so ", "high,"}, {G5, G5, F5, F5, E5, E5, D5}},
    {'/', {"Like ", "a ", "dia", "mond ", "in ", "the ", "sky."}, {G5, G5, F5, F5, E5, E5, D5}},
    {'\\', {"Twin", "kle ", "twin", "kle ", "lit", "tle ", "star,"}, {C5, C5, G5, G5, A5, A5, G5}},
    {'/', {"How ", "I ", "won", "der ", "what ", "you ", "are!"}, {F5, F5, E5, E5, D5, D5, C5}},
}};

enum class Chord { C, F, G };

// Two chords a bar, lead-in bar included; the last bar holds one C chord.
constexpr std::array<std::array<Chord, 2>, kBarCount - 1> kChords{{
    {Chord::C, Chord::C},
    {Chord::C, Chord::C},
    {Chord::F, Chord::C},
    {Chord::F, Chord::C},
    {Chord::G, Chord::C},
    {Chord::C, Chord::F},
    {Chord::C, Chord::G},
    {Chord::C, Chord::F},
    {Chord::C, Chord::G},
    {Chord::C, Chord::C},
    {Chord::F, Chord::C},
    {Chord::F, Chord::C},
    {Chord::G, Chord::C},
}};

std::array<std::uint8_t, 3> voicing(Chord chord) {
    switch (chord) {
        case Chord::C:
            return {C4, E4, G4};
        case Chord::F:
            return {C4, F4, A4};
        case Chord::G:
            return {B3, D4, G4};
    }
    return {C4, E4, G4};
}

std::uint8_t bassRoot(Chord chord) {
    switch (chord) {
        case Chord::C:
            return C2;
        case Chord::F:
            return F2;
        case Chord::G:
            return G2;
    }
    return C2;
}

std::uint32_t lineStart(std::size_t line) {
    return static_cast<std::uint32_t>((kFirstSungBar + 2 * line) * kBar);
}

std::uint32_t noteStart(std::size_t line, int index) {
    return lineStart(line) + static_cast<std::uint32_t>(index) * kQuarter;
}

// Every tick used below is a multiple of 4: at 480 ticks per quarter and 100 beats per
// minute that is a whole number of milliseconds, so a 1 ms sequencer clock plays it exactly.

Track conductorTrack() {
    Track track(false);
    track.meta(0, kMetaTrackName, kTitle);
    track.meta(0, kMetaText,
               "Traditional tune, words by Jane Taylor (1806). This arrangement is free of "
               "copyright.");
    track.meta(0, kMetaTimeSignature, std::string_view("\x04\x02\x18\x08", 4));
    track.meta(0, kMetaKeySignature, std::string_view("\x00\x00", 2));
    const char tempo[3] = {static_cast<char>(kMicrosPerQuarter >> 16),
                           static_cast<char>((kMicrosPerQuarter >> 8) & 0xFF),
                           static_cast<char>(kMicrosPerQuarter & 0xFF)};
    track.meta(0, kMetaTempo, std::string_view(tempo, 3));
    return track;
}

Track karaokeHeaderTrack() {
    Track track(false);
    for (std::string_view text : {"@KMIDI KARAOKE FILE", "@V0100", "@LENGL",
                                  "@TTwinkle, Twinkle, Little Star", "@TTraditional"}) {
        track.meta(0, kMetaText, text);
    }
    return track;
}

Track wordsTrack() {
    Track track(false);
    track.meta(0, kMetaTrackName, "Words");
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        for (int i = 0; i < kNotesPerLine; ++i) {
            std::string text(kLines[line].syllables[static_cast<std::size_t>(i)]);
            if (i == 0) {
                text.insert(text.begin(), kLines[line].mark);
            }
            track.meta(noteStart(line, i), kMetaText, text);
        }
    }
    return track;
}

Track melodyTrack() {
    Track track(true);
    track.meta(0, kMetaTrackName, "Melody");
    track.program(kMelodyChannel, 0, 73);  // flute: soft, and it carries the tune clearly
    track.controller(kMelodyChannel, 0, 7, 100);
    for (std::size_t line = 0; line < kLines.size(); ++line) {
        for (int i = 0; i < kNotesPerLine; ++i) {
            const auto index = static_cast<std::size_t>(i);
            const bool lastOfLine = i == kNotesPerLine - 1;
            // Leave a short breath between notes: repeated pitches must be heard twice.
            const std::uint32_t length = lastOfLine ? kHalf - 48 : kQuarter - 48;
            std::uint8_t velocity = (i % 4 == 0) ? 92 : (i % 2 == 0 ? 84 : 78);
            if (line == 2 || line == 3) {
                velocity = static_cast<std::uint8_t>(velocity + 6);  // the middle lines swell
            }
            const std::uint32_t tick = noteStart(line, i);
            track.meta(tick, kMetaLyric, kLines[line].syllables[index]);
            track.note(kMelodyChannel, tick, length, kLines[line].pitches[index], velocity);
        }
    }
    return track;
}

Track chordTrack() {
    Track track(true);
    track.meta(0, kMetaTrackName, "Chords");
    track.program(kChordChannel, 0, 48);  // string ensemble
    track.controller(kChordChannel, 0, 7, 72);
    for (std::uint32_t bar = 0; bar < kChords.size(); ++bar) {
        for (std::uint32_t half = 0; half < 2; ++half) {
            const std::uint32_t tick = bar * kBar + half * kHalf;
            for (std::uint8_t key : voicing(kChords[bar][half])) {
                track.note(kChordChannel, tick, kHalf - 8, key, 60);
            }
        }
    }
    for (std::uint8_t key : voicing(Chord::C)) {
        track.note(kChordChannel, (kBarCount - 1) * kBar, kBar - 16, key, 56);
    }
    return track;
}

// The bass writes every status byte in full, as some sequencers do; a reader must accept both.
Track bassTrack() {
    Track track(false);
    track.meta(0, kMetaTrackName, "Bass");
    track.program(kBassChannel, 0, 32);  // acoustic bass
    track.controller(kBassChannel, 0, 7, 90);
    for (std::uint32_t bar = 0; bar < kChords.size(); ++bar) {
        for (std::uint32_t half = 0; half < 2; ++half) {
            const std::uint32_t tick = bar * kBar + half * kHalf;
            track.note(kBassChannel, tick, kHalf - 48, bassRoot(kChords[bar][half]),
                       half == 0 ? 92 : 84);
        }
    }
    track.note(kBassChannel, (kBarCount - 1) * kBar, kBar - 16, C2, 88);
    return track;
}

Track drumTrack() {
    constexpr std::uint8_t kick = 36;
    constexpr std::uint8_t sideStick = 37;
    constexpr std::uint8_t closedHat = 42;
    constexpr std::uint8_t crash = 49;
    constexpr std::uint32_t hit = 120;

    Track track(true);
    track.meta(0, kMetaTrackName, "Drums");
    track.controller(kDrumChannel, 0, 7, 80);
    for (std::uint32_t bar = 0; bar + 1 < kBarCount; ++bar) {
        for (std::uint32_t beat = 0; beat < 4; ++beat) {
            const std::uint32_t tick = bar * kBar + beat * kQuarter;
            track.note(kDrumChannel, tick, hit, closedHat, beat == 0 ? 64 : 52);
            if (beat % 2 == 0) {
                track.note(kDrumChannel, tick, hit, kick, beat == 0 ? 84 : 72);
            } else {
                track.note(kDrumChannel, tick, hit, sideStick, 48);
            }
        }
    }
    const std::uint32_t last = (kBarCount - 1) * kBar;
    track.note(kDrumChannel, last, kHalf, crash, 76);
    track.note(kDrumChannel, last, hit, kick, 84);
    return track;
}

std::vector<std::uint8_t> buildSong() {
    // Tracks without channel events come first, then one track per channel.
    const std::vector<Track> tracks{conductorTrack(), karaokeHeaderTrack(), wordsTrack(),
                                    melodyTrack(),    chordTrack(),         bassTrack(),
                                    drumTrack()};
    ByteBuilder file;
    file.append({'M', 'T', 'h', 'd'});
    file.be32(6);
    file.be16(1);
    file.be16(static_cast<std::uint16_t>(tracks.size()));
    file.be16(kDivision);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        // The header texts belong at the start; every other track runs to the song's end
        // so that all parts share one length.
        file.append(tracks[i].chunk(i == 1 ? 0 : kSongEnd));
    }
    return file.bytes();
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes beside the target and renames over it, so a failure halfway leaves any old file
// as it was. Returns 0 or the errno of the step that failed.
int writeFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::string tempPath = path + ".XXXXXX";
    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0) {
        return errno;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    int error = 0;
    if (::fchmod(fd, 0666 & ~mask) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(tempPath.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(tempPath.c_str());
    }
    return error;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '\0') {
        std::fprintf(stderr, "usage: mksong OUT.kar\n");
        return 2;
    }
    const std::string path = argv[1];
    if (const int error = writeFileAtomically(path, buildSong()); error != 0) {
        std::fprintf(stderr, "mksong: cannot write %s: %s\n", path.c_str(), std::strerror(error));
        return 1;
    }
    return 0;
}
