#pragma once

// The singers' queue of a karaoke evening: singer — song rows in the order they sing, and
// what happens between two songs. When a song ends, the next row's song opens and a
// countdown shows "Next: SINGER — TITLE"; at its end the song plays. Stop, or a recording
// in progress, holds the queue: nothing opens or plays until the user starts it again.
//
// Pure state, no Qt and no clock of its own: the window feeds it the time that passed and
// the player's events, and carries out the actions it answers, so the whole evening runs
// on a virtual clock in tests.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace library {

struct QueueEntry {
    std::string singer;
    std::string path;
    std::string title;
};

class SingerQueue {
public:
    static constexpr int kDefaultCountdownSeconds = 10;

    // ---- the rows
    const std::vector<QueueEntry>& entries() const { return m_entries; }
    void add(QueueEntry entry);
    // False for a row that does not exist.
    bool remove(std::size_t index);
    // Moves row `from` to stand at `to` (counted after the move); false when either is
    // out of range.
    bool move(std::size_t from, std::size_t to);
    void clear();

    // ---- saving with the settings: one "singer\tpath\ttitle" line per row; a tab or line
    // break inside a field becomes a space. Lines that do not have three fields are left
    // out when read back.
    std::string save() const;
    static SingerQueue load(const std::string& text);

    // ---- between two songs
    enum class Action {
        None,
        Open,  // open opened() (it has left the rows) and show the countdown
        Play,  // the countdown is over: play the song that was opened
    };
    struct Countdown {
        QueueEntry next;
        int secondsLeft = 0;
    };

    int countdownSeconds() const { return m_countdownSeconds; }
    // At least 0 (0: play at once), at most 600.
    void setCountdownSeconds(int seconds);

    // The song playing ended by itself, or Next was pressed: the next row, if any and
    // the queue is not held.
    Action songEnded();
    Action nextPressed();
    // Stop, or a recording started: the countdown stops and nothing more opens.
    void hold();
    bool held() const { return m_held; }
    // The user starts the queue again (Play, or Start in the window): the next row opens
    // when no countdown waits; a countdown that was held goes on.
    Action resume();
    // Time passed on the window's clock. Answers Play once, when the countdown ends.
    Action advance(int milliseconds);
    // The countdown showing, if any.
    std::optional<Countdown> countdown() const;
    // The next row opened: the countdown starts on it.
    const std::optional<QueueEntry>& opened() const { return m_opened; }

private:
    Action openNext();

    std::vector<QueueEntry> m_entries;
    int m_countdownSeconds = kDefaultCountdownSeconds;
    bool m_held = false;
    std::optional<QueueEntry> m_opened;  // opened, waiting for its countdown
    int m_remainingMs = 0;
};

}  // namespace library
