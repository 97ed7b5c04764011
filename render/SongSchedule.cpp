#include "SongSchedule.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/messages.h"
#include "platform/mm_timer.h"

namespace render {
namespace {

namespace fs = std::filesystem;

// A folder of its own for the capture file and the settings naming the capture device.
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "cvkrender-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_dir = pattern;
        }
    }
    ~Scratch() {
        std::error_code ignored;
        if (!m_dir.empty()) {
            fs::remove_all(m_dir, ignored);
        }
    }
    bool valid() const { return !m_dir.empty(); }
    std::string path(const char* name) const { return (fs::path(m_dir) / name).string(); }

private:
    std::string m_dir;
};

// Lines "micros,status,data1,data2" (missing data bytes empty), in the order sent. The
// stop's silence (sustain off and all notes off on every channel from channel 0, then the
// offs of the notes still sounding) comes after the song's end and is left out.
std::vector<TimedMessage> readCapture(const std::string& path) {
    std::vector<TimedMessage> messages;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        unsigned long long micros = 0;
        unsigned status = 0, data1 = 0, data2 = 0;
        const int fields = std::sscanf(line.c_str(), "%llu,%u,%u,%u", &micros, &status, &data1, &data2);
        if (fields < 2) {
            continue;
        }
        messages.push_back({micros, (status & 0xFF) | ((data1 & 0xFF) << 8) | ((data2 & 0xFF) << 16)});
    }
    std::size_t end = messages.size();
    for (std::size_t at = 0; at + 1 < messages.size(); ++at) {
        if (messages[at].message == 0x40B0u && messages[at + 1].message == 0x7BB0u) {
            end = at;
        }
    }
    messages.resize(end);
    return messages;
}

}  // namespace

std::variant<std::vector<TimedMessage>, std::string> ScheduleSong(const pulsant::Entries& sequencer,
                                                                 const ScheduleRequest& request) {
    Scratch scratch;
    if (!scratch.valid()) {
        return std::string("no folder for temporary files");
    }
    const std::string capture = scratch.path("capture.csv");
    const std::string settings = scratch.path("settings.ini");
    std::ofstream(settings) << "[Selected midi device]\nDevice name=Capture\n";
    ::setenv("CVK_MIDI_CAPTURE", capture.c_str(), 1);
    platform::setClockMode(platform::ClockMode::Virtual);

    platform::MessageQueue window;
    if (sequencer.CallFollowTempoMapDLL != nullptr) {
        sequencer.CallFollowTempoMapDLL(window.handle(), request.followTempo ? 1 : 0, request.scaleNumerator,
                                        request.scaleDenominator);
    } else if (request.followTempo) {
        return std::string("the sequencer cannot follow a song's tempo map");
    }
    std::uint16_t division = 0;
    const std::int32_t started =
        sequencer.CallStartSong(request.splitFile.c_str(), window.handle(), &division, request.key,
                                request.volumes, request.instruments, request.tempo, settings.c_str());
    if ((started & 0xFF) == 0) {
        ::unsetenv("CVK_MIDI_CAPTURE");
        return std::string("the sequencer could not start the song");
    }
    // The virtual clock runs from one event to the next as fast as it can; the song has
    // ended when it has no time left to give.
    std::int32_t minutes = 0;
    std::int32_t seconds = 0;
    while (sequencer.CallGetTime(window.handle(), &minutes, &seconds) == 1) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        platform::Message ignored;
        while (window.peek(ignored)) {
        }
    }
    sequencer.CallStopSong(window.handle());  // closes the capture file
    ::unsetenv("CVK_MIDI_CAPTURE");
    return readCapture(capture);
}

}  // namespace render
