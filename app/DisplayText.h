#pragma once

// The texts of the left panel's Tempo, Key and Volume displays and the split of a song
// position into bar, beat and tick.

#include <cstdint>
#include <string>

namespace cvkapp {

// Right-aligned in three characters: " 60", "120".
std::string tempoText(int tempo);
std::string volumeText(int volume);
// Sign, octaves and semitones: " 00:00", "+00:05", "-01:02".
std::string keyText(int key);

struct BarBeatTick {
    std::uint32_t bar = 0;
    std::uint32_t beat = 0;
    std::uint32_t tick = 0;
};

// Every bar counts four quarter notes, whatever the song's metre. `division` is not 0.
BarBeatTick barBeatTick(std::uint32_t position, std::uint16_t division);

}  // namespace cvkapp
