#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "PlayOptions.h"
#include "SequencerTable.h"
#include "TempoMap.h"
#include "Terminal.h"

namespace cvktool {

// `cvktool play`: the arguments after the command name. Returns the exit status.
int runPlay(std::span<const std::string_view> args);

// The file handed to the sequencer: a temporary copy of the song split into one track per
// channel, which is what the sequencer's per-track volume and instrument tables assume
// (the player does the same with every song it opens), or, with --no-split, the song
// itself. The temporary copy is removed with this object.
class SongFile {
public:
    SongFile() = default;
    ~SongFile();
    SongFile(const SongFile&) = delete;
    SongFile& operator=(const SongFile&) = delete;

    // Empty on success; otherwise the text to show.
    std::string prepare(const std::string& path, bool noSplit);
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    bool m_temporary = false;
};

// One playing song as the keyboard and the display see it. Holds what the player shows
// (tempo, key, pause) because the sequencer only reports time and position.
class PlaySession {
public:
    enum class Outcome { Continue, Quit };

    PlaySession(const SequencerTable& sequencer, platform::WindowHandle window,
                std::uint16_t division, int tempo, int key);

    // Following the song's tempo map: the tempo keys scale it, the status shows the tempo
    // in effect.
    void followMap(pulsant::TempoMap map) { m_map.emplace(std::move(map)); }

    Outcome handleKey(Key key);
    // Asks the sequencer for time and position; false once the song has ended.
    bool poll();
    std::string statusLine() const;
    // The song position in ticks as last polled.
    std::uint32_t position() const { return m_position; }
    bool paused() const { return m_paused; }

private:
    const SequencerTable& m_sequencer;
    platform::WindowHandle m_window;
    std::uint16_t m_division;
    int m_tempo;
    int m_key;
    bool m_paused = false;
    std::int32_t m_minutes = 0;
    std::int32_t m_seconds = 0;
    std::uint32_t m_position = 0;
    std::optional<pulsant::TempoMap> m_map;
};

}  // namespace cvktool
