#pragma once

#include <optional>
#include <vector>

// Keyboard input for the player: raw keys from a terminal, or plain bytes from a pipe or
// file so that scripts can drive it.
namespace cvktool {

enum class Key { Space, Left, Right, Up, Down, TempoUp, TempoDown, Quit };

// Turns a byte stream into keys. Escape sequences may arrive split over several reads;
// unknown ones are swallowed whole so their tail is not taken for keys.
class KeyDecoder {
public:
    std::optional<Key> feed(unsigned char byte);

private:
    enum class State { Plain, Escape, Sequence };
    State m_state = State::Plain;
};

// Standard input as a key source. On a terminal it switches to raw mode (no echo, no line
// buffering, Ctrl-C as a key) and restores the old mode when destroyed, at exit, and when a
// second stop signal forces the program out.
class KeyboardInput {
public:
    KeyboardInput();
    ~KeyboardInput();
    KeyboardInput(const KeyboardInput&) = delete;
    KeyboardInput& operator=(const KeyboardInput&) = delete;

    // The descriptor to wait on; -1 once standard input has reached its end.
    int fd() const { return m_open ? 0 : -1; }
    // Reads what is waiting (call only when fd() is readable) and appends the keys.
    void read(std::vector<Key>& keys);

private:
    bool m_open = true;
    KeyDecoder m_decoder;
};

// SIGINT, SIGTERM and SIGHUP ask the player to stop; it then stops the song and exits
// normally. A second signal before that happens restores the terminal and exits at once.
void installStopSignals();
bool stopRequested();
// Readable once a stop signal has come, for a wait that must end at once (-1 before
// installStopSignals).
int stopSignalFd();

}  // namespace cvktool
