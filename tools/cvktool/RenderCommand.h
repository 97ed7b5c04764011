#pragma once

#include <span>
#include <string_view>

namespace cvktool {

// cvktool render SONG|PFC OUT.wav|.flac|.ogg [options]: the song (and a performance's voice)
// rendered to an audio file. 0 written, 1 a fault (a message names it), 2 usage.
int runRender(std::span<const std::string_view> args);

}  // namespace cvktool
