// From a sung note to its trail: a take file written at the pace of a recording (16-bit
// mono at 22,050 Hz in 20 ms buffers, as the recorder appends them), followed by the
// live analysis; the time from the buffer holding the note's start reaching the file to
// the first sung frame of the note being handed over. The window adds its own poll (up to
// 50 ms) and a frame of drawing (16 ms) on top. Median and worst of ten notes.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "LiveTake.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 22050;
constexpr int kBufferFrames = kRate / 50;  // 20 ms

void put16(std::ofstream& out, std::uint16_t v) { out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>(v >> 8)); }
void put32(std::ofstream& out, std::uint32_t v) { put16(out, v & 0xFFFF); put16(out, static_cast<std::uint16_t>(v >> 16)); }

double oneNote(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("RIFF", 4); put32(out, 0); out.write("WAVEfmt ", 8); put32(out, 18); put16(out, 1); put16(out, 1);
    put32(out, kRate); put32(out, kRate * 2); put16(out, 2); put16(out, 16); put16(out, 0);
    out.write("data", 4); put32(out, 0);
    out.flush();
    pitch::LiveTake live;
    live.start(path);
    const double onset = 0.5;  // seconds of silence before the note
    Clock::time_point noteWritten{};
    std::vector<pitch::PitchFrame> frames;
    const Clock::time_point start = Clock::now();
    for (int buffer = 0; buffer < 75; ++buffer) {
        for (int i = 0; i < kBufferFrames; ++i) {
            const double t = static_cast<double>(buffer * kBufferFrames + i) / kRate;
            const double value = t >= onset ? 0.3 * std::sin(2 * M_PI * 220.0 * t) : 0.0;
            put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(value * 32767)));
        }
        out.flush();
        const double written = static_cast<double>((buffer + 1) * kBufferFrames) / kRate;
        if (written > onset && noteWritten == Clock::time_point{}) {
            noteWritten = Clock::now();
        }
        // Until the next buffer is due, look for the note's first frame every millisecond.
        const Clock::time_point due = start + std::chrono::milliseconds(20 * (buffer + 1));
        while (Clock::now() < due) {
            for (const pitch::PitchFrame& frame : live.take()) {
                if (frame.pitch > 0.0f && frame.seconds >= onset - 0.01 && noteWritten != Clock::time_point{}) {
                    return std::chrono::duration<double, std::milli>(Clock::now() - noteWritten).count();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return -1.0;
}

}  // namespace

int main() {
    const std::string path = std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") +
                             "/trail_latency_" + std::to_string(::getpid()) + ".wav";
    std::vector<double> latencies;
    for (int run = 0; run < 10; ++run) {
        latencies.push_back(oneNote(path));
    }
    std::remove(path.c_str());
    std::sort(latencies.begin(), latencies.end());
    std::printf("note to trail (file and analysis): median %.1f ms, worst %.1f ms (10 notes)\n", latencies[5],
                latencies.back());
    return 0;
}
