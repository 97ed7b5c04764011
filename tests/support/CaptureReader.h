#pragma once

// Reads back what the capture MIDI device recorded: one "time_us,status,data1,data2" line
// per message.

#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

struct Captured {
    std::uint64_t micros = 0;
    int status = 0;
    int data1 = -1;
    int data2 = -1;

    bool isNoteOn() const { return (status & 0xF0) == 0x90 && data2 > 0; }
    int channel() const { return status & 0x0F; }
};

inline std::vector<Captured> readCapture(const std::string& path) {
    std::vector<Captured> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        Captured c;
        std::array<std::string, 4> fields;
        std::stringstream ss(line);
        for (auto& field : fields) {
            std::getline(ss, field, ',');
        }
        c.micros = std::stoull(fields[0]);
        c.status = std::stoi(fields[1]);
        c.data1 = fields[2].empty() ? -1 : std::stoi(fields[2]);
        c.data2 = fields[3].empty() ? -1 : std::stoi(fields[3]);
        out.push_back(c);
    }
    return out;
}

}  // namespace testing_support
