#pragma once

#include <span>
#include <string_view>

namespace cvktool {

// `cvktool mixer [list | get NAME | set NAME VALUE | select-source K | pass-through
// [--seconds N]]`: what the player's mixer sees. `list` prints every device, line, control
// and source with its value; NAME is "LINE/CONTROL" as `list` prints it ("Speakers/Volume",
// "Microphone/Mute") on the first output device's mixer; VALUE is a number, or "LEFT,RIGHT"
// for a two-channel volume. `select-source K` selects the devices as the player does and
// records from source K. `pass-through` plays the recording source through the speakers
// until a stop signal or N seconds. Lines kept inside the process (Wave, the synthesizer,
// the microphone pass-through) last as long as the command; a stop signal ends it the way
// it ends by itself. 0 on success, 1 on a mixer failure, 2 on a usage error.
int runMixer(std::span<const std::string_view> args);

}  // namespace cvktool
