#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LyricLayout.h"

namespace cvktool {

// The song's lyrics in the terminal: laid out into lines the width of the terminal by the
// lyric box's own layout, following the same song position the window's lyric box follows
// (the sequencer's interpolated tick count).
class TerminalLyrics {
public:
    TerminalLyrics() = default;
    ~TerminalLyrics();
    TerminalLyrics(const TerminalLyrics&) = delete;
    TerminalLyrics& operator=(const TerminalLyrics&) = delete;

    // Scans `splitPath` under the lyric rule of `songPath`'s extension, falling back to the
    // other rule when that finds nothing, as song loading does; lays the lyrics out for
    // `columns` characters. False when the song has no lyrics.
    bool load(const std::string& splitPath, const std::string& songPath, int columns);

    // Moves to `tick`; true when the line or the sung syllable changed.
    bool follow(std::uint32_t tick);

    // The current line with the sung syllable and those before it marked (ANSI colours),
    // or plain for a log; empty before the first line is reached.
    std::string currentLine(bool colour) const;
    // The line after it, for a second row of the display.
    std::string nextLine() const;
    int lineIndex() const { return m_position.line; }
    int lineCount() const { return static_cast<int>(m_lines.size()); }
    std::string lineText(int index) const;
    bool started() const { return m_started; }

private:
    void release();

    songfile::TlyricList* m_list = nullptr;
    std::vector<lyrics::LaidOutLine> m_lines;
    lyrics::LyricPosition m_position;
    bool m_started = false;
};

}  // namespace cvktool
