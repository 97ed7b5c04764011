#pragma once

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SmfBuilder.h"
#include "platform/messages.h"
#include "pulsant/pulsant.h"

namespace bench {

struct Sent {
    double micros;
    int status;
    int data1;
    int data2;
};

inline std::vector<Sent> readCapture(const std::string& path) {
    std::vector<Sent> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string field[4];
        for (auto& f : field) {
            std::getline(ss, f, ',');
        }
        out.push_back({std::stod(field[0]), std::stoi(field[1]), field[2].empty() ? -1 : std::stoi(field[2]),
                       field[3].empty() ? -1 : std::stoi(field[3])});
    }
    return out;
}

// A scratch folder with a settings file that selects `device`.
struct Scratch {
    std::string dir;
    std::string ini;
    explicit Scratch(const std::string& device) {
        char pattern[] = "/tmp/cvkbench-XXXXXX";
        dir = mkdtemp(pattern);
        ini = dir + "/settings.ini";
        std::ofstream(ini) << "[Selected midi device]\nDevice name=" << device << "\n";
    }
    ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string write(const std::string& name, const testing_support::ByteVector& bytes) const {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
};

inline bool startSong(const std::string& file, platform::WindowHandle window, const std::string& ini,
                      int tempo) {
    std::array<std::int16_t, 64> volumes{};
    std::array<std::uint16_t, 64> instruments{};
    instruments.fill(255);
    std::uint16_t division = 0;
    return (CallStartSong(file.c_str(), window, &division, 0, volumes.data(), instruments.data(), tempo,
                          ini.c_str()) &
            0xFF) == 1;
}

inline double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace bench
