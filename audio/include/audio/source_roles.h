#pragma once

#include <span>
#include <string>
#include <string_view>

#include "audio/export.h"

// Which recording source is a singer's microphone and which records what the speakers
// play (the "stereo mix"), decided here alone: the server's mixer names each source by its
// role, and the mixer library finds a role by the words of that role in a source's name,
// as it would on a sound card whose driver named them.
namespace audio {

enum class SourceRole { Microphone, OutputMix };

// A sink's monitor records what the sink plays; every other source is taken for a
// microphone (a line input records through the same path).
constexpr SourceRole roleOfSource(bool monitorOfSink) {
    return monitorOfSink ? SourceRole::OutputMix : SourceRole::Microphone;
}

// The name a source shows in the mixer: its role's label and the server's description in
// brackets, at most 63 characters.
CVK_AUDIO_API std::string sourceName(SourceRole role, const std::string& description);
// The short name of a source line of that role.
CVK_AUDIO_API std::string sourceShortName(SourceRole role);

// The words by which a source's name shows its role.
CVK_AUDIO_API std::span<const std::string_view> roleWords(SourceRole role);
// Whether the lower-cased name holds one of the role's words.
CVK_AUDIO_API bool nameShowsRole(std::string_view name, SourceRole role);

}  // namespace audio
