#include "DisplayText.h"

#include <cstdio>
#include <cstdlib>

namespace cvkapp {

namespace {

std::string rightAligned3(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%3d", value);
    return text;
}

}  // namespace

std::string tempoText(int tempo) { return rightAligned3(tempo); }

std::string volumeText(int volume) { return rightAligned3(volume); }

std::string keyText(int key) {
    const int size = std::abs(key);
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", key > 0 ? '+' : key < 0 ? '-' : ' ',
                  size / 12, size % 12);
    return text;
}

BarBeatTick barBeatTick(std::uint32_t position, std::uint16_t division) {
    const std::uint32_t quarters = position / division;
    return {quarters / 4, quarters % 4, position % division};
}

}  // namespace cvkapp
