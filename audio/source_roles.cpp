#include "audio/source_roles.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace audio {
namespace {

constexpr std::size_t kNameMax = 63;

constexpr std::array<std::string_view, 1> kMicrophoneWords = {"mic"};
// What sound card drivers have called the source that records the card's own output.
constexpr std::array<std::string_view, 10> kOutputMixWords = {
    "output mix",  "mixer",     "mixed output", "stereo mix",  "stereo mixer",
    "waveout mix", "mix-record", "all",         "what u here", "stereo out"};

}  // namespace

std::string sourceShortName(SourceRole role) {
    return role == SourceRole::OutputMix ? "Stereo Mix" : "Microphone";
}

std::string sourceName(SourceRole role, const std::string& description) {
    const std::string name = sourceShortName(role) + " (" + description + ")";
    return name.size() <= kNameMax ? name : name.substr(0, kNameMax - 1) + ")";
}

std::span<const std::string_view> roleWords(SourceRole role) {
    if (role == SourceRole::OutputMix) {
        return kOutputMixWords;
    }
    return kMicrophoneWords;
}

bool nameShowsRole(std::string_view name, SourceRole role) {
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::span<const std::string_view> words = roleWords(role);
    return std::any_of(words.begin(), words.end(), [&](std::string_view word) {
        return lower.find(word) != std::string::npos;
    });
}

}  // namespace audio
